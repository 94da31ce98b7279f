#pragma once
// What tolvane-flash tells the user: progress and messages on standard error (redrawn in place on
// a terminal, a line at each tenth of the way otherwise), one result line per port on standard
// output, or JSON Lines on standard output instead. Safe to call from every port's thread.
#include "session/SessionEvents.h"

#include <nlohmann/json_fwd.hpp>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace flash {

using session::ExitStatus;
using session::RunReport;
using session::StatusCode;

struct ReporterMode {
    bool Json = false;
    bool Quiet = false;
    bool Verbose = false;
    bool Terminal = false; // standard error is a terminal
};

// The fields of a JSON object in the order they are written.
using JsonFields = nlohmann::ordered_json;

class Reporter : public session::SessionEvents {
  public:
    Reporter(ReporterMode mode, std::FILE* out, std::FILE* err);

    // Seconds since the reporter was made (the "t" of every JSON object).
    double Elapsed() const;
    // The ports, in command-line order, each with a line of its own on a terminal.
    void AddPort(const std::string& port);

    void Start(const std::string& port, const std::string& package, const std::string& md5,
               int blockSize, int blockCount) override;
    void Attempt(const std::string& port, int number) override;
    void Status(const std::string& port, const std::string& text) override;
    void Progress(const std::string& port, int block, int blocks, int percent) override;
    void Resend(const std::string& port, int block) override;
    void Result(const std::string& port, const RunReport& report) override;
    // An error or warning line for a person, on standard error (shown even with --quiet).
    void Error(const std::string& text) override;
    // A line on standard error for -v only.
    void Verbose(const std::string& text) override;
    void ModemGuard(const std::string& port, const session::ModemGuardNote& note) override;
    // One JSON object or one line of text on standard output, for the commands that print a
    // single answer.
    void JsonObject(const JsonFields& object);
    // A port's event as JSON: "port", "event" and "t", then the fields.
    void JsonEvent(const std::string& port, const char* event, const JsonFields& fields);
    void Print(const std::string& text);

  private:
    struct PortLine {
        std::string Port;
        std::string Text;
        int Tenths = -1; // last tenth reported (off a terminal)
        int Block = 0, Blocks = 0, Percent = 0, Resends = 0;
    };
    PortLine* Find(const std::string& port);
    void Event(const std::string& port, const char* event, const JsonFields& fields);
    void WriteJson(const JsonFields& object);
    // A message line above the in-place lines.
    void Note(const std::string& text);
    void Redraw();
    void Refresh(PortLine& line, const std::string& tail);

    const ReporterMode Mode;
    std::FILE* const Out;
    std::FILE* const Err;
    const std::chrono::steady_clock::time_point Started;
    std::mutex Lock;
    std::vector<PortLine> Lines;
    int Drawn = 0; // in-place lines now on the terminal
};

} // namespace flash
