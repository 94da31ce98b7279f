// A slot's loop: wait for a unit, identify it, upgrade it, verify it, record it, wait until it
// is taken away; out of service after too many failed units in a row.
#include "station/Slot.h"

#include "base/GbkText.h"
#include "base/PlainText.h"
#include "station/RunRecord.h"
#include "station/UtcTime.h"

#include <filesystem>

namespace station {

namespace {

using TimePoint = SlotClock::TimePoint;

// The device's text without its line ends, as UTF-8.
std::string Shown(const std::string& text) {
    return WithoutLineEnds(DeviceTextToUtf8(text));
}

// A piece of a file name: letters, digits, '-' and '.'; anything else becomes '_'.
std::string FileNamePiece(const std::string& text) {
    std::string out;
    for (unsigned char c : text)
        out += std::isalnum(c) || c == '-' || c == '.' ? char(c) : '_';
    return out.empty() ? "_" : out;
}

std::chrono::milliseconds Until(TimePoint due, TimePoint now) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(due - now);
}

} // namespace

Slot::Slot(Station& station, SlotSetup setup, const SlotPortMaker& ports)
    : Owner(station), Setup(std::move(setup)), Port(ports(Setup, *this)) {}

Slot::~Slot() {
    Join();
}

void Slot::Start() {
    Thread = std::thread([this] { Loop(); });
}

void Slot::Join() {
    if (Thread.joinable()) Thread.join();
}

void Slot::Loop() {
    const StationSettings& settings = Owner.Settings;
    int failuresInRow = 0;
    for (;;) {
        Unit unit;
        if (!WaitForUnit(unit)) break;
        UnitRecord record = Process(unit);
        std::string error;
        Owner.Record(record, error);
        LastUnitCode = session::ExitStatus(record.Code);
        Owner.View.Result(Setup.Name, record, error);
        if (settings.Once || Owner.Aborting) break;
        failuresInRow = record.Ok ? 0 : failuresInRow + 1;
        if (settings.MaxSlotFailures > 0 && failuresInRow >= settings.MaxSlotFailures) {
            const std::string reason = std::to_string(failuresInRow) +
                                       " failed units in a row (last: " + record.Message +
                                       "); check the slot's contacts and cable";
            OutOfServiceEvent event;
            event.Time = IsoUtc(Owner.Time.WallNow());
            event.Host = Owner.Host;
            event.Slot = Setup.Name;
            event.Port = Setup.Port;
            event.Failures = failuresInRow;
            event.Message = reason;
            Owner.RecordLine(OutOfServiceLine(event), error);
            Owner.View.OutOfService(Setup.Name, reason);
            break;
        }
        if (!Owner.TakesUnits()) break;
        Owner.View.RemoveUnit(Setup.Name);
        WaitForRemoval();
        if (Owner.Stopping) break;
        Owner.View.Removed(Setup.Name);
    }
    Port->Close();
}

bool Slot::WaitForUnit(Unit& unit) {
    enum class Showing { Nothing, Waiting, Busy } shown = Showing::Nothing;
    for (;;) {
        if (!Owner.TakesUnits()) return false;
        const auto cycle = Owner.Time.Now();
        std::string device;
        if (!Port->Present(&device)) {
            if (shown != Showing::Waiting) Owner.View.Waiting(Setup.Name);
            shown = Showing::Waiting;
        } else if (session::RunReport report; !Port->Open(report)) {
            if (Port->Interrupted()) return false;
            if (shown != Showing::Busy) Owner.View.Busy(Setup.Name, device);
            shown = Showing::Busy;
        } else {
            FoundUnit found;
            const bool answered = Probe(found);
            if (answered && Owner.TakesUnits()) {
                unit.Found = found;
                unit.Started = Owner.Time.WallNow();
                Port->Close();
                return true;
            }
            Port->Close();
            if (Port->Interrupted()) return false;
            if (shown != Showing::Waiting) Owner.View.Waiting(Setup.Name);
            shown = Showing::Waiting;
        }
        const auto due = cycle + Owner.Settings.ProbeInterval;
        const auto now = Owner.Time.Now();
        if (now < due && !Owner.Pause(Until(due, now))) return false;
    }
}

