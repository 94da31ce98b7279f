#include "tools/flash/Reporter.h"

#include "tools/flash/ModemGuardText.h"
#include "tools/flash/TextFormat.h"

#include <nlohmann/json.hpp>

namespace flash {

Reporter::Reporter(ReporterMode mode, std::FILE* out, std::FILE* err)
    : Mode(mode), Out(out), Err(err), Started(std::chrono::steady_clock::now()) {}

double Reporter::Elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - Started).count();
}

void Reporter::AddPort(const std::string& port) {
    std::lock_guard<std::mutex> guard(Lock);
    Lines.push_back({port, port + "  waiting", -1});
}

Reporter::PortLine* Reporter::Find(const std::string& port) {
    for (PortLine& line : Lines)
        if (line.Port == port) return &line;
    return nullptr;
}

void Reporter::WriteJson(const JsonFields& object) {
    // Text that is not UTF-8 (a path's bytes on Linux) cannot go into JSON as it is.
    const std::string line = object.dump(-1, ' ', false, JsonFields::error_handler_t::replace);
    std::fprintf(Out, "%s\n", line.c_str());
    std::fflush(Out);
}

void Reporter::Event(const std::string& port, const char* event, const JsonFields& fields) {
    if (!Mode.Json) return;
    JsonFields object = {{"port", port}, {"event", event}, {"t", Milliseconds(Elapsed())}};
    for (const auto& [name, value] : fields.items())
        object[name] = value;
    WriteJson(object);
}

void Reporter::Redraw() {
    if (!Mode.Terminal || Mode.Quiet) return;
    if (Drawn > 0) std::fprintf(Err, "\x1b[%dA", Drawn);
    for (const PortLine& line : Lines)
        std::fprintf(Err, "\r\x1b[2K%s\n", line.Text.c_str());
    Drawn = int(Lines.size());
    std::fflush(Err);
}

void Reporter::Note(const std::string& text) {
    if (Mode.Terminal && Drawn > 0) {
        std::fprintf(Err, "\x1b[%dA\r\x1b[2K%s\n", Drawn, text.c_str());
        Drawn = 0;
        Redraw();
    } else {
        std::fprintf(Err, "%s\n", text.c_str());
        std::fflush(Err);
    }
}

void Reporter::Refresh(PortLine& line, const std::string& tail) {
    line.Text = line.Port + "  " + Bar(line.Percent, 24) + " " + Format("%3.0f%%", line.Percent) +
                "  block " + std::to_string(line.Block) + " of " + std::to_string(line.Blocks) +
                "  resends " + std::to_string(line.Resends) + "  " + Format("%.1f s", Elapsed()) +
                tail;
    Redraw();
}

void Reporter::Start(const std::string& port, const std::string& package, const std::string& md5,
                     int blockSize, int blockCount) {
    std::lock_guard<std::mutex> guard(Lock);
    Event(port, "start",
          {{"package", package}, {"md5", md5}, {"block_size", blockSize}, {"blocks", blockCount}});
    if (PortLine* line = Find(port)) {
        line->Blocks = blockCount;
        if (Mode.Terminal) Refresh(*line, "  starting");
    }
}

void Reporter::Attempt(const std::string& port, int number) {
    std::lock_guard<std::mutex> guard(Lock);
    Event(port, "attempt", {{"attempt", number}});
    if (Mode.Quiet) return;
    const std::string text = "attempt " + std::to_string(number) + " of 3";
    PortLine* line = Find(port);
    if (Mode.Terminal && line)
        Refresh(*line, "  " + text);
    else if (!Mode.Terminal)
        Note(port + ": " + text);
}

void Reporter::Status(const std::string& port, const std::string& text) {
    std::lock_guard<std::mutex> guard(Lock);
    Event(port, "status", {{"text", text}});
    if (Mode.Verbose && !Mode.Quiet) Note(port + ": " + text);
}

void Reporter::Progress(const std::string& port, int block, int blocks, int percent) {
    std::lock_guard<std::mutex> guard(Lock);
    Event(port, "progress", {{"block", block}, {"blocks", blocks}, {"percent", percent}});
    PortLine* line = Find(port);
    if (!line || Mode.Quiet) return;
    line->Block = block;
    line->Blocks = blocks;
    line->Percent = percent;
    if (Mode.Terminal) {
        Refresh(*line, "");
    } else if (percent / 10 > line->Tenths) {
        line->Tenths = percent / 10;
        Refresh(*line, "");
        Note(line->Text);
    }
}

void Reporter::Resend(const std::string& port, int block) {
    std::lock_guard<std::mutex> guard(Lock);
    Event(port, "resend", {{"block", block}});
    if (PortLine* line = Find(port)) {
        ++line->Resends;
        if (Mode.Terminal && !Mode.Quiet) Refresh(*line, "");
    }
}

void Reporter::Result(const std::string& port, const RunReport& r) {
    std::lock_guard<std::mutex> guard(Lock);
    const std::string counts = Format("%.2f s", r.Seconds) + ", " + std::to_string(r.Frames) +
                               " frames, " + std::to_string(r.Resends) + " resends";
    if (PortLine* line = Find(port)) {
        if (r.Ok) line->Percent = 100;
        line->Text = port + "  " + Bar(line->Percent, 24) + " " + r.Message + "  " + counts;
    }
    // Standard output may share the terminal: the result goes above the in-place lines, which
    // are then drawn anew below it.
    if (Mode.Terminal && Drawn > 0) {
        std::fprintf(Err, "\x1b[%dA\r\x1b[J", Drawn);
        std::fflush(Err);
        Drawn = 0;
    }
    if (Mode.Json) {
        Event(port, "result",
              {{"ok", r.Ok},
               {"code", StatusCode(r.Code)},
               {"message", r.Message},
               {"seconds", Milliseconds(r.Seconds)},
               {"frames", r.Frames},
               {"resends", r.Resends}});
    } else {
        std::fprintf(Out, "%s: %s (%s)\n", port.c_str(), r.Message.c_str(), counts.c_str());
        std::fflush(Out);
    }
    Redraw();
}

void Reporter::Error(const std::string& text) {
    std::lock_guard<std::mutex> guard(Lock);
    Note(text);
}

void Reporter::Verbose(const std::string& text) {
    std::lock_guard<std::mutex> guard(Lock);
    if (Mode.Verbose && !Mode.Quiet) Note(text);
}

void Reporter::ModemGuard(const std::string& port, const session::ModemGuardNote& note) {
    if (const std::string detail = ModemGuardDetail(port, note); !detail.empty()) Verbose(detail);
    if (const std::string warning = ModemGuardWarningOnce(note); !warning.empty()) Error(warning);
}

void Reporter::JsonObject(const JsonFields& object) {
    std::lock_guard<std::mutex> guard(Lock);
    WriteJson(object);
}

void Reporter::JsonEvent(const std::string& port, const char* event, const JsonFields& fields) {
    std::lock_guard<std::mutex> guard(Lock);
    Event(port, event, fields);
}

void Reporter::Print(const std::string& text) {
    std::lock_guard<std::mutex> guard(Lock);
    std::fprintf(Out, "%s\n", text.c_str());
    std::fflush(Out);
}

} // namespace flash
