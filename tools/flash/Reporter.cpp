#include "tools/flash/Reporter.h"

#include <cinttypes>

namespace flash {

namespace {

std::string Format(const char* format, double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

std::string Bar(int percent) {
    constexpr int Width = 24;
    const int filled = percent * Width / 100;
    std::string bar(size_t(Width + 2), '.');
    bar.front() = '[';
    bar.back() = ']';
    bar.replace(1, size_t(filled), size_t(filled), '#');
    return bar;
}

} // namespace

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                out += escape;
            } else {
                out += char(c);
            }
        }
    }
    return out + "\"";
}

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

void Reporter::Event(const std::string& port, const char* event, const std::string& fields) {
    if (!Mode.Json) return;
    std::fprintf(Out, "{\"port\":%s,\"event\":\"%s\",\"t\":%.3f%s%s}\n", JsonString(port).c_str(),
                 event, Elapsed(), fields.empty() ? "" : ",", fields.c_str());
    std::fflush(Out);
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
    line.Text = line.Port + "  " + Bar(line.Percent) + " " + Format("%3.0f%%", line.Percent) +
                "  block " + std::to_string(line.Block) + " of " + std::to_string(line.Blocks) +
                "  resends " + std::to_string(line.Resends) + "  " + Format("%.1f s", Elapsed()) +
                tail;
    Redraw();
}

void Reporter::Start(const std::string& port, const std::string& package, const std::string& md5,
                     int blockSize, int blockCount) {
    std::lock_guard<std::mutex> guard(Lock);
    Event(port, "start",
          "\"package\":" + JsonString(package) + ",\"md5\":" + JsonString(md5) +
              ",\"block_size\":" + std::to_string(blockSize) +
              ",\"blocks\":" + std::to_string(blockCount));
    if (PortLine* line = Find(port)) {
        line->Blocks = blockCount;
        if (Mode.Terminal) Refresh(*line, "  starting");
    }
}

void Reporter::Attempt(const std::string& port, int number) {
    std::lock_guard<std::mutex> guard(Lock);
    Event(port, "attempt", "\"attempt\":" + std::to_string(number));
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
    Event(port, "status", "\"text\":" + JsonString(text));
    if (Mode.Verbose && !Mode.Quiet) Note(port + ": " + text);
}

void Reporter::Progress(const std::string& port, int block, int blocks, int percent) {
    std::lock_guard<std::mutex> guard(Lock);
    Event(port, "progress",
          "\"block\":" + std::to_string(block) + ",\"blocks\":" + std::to_string(blocks) +
              ",\"percent\":" + std::to_string(percent));
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
    Event(port, "resend", "\"block\":" + std::to_string(block));
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
        line->Text = port + "  " + Bar(line->Percent) + " " + r.Message + "  " + counts;
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
              std::string("\"ok\":") + (r.Ok ? "true" : "false") +
                  ",\"code\":" + std::to_string(r.Code) + ",\"message\":" + JsonString(r.Message) +
                  ",\"seconds\":" + Format("%.3f", r.Seconds) + ",\"frames\":" +
                  std::to_string(r.Frames) + ",\"resends\":" + std::to_string(r.Resends));
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

void Reporter::JsonObject(const std::string& fields) {
    std::lock_guard<std::mutex> guard(Lock);
    std::fprintf(Out, "{%s}\n", fields.c_str());
    std::fflush(Out);
}

void Reporter::Print(const std::string& text) {
    std::lock_guard<std::mutex> guard(Lock);
    std::fprintf(Out, "%s\n", text.c_str());
    std::fflush(Out);
}

} // namespace flash