bool Slot::Probe(FoundUnit& unit) {
    unit = FoundUnit{};
    unit.Device = Port->Device();
    std::string version;
    const session::AskOutcome asked = Port->AskVersion(version);
    if (asked == session::AskOutcome::Stopped) return false;
    if (asked == session::AskOutcome::Answered) {
        unit.Version = Shown(version);
        if (!Owner.Settings.IdCommand.empty()) {
            std::string reply;
            const session::AskOutcome id = Port->AskText(Owner.Settings.IdCommand, reply);
            if (id == session::AskOutcome::Stopped) return false;
            unit.Id = id == session::AskOutcome::Answered ? IdentityFromReply(Shown(reply)) : "";
        }
        return true;
    }
    // A unit left in its loader by an earlier failed upgrade answers the handshake only.
    unit.InLoader = Port->PingLoader();
    return unit.InLoader;
}

std::unique_ptr<session::Trace> Slot::OpenTrace(const Unit& unit, std::string& path) {
    const std::string& dir = Owner.Settings.TraceDir;
    if (dir.empty()) return nullptr;
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    path = dir + "/" + CompactUtc(unit.Started) + "_" + FileNamePiece(Setup.Name) + "_" +
           FileNamePiece(unit.Found.Id.value_or("")) + ".trace";
    auto trace = std::make_unique<session::Trace>();
    if (!trace->Open(path)) {
        Owner.View.Message(Setup.Name + ": cannot write the trace " + path);
        path.clear();
        return nullptr;
    }
    return trace;
}

UnitRecord Slot::Process(const Unit& unit) {
    const StationSettings& settings = Owner.Settings;
    const auto started = Owner.Time.Now();
    UnitContext context;
    context.Started = unit.Started;
    context.Host = Owner.Host;
    context.Slot = Setup.Name;
    context.Port = Setup.Port;
    context.Device = unit.Found.Device;
    context.Id = unit.Found.Id;
    context.VersionBefore = unit.Found.Version;
    context.Package = settings.PackagePath;
    context.Md5 = settings.Md5;
    context.Signer = settings.Signer;
    context.Lot = settings.Lot;
    context.Operator = settings.Operator;
    Owner.View.Found(Setup.Name, unit.Found);

    std::string tracePath;
    std::unique_ptr<session::Trace> trace = OpenTrace(unit, tracePath);
    if (trace) context.Trace = tracePath;
    Port->SetTrace(trace.get());

    const session::RunReport report = Port->Flash(settings.PackagePath, settings.Md5);
    UnitRecord record =
        RecordOfRun(context, report, session::RunStageName(Port->Stage()), Port->Reconnects());
    if (report.Ok) {
        record.Stage = session::RunStageName(session::RunStage::Verify);
        Owner.View.Verify(Setup.Name);
        std::string after;
        switch (Verify(after)) {
        case VerifyOutcome::Answered:
            record.VersionAfter = Shown(after);
            if (!settings.ExpectVersion.empty() &&
                record.VersionAfter->find(settings.ExpectVersion) == std::string::npos) {
                record.Ok = false;
                record.Code = session::StatusCode(session::ExitStatus::UpgradeFailed);
                record.Message = "升级失败 (the version after does not contain \"" +
                                 settings.ExpectVersion + "\")";
            } else {
                record.Stage = session::RunStageName(session::RunStage::Done);
            }
            break;
        case VerifyOutcome::NoAnswer:
            record.Ok = false;
            record.Code = session::StatusCode(session::ExitStatus::NoAnswer);
            record.Message = "读/写超时！ (no version within " +
                             std::to_string(int(settings.BootTimeoutSeconds)) +
                             " s after the transfer)";
            break;
        case VerifyOutcome::Stopped:
            record.Ok = false;
            record.Code = session::StatusCode(session::ExitStatus::Interrupted);
            record.Message = "stopped";
            break;
        }
    }
    Port->SetTrace(nullptr);
    record.End = IsoUtc(Owner.Time.WallNow());
    record.Seconds = std::chrono::duration<double>(Owner.Time.Now() - started).count();
    return record;
}

