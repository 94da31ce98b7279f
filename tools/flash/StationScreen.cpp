#include "tools/flash/StationScreen.h"

#include "tools/flash/ModemGuardText.h"
#include "tools/flash/TextFormat.h"

#include <cmath>
#include <cstring>

namespace flash {

namespace {

std::string ClockText(double seconds) {
    const long total = long(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", total / 3600, total / 60 % 60,
                  total % 60);
    return text;
}

} // namespace

StationScreen::StationScreen(ScreenKind kind, std::FILE* out, std::FILE* err,
                             std::vector<std::string> slotNames, PackageLine package)
    : Kind(kind), Out(out), Err(err), Package(std::move(package)),
      Started(std::chrono::steady_clock::now()) {
    for (std::string& name : slotNames) {
        SlotLine line;
        line.Name = std::move(name);
        Lines.push_back(std::move(line));
    }
}

StationScreen::~StationScreen() {
    {
        std::lock_guard<std::mutex> guard(Lock);
        Ended = true;
    }
    Woken.notify_all();
    if (Timer.joinable()) Timer.join();
}

double StationScreen::Elapsed() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - Started).count();
}

StationScreen::SlotLine* StationScreen::Find(const std::string& slot) {
    for (SlotLine& line : Lines)
        if (line.Name == slot) return &line;
    return nullptr;
}

void StationScreen::Begin() {
    std::lock_guard<std::mutex> guard(Lock);
    if (Kind == ScreenKind::Json) return;
    std::fprintf(Out, "%s  MD5 %s  %s\n", Package.Path.c_str(), Package.Md5.c_str(),
                 Package.Info.c_str());
    std::fflush(Out);
    if (Kind != ScreenKind::Terminal) return;
    Redraw();
    Timer = std::thread([this] { Ticker(); });
}

void StationScreen::Ticker() {
    std::unique_lock<std::mutex> lock(Lock);
    while (!Ended) {
        Woken.wait_for(lock, std::chrono::seconds(1));
        if (!Ended) Redraw();
    }
}

std::string StationScreen::LineText(const SlotLine& line) const {
    std::string state = line.State;
    if (line.Percent >= 0)
        state = "upgrading " + Bar(line.Percent, 20) + Format(" %3.0f%%", line.Percent);
    std::string text = PadColumns(line.Name, 12) + PadColumns(state, 40) + PadColumns(line.Id, 18);
    if (line.Busy)
        text += Format(
            "%6.1f s",
            std::chrono::duration<double>(std::chrono::steady_clock::now() - line.Since).count());
    return text;
}

std::string StationScreen::Footer() const {
    const double elapsed = Elapsed();
    const int units = Counts.Units();
    return "passed " + std::to_string(Counts.Passed) + "  failed " + std::to_string(Counts.Failed) +
           "  first-pass yield " +
           (Counts.DistinctUnits() ? Format("%.1f %%", Counts.FirstPassYield() * 100) : "-") +
           "  units/h " + Format("%.1f", elapsed > 0 ? units * 3600 / elapsed : 0) + "  time " +
           ClockText(elapsed) + (HasDb ? "  " + DatabaseText(Db) : std::string());
}

void StationScreen::DatabaseStatus(const station::ForwardStatus& status) {
    std::lock_guard<std::mutex> guard(Lock);
    const bool first = !HasDb;
    const bool reasonChanged = first ? !status.Reason.empty() : status.Reason != Db.Reason;
    const bool countChanged = first || status.Pending != Db.Pending;
    HasDb = true;
    Db = status;
    if (Ended) return;
    if (Kind == ScreenKind::Json) {
        Event("", "db",
              {{"pending", status.Pending},
               {"sent", status.Sent},
               {"already_there", status.AlreadyThere},
               {"connected", status.Connected},
               {"reason", status.Reason.empty() ? Json(nullptr) : Json(status.Reason)}},
              "");
    } else if (Kind == ScreenKind::Lines) {
        if (reasonChanged || (DbVerbose && countChanged))
            Event("", "db", Json::object(), DatabaseText(status));
    } else {
        Redraw();
    }
}

void StationScreen::Redraw() {
    if (Kind != ScreenKind::Terminal || Ended) return;
    if (Drawn > 0) std::fprintf(Out, "\x1b[%dA", Drawn);
    for (const SlotLine& line : Lines)
        std::fprintf(Out, "\r\x1b[2K%s\n", LineText(line).c_str());
    std::fprintf(Out, "\r\x1b[2K%s\n", Footer().c_str());
    Drawn = int(Lines.size()) + 1;
    std::fflush(Out);
}

