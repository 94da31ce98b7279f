#pragma once
// A view that keeps everything the dialogue shows, in order, as short lines a test can compare:
// "status 收到应答", "alert ...", "button run", "controls off", "hide", "attempt 2",
// "progress 3/5 60%", "resend 3", "result ok".

#include "dialogue/DialogueSeams.h"

#include <string>
#include <vector>

namespace tolvane::test {

class RecordingView : public DialogueView {
  public:
    void ShowStatus(const std::string& text) override { Add("status " + text); }
    void Sent(int32_t bytes) override { BytesSent += bytes; }
    void Received(int32_t bytes) override {
        BytesReceived += bytes;
        ++Notifications;
    }
    void Alert(const std::string& text) override { Add("alert " + text); }
    void RunButton(bool running) override { Add(running ? "button stop" : "button start"); }
    void RunControls(bool enabled) override { Add(enabled ? "controls on" : "controls off"); }
    void HideRunResult() override { Add("hide"); }
    void Attempt(int number) override { Add("attempt " + std::to_string(number)); }
    void Progress(int block, int blocks, int percent) override {
        Add("progress " + std::to_string(block) + "/" + std::to_string(blocks) + " " +
            std::to_string(percent) + "%");
    }
    void Resend(int block) override { Add("resend " + std::to_string(block)); }
    void RunResult(bool ok) override { Add(ok ? "result ok" : "result failed"); }

    // The lines that begin with prefix ("status ", "progress "), prefix removed.
    std::vector<std::string> Only(const std::string& prefix) const;
    int Count(const std::string& line) const;
    std::string LastStatus() const;

    std::vector<std::string> Lines;
    int64_t BytesSent = 0;
    int64_t BytesReceived = 0;
    int Notifications = 0;

  private:
    void Add(std::string line) { Lines.push_back(std::move(line)); }
};

} // namespace tolvane::test
