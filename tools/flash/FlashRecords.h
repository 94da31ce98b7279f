#pragma once
// flash --log: each port's run written to the log of unit records, the same record a station
// writes, before its result is shown.
#include "session/PortSession.h"
#include "station/RecordLog.h"
#include "station/UtcTime.h"

#include <optional>
#include <string>

namespace flash {

class RecordingEvents : public session::SessionEvents {
  public:
    struct Run {
        std::string Package, Md5, Trace;
        std::optional<std::string> Signer;
    };
    RecordingEvents(session::SessionEvents& shown, station::RecordLog& log, Run run);
    // The session whose runs are recorded, and the start of its run.
    void Begin(const session::PortSession& session);
    // Why the last record could not be written; empty when it was.
    const std::string& LogError() const { return Error_; }

    void Start(const std::string& port, const std::string& package, const std::string& md5,
               int blockSize, int blockCount) override {
        Shown.Start(port, package, md5, blockSize, blockCount);
    }
    void Attempt(const std::string& port, int number) override { Shown.Attempt(port, number); }
    void Status(const std::string& port, const std::string& text) override {
        Shown.Status(port, text);
    }
    void Progress(const std::string& port, int block, int blocks, int percent) override {
        Shown.Progress(port, block, blocks, percent);
    }
    void Resend(const std::string& port, int block) override { Shown.Resend(port, block); }
    void Reconnect(const std::string& port, int block, bool ok) override {
        Shown.Reconnect(port, block, ok);
    }
    void Result(const std::string& port, const session::RunReport& report) override;
    void Error(const std::string& text) override { Shown.Error(text); }
    void Verbose(const std::string& text) override { Shown.Verbose(text); }
    void ModemGuard(const std::string& port, const session::ModemGuardNote& note) override {
        Shown.ModemGuard(port, note);
    }

  private:
    session::SessionEvents& Shown;
    station::RecordLog& Log;
    const Run Settings;
    const session::PortSession* Session = nullptr;
    station::SystemTime Started;
    std::string Error_;
};

} // namespace flash