void StationScreen::Event(const std::string& slot, const char* event, const Json& fields,
                          const std::string& text) {
    if (Kind == ScreenKind::Json) {
        Json object = {{"slot", slot.empty() ? Json(nullptr) : Json(slot)},
                       {"event", event},
                       {"t", Milliseconds(Elapsed())}};
        for (const auto& [name, value] : fields.items())
            object[name] = value;
        std::fprintf(Out, "%s\n",
                     object.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
        std::fflush(Out);
    } else if (Kind == ScreenKind::Lines) {
        if (text.empty()) return;
        if (Quiet && std::strcmp(event, "result") != 0 && std::strcmp(event, "out-of-service") != 0)
            return;
        std::fprintf(Out, "%s %s%s%s\n", Format("[%8.1f]", Elapsed()).c_str(), slot.c_str(),
                     slot.empty() ? "" : ": ", text.c_str());
        std::fflush(Out);
    } else {
        Redraw();
    }
}

void StationScreen::Note(const std::string& text) {
    std::lock_guard<std::mutex> guard(Lock);
    if (Kind == ScreenKind::Terminal && Drawn > 0 && !Ended) {
        std::fprintf(Out, "\x1b[%dA\r\x1b[J%s\n", Drawn, text.c_str());
        Drawn = 0;
        Redraw();
    } else {
        std::fprintf(Err, "%s\n", text.c_str());
        std::fflush(Err);
    }
}

void StationScreen::Summary(int passed, int failed, int units, double firstPassYield) {
    std::lock_guard<std::mutex> guard(Lock);
    if (Kind == ScreenKind::Json) {
        Event("", "summary",
              {{"passed", passed},
               {"failed", failed},
               {"units", units},
               {"first_pass_yield", Milliseconds(firstPassYield)}},
              "");
        Ended = true;
        return;
    }
    Redraw();
    Ended = true;
    if (Kind == ScreenKind::Lines) std::fprintf(Out, "%s\n", Footer().c_str());
    std::fflush(Out);
}

void StationScreen::Waiting(const std::string& slot) {
    std::lock_guard<std::mutex> guard(Lock);
    if (SlotLine* line = Find(slot)) {
        SlotLine fresh;
        fresh.Name = line->Name;
        *line = fresh;
    }
    Event(slot, "waiting", Json::object(), "waiting for a unit");
}

void StationScreen::Busy(const std::string& slot, const std::string& device) {
    std::lock_guard<std::mutex> guard(Lock);
    if (SlotLine* line = Find(slot)) {
        line->State = "busy (" + device + " held by another program)";
        line->Percent = -1;
    }
    Event(slot, "busy", {{"device", device}}, "busy: " + device + " is held by another program");
}

void StationScreen::Found(const std::string& slot, const station::FoundUnit& unit) {
    std::lock_guard<std::mutex> guard(Lock);
    if (SlotLine* line = Find(slot)) {
        line->State = unit.InLoader ? "found in its loader" : "found";
        line->Id = unit.Id.value_or("");
        line->Busy = true;
        line->Since = std::chrono::steady_clock::now();
    }
    const Json id = unit.Id ? Json(*unit.Id) : Json(nullptr);
    const Json version = unit.Version ? Json(*unit.Version) : Json(nullptr);
    Event(slot, "found",
          {{"id", id}, {"version", version}, {"loader", unit.InLoader}, {"device", unit.Device}},
          unit.InLoader ? "found a unit in its loader on " + unit.Device
                        : "found " + (unit.Id && !unit.Id->empty() ? *unit.Id : "a unit") + " (" +
                              unit.Version.value_or("") + ") on " + unit.Device);
}

void StationScreen::Start(const std::string& slot, const std::string& package,
                          const std::string& md5, int blockSize, int blocks) {
    std::lock_guard<std::mutex> guard(Lock);
    if (SlotLine* line = Find(slot)) {
        line->State = "upgrading";
        line->Percent = 0;
        line->Tenths = 0;
    }
    Event(slot, "start",
          {{"package", package}, {"md5", md5}, {"block_size", blockSize}, {"blocks", blocks}},
          "upgrading");
}

void StationScreen::Attempt(const std::string& slot, int number) {
    std::lock_guard<std::mutex> guard(Lock);
    Event(slot, "attempt", {{"attempt", number}},
          number > 1 ? "attempt " + std::to_string(number) + " of 3" : "");
}

void StationScreen::Status(const std::string& slot, const std::string& text) {
    std::lock_guard<std::mutex> guard(Lock);
    Event(slot, "status", {{"text", text}}, "");
}

void StationScreen::Progress(const std::string& slot, int block, int blocks, int percent) {
    std::lock_guard<std::mutex> guard(Lock);
    std::string text;
    if (SlotLine* line = Find(slot)) {
        line->Percent = percent;
        if (percent / 10 > line->Tenths) {
            line->Tenths = percent / 10;
            text = Format("%3.0f%%", percent);
        }
    }
    Event(slot, "progress", {{"block", block}, {"blocks", blocks}, {"percent", percent}}, text);
}

void StationScreen::Resend(const std::string& slot, int block) {
    std::lock_guard<std::mutex> guard(Lock);
    Event(slot, "resend", {{"block", block}}, "block " + std::to_string(block) + " sent again");
}

void StationScreen::Reconnect(const std::string& slot, int block, bool ok) {
    std::lock_guard<std::mutex> guard(Lock);
    Event(slot, "reconnect", {{"block", block}, {"ok", ok}},
          ok ? "the port came back after a drop during block " + std::to_string(block)
             : "the port did not come back");
}

void StationScreen::Verify(const std::string& slot) {
    std::lock_guard<std::mutex> guard(Lock);
    if (SlotLine* line = Find(slot)) {
        line->State = "verifying";
        line->Percent = -1;
    }
    Event(slot, "verify", Json::object(), "verifying");
}

void StationScreen::Result(const std::string& slot, const station::UnitRecord& record,
                           const std::string& logError) {
    std::lock_guard<std::mutex> guard(Lock);
    Counts.Add(record.Id.value_or(""), record.Ok);
    const std::string id = record.Id.value_or("");
    std::string text = record.Ok ? "passed" : "failed: " + record.Message;
    if (record.Ok && record.Repeat) text += " (repeat)";
    if (!logError.empty()) text += " [NOT RECORDED: " + logError + "]";
    if (SlotLine* line = Find(slot)) {
        line->State = text;
        line->Percent = -1;
        line->Busy = false;
    }
    Json fields = station::RecordToJson(record);
    if (!logError.empty()) fields["log_error"] = logError;
    std::string shown = text;
    if (!id.empty()) shown += "  " + id;
    if (record.VersionBefore || record.VersionAfter)
        shown +=
            "  " + record.VersionBefore.value_or("?") + " -> " + record.VersionAfter.value_or("?");
    shown += Format("  %.1f s", record.Seconds);
    Event(slot, "result", fields, shown);
}

void StationScreen::RemoveUnit(const std::string& slot) {
    std::lock_guard<std::mutex> guard(Lock);
    if (SlotLine* line = Find(slot)) line->State += " - remove the unit";
    if (Kind != ScreenKind::Json) Event(slot, "remove", Json::object(), "remove the unit");
}

void StationScreen::Removed(const std::string& slot) {
    std::lock_guard<std::mutex> guard(Lock);
    Event(slot, "removed", Json::object(), "unit removed");
}

void StationScreen::OutOfService(const std::string& slot, const std::string& reason) {
    std::lock_guard<std::mutex> guard(Lock);
    if (SlotLine* line = Find(slot)) {
        line->State = "OUT OF SERVICE: " + reason;
        line->Percent = -1;
        line->Busy = false;
    }
    Event(slot, "out-of-service", {{"message", reason}}, "OUT OF SERVICE: " + reason);
}

void StationScreen::LogFailed(const std::string& reason) {
    if (Kind == ScreenKind::Json) {
        std::lock_guard<std::mutex> guard(Lock);
        Event("", "log-failed", {{"message", reason}}, "");
    }
    Note("tolvane-flash: the log cannot be written, no further unit is taken: " + reason);
}

// As the slot's other errors: the warning under the slot's name, no -v lines.
void StationScreen::ModemGuard(const std::string& slot, const session::ModemGuardNote& note) {
    if (const std::string warning = ModemGuardWarningOnce(note); !warning.empty())
        Message(slot + ": " + warning);
}

void StationScreen::Message(const std::string& text) {
    Note(text);
}

} // namespace flash