bool Slot::EnsureOpen() {
    if (Port->IsPortOpen() && !Port->Vanished()) return true;
    Port->Close();
    session::RunReport report;
    return Port->Open(report);
}

Slot::VerifyOutcome Slot::Verify(std::string& version) {
    const auto due =
        Owner.Time.Now() + std::chrono::duration_cast<TimePoint::duration>(
                               std::chrono::duration<double>(Owner.Settings.BootTimeoutSeconds));
    const auto retry = std::chrono::milliseconds(500);
    while (Owner.Time.Now() < due) {
        if (Port->Interrupted()) return VerifyOutcome::Stopped;
        const auto cycle = Owner.Time.Now();
        if (EnsureOpen()) {
            const session::AskOutcome asked = Port->AskVersion(version);
            if (asked == session::AskOutcome::Answered) return VerifyOutcome::Answered;
            if (asked == session::AskOutcome::Stopped) return VerifyOutcome::Stopped;
        }
        // A unit that is still booting may say something else than its version: ask again,
        // but not faster than twice a second.
        const auto next = cycle + retry;
        if (Owner.Time.Now() < next) {
            std::unique_lock<std::mutex> lock(Owner.Lock);
            Owner.Time.WaitUntil(lock, Owner.Woken, next, [this] { return Owner.Aborting.load(); });
        }
    }
    return VerifyOutcome::NoAnswer;
}

void Slot::WaitForRemoval() {
    auto answered = Owner.Time.Now();
    for (;;) {
        const auto cycle = Owner.Time.Now();
        std::string device;
        if (!Port->Present(&device)) break;
        if (Port->IsPortOpen() && (Port->Vanished() || device != Port->Device())) break;
        if (!EnsureOpen()) break; // the old device went, and whatever is there now is busy
        std::string version;
        const session::AskOutcome asked = Port->AskVersion(version);
        if (asked == session::AskOutcome::Stopped) return;
        if (asked == session::AskOutcome::Answered)
            answered = Owner.Time.Now();
        else if (Owner.Time.Now() - answered >= Owner.Settings.RemovalSilence)
            break;
        const auto due = cycle + Owner.Settings.ProbeInterval;
        const auto now = Owner.Time.Now();
        if (now < due && !Owner.Pause(Until(due, now))) return;
    }
    Port->Close();
}

void Slot::Start(const std::string&, const std::string& package, const std::string& md5,
                 int blockSize, int blockCount) {
    Owner.View.Start(Setup.Name, package, md5, blockSize, blockCount);
}
void Slot::Attempt(const std::string&, int number) {
    Owner.View.Attempt(Setup.Name, number);
}
void Slot::Status(const std::string&, const std::string& text) {
    Owner.View.Status(Setup.Name, text);
}
void Slot::Progress(const std::string&, int block, int blocks, int percent) {
    Owner.View.Progress(Setup.Name, block, blocks, percent);
}
void Slot::Resend(const std::string&, int block) {
    Owner.View.Resend(Setup.Name, block);
}
void Slot::Reconnect(const std::string&, int block, bool ok) {
    Owner.View.Reconnect(Setup.Name, block, ok);
}
void Slot::ModemGuard(const std::string&, const session::ModemGuardNote& note) {
    Owner.View.ModemGuard(Setup.Name, note);
}
void Slot::Error(const std::string& text) {
    Owner.View.Message(Setup.Name + ": " + text);
}

} // namespace station
