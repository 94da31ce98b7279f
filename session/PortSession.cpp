#include "session/PortSession.h"

#include "dialogue/ReplyRecognition.h"
#include "serial/PortMap.h"
#include "serial/PortName.h"
#include "session/ModemManagerReport.h"

#include <algorithm>
#include <cstring>

namespace session {

namespace {

std::string OpenFailureText(const PortTarget& target) {
    const std::string name = target.Number > 0 ? ComPortName(target.Number) : target.Name;
    std::string text =
        "无法打开串口 " + name + "，请检查串口是否被其他程序占用或做了不恰当的设置！";
    return text + " (" + (target.Device.empty() ? "no such device" : target.Device) + ")";
}

} // namespace

const char* RunStageName(RunStage stage) {
    switch (stage) {
    case RunStage::Probe:
        return "probe";
    case RunStage::Reset:
        return "reset";
    case RunStage::Handshake:
        return "handshake";
    case RunStage::Transfer:
        return "transfer";
    case RunStage::Verify:
        return "verify";
    case RunStage::Done:
        return "done";
    }
    return "?";
}

bool ResolvePort(const std::string& text, PortTarget& out, std::string& error) {
    out = PortTarget{};
    out.Name = text;
    if (const int number = ComPortNumber(text); number > 0) {
        out.Number = number;
        out.Device = PortDevicePath(number);
        return true; // a missing device is the opening's failure, with the window's message
    }
    if (text.empty() || text.find('/') == std::string::npos) {
        error = "not a port: " + text + " (COM<n> or a device path)";
        return false;
    }
    out.Device = text;
    return true;
}

PortSession::PortSession(PortTarget target, SessionSettings settings,
                         const FirmwarePackageData* package, SessionEvents& events, Trace* trace)
    : Target(std::move(target)), Settings(settings), Report(events), ByteTrace(trace),
      Talk(DialogueSeams{this, this, this, this, this, package}), Port(*this) {
    Port.DevicePath = Target.Device;
    Port.PortNumber = Target.Number;
}

PortSession::~PortSession() {
    Port.Close();
}

void PortSession::Wake(bool& flag) {
    {
        std::lock_guard<std::mutex> guard(Lock);
        flag = true;
    }
    Woken.notify_one();
}

void PortSession::Interrupt() {
    Silenced = true;
    Wake(Interrupting);
}

bool PortSession::Pause(std::chrono::milliseconds time) {
    std::unique_lock<std::mutex> lock(Lock);
    return !Woken.wait_for(lock, time, [this] { return Interrupting; });
}

std::string PortSession::ModeText() const {
    return std::to_string(Port.Dcb.BaudRate) + "," + ParityName(Port.Dcb.Parity);
}

bool PortSession::Open(RunReport& report) {
    report = RunReport{};
    if (Silenced) {
        report.Code = ExitStatus::Interrupted;
        report.Message = "stopped";
        return false;
    }
    // A link such as /dev/serial/by-path/... or a port map entry is made again when its device
    // comes back, so every opening resolves the name afresh.
    PortTarget fresh;
    std::string ignored;
    if (ResolvePort(Target.Name, fresh, ignored)) Target = fresh;
    Port.DevicePath = Target.Device;
    Port.PortNumber = Target.Number;
    {
        std::lock_guard<std::mutex> guard(Lock);
        Lost = false;
    }
    const int result = Target.Device.empty() ? -5
                                             : Port.OpenPort(Target.Number, Settings.Working.Baud,
                                                             8, Settings.Working.Parity, 0);
    for (const auto& note : NotesAtOpening(Port.ModemGuard())) Report.ModemGuard(Target.Name, note);
    if (result == 1 && !StillNamed()) {
        // The device went away between the name's resolution and the opening, and its number
        // went to someone else's terminal: not ours to talk to.
        ClosePort();
        report.Code = ExitStatus::PortNotOpened;
        report.Message = OpenFailureText(Target);
        return false;
    }
    if (result == 1) {
        if (ByteTrace) ByteTrace->Line(Target.Name, "open " + Target.Device + " " + ModeText());
        return true;
    }
    report.Code = ExitStatus::PortNotOpened;
    report.Message = OpenFailureText(Target);
    if (ByteTrace) ByteTrace->Line(Target.Name, "open failed (" + std::to_string(result) + ")");
    return false;
}

RunReport PortSession::Flash(const std::string& packagePath, const std::string& md5) {
    const auto started = Clock::now();
    RunReport report;
    LastStage = RunStage::Probe;
    if (!Open(report)) {
        Report.Result(Target.Name, report);
        return report;
    }
    if (Settings.TimeoutSeconds > 0) {
        RunLimited = true;
        RunDue = started + std::chrono::duration_cast<Clock::duration>(
                               std::chrono::duration<double>(Settings.TimeoutSeconds));
    }
    const FirmwarePackageData& p = Talk.Package();
    Talk.DataFrameLimit = 3 * (p.BlockCount() + 1) + 10;
    Report.Start(Target.Name, packagePath, md5, p.BlockSize(), p.BlockCount());

    InRun = true;
    const RunOutcome outcome = Talk.UpgradeRun();
    InRun = false;
    report.Seconds = std::chrono::duration<double>(Clock::now() - started).count();
    report.Frames = Talk.FramesSent;
    report.Resends = Talk.Resends;
    switch (outcome) {
    case RunOutcome::Succeeded:
        report.Ok = true;
        report.Code = ExitStatus::Succeeded;
        report.Message = "升级成功";
        LastStage = RunStage::Done;
        break;
    case RunOutcome::BlockFailed:
        report.Message = "升级失败 (block " + std::to_string(LastBlock) + " failed three times)";
        break;
    case RunOutcome::LimitReached:
        report.Message = "升级失败 (more than " + std::to_string(Talk.DataFrameLimit) +
                         " data frames: the device keeps asking)";
        break;
    case RunOutcome::NoAnswer:
        report.Code = ExitStatus::NoAnswer;
        report.Message = "no answer to block 0 in three attempts";
        break;
    case RunOutcome::Refused:
    case RunOutcome::Busy:
        LastStage = RunStage::Probe;
        report.Code = ExitStatus::PortNotOpened;
        report.Message = OpenFailureText(Target);
        break;
    case RunOutcome::Stopped:
        if (TimeLimitHit) {
            report.Message = "升级失败 (time limit reached)";
        } else {
            report.Code = ExitStatus::Interrupted;
            report.Message = "stopped";
        }
        break;
    }
    ClosePort();
    Report.Result(Target.Name, report);
    return report;
}

RunReport PortSession::QueryVersion(std::string& text) {
    RunReport report;
    if (!Open(report)) return report;
    const AskOutcome outcome = AskVersion(text);
    ClosePort();
    switch (outcome) {
    case AskOutcome::Answered:
        report.Ok = true;
        report.Code = ExitStatus::Succeeded;
        break;
    case AskOutcome::Stopped:
        report.Code = ExitStatus::Interrupted;
        report.Message = "stopped";
        break;
    case AskOutcome::NoAnswer:
        report.Code = ExitStatus::NoAnswer;
        report.Message = "读/写超时！ (no answer to the version query)";
        break;
    case AskOutcome::Refused:
        report.Code = ExitStatus::UpgradeFailed;
        report.Message = "the reply names no version";
        break;
    }
    return report;
}

AskOutcome PortSession::AskVersion(std::string& text, bool switchMode) {
    if (Silenced) return AskOutcome::Stopped;
    char versionText[ReplyBufferSize] = {};
    Dialogue::Activity activity(Talk);
    Talk.DialogueStopped = false;
    if (switchMode) Talk.ApplyLineMode(true);
    if (Talk.QueryVersion(versionText)) {
        text = versionText;
        return AskOutcome::Answered;
    }
    if (Silenced) return AskOutcome::Stopped;
    return Talk.LastWait == WaitOutcome::TimedOut ? AskOutcome::NoAnswer : AskOutcome::Refused;
}

AskOutcome PortSession::AskText(const std::string& command, std::string& reply, bool switchMode) {
    if (Silenced) return AskOutcome::Stopped;
    char buffer[ReplyBufferSize] = {};
    std::strncpy(buffer, command.c_str(), sizeof buffer - 1);
    Dialogue::Activity activity(Talk);
    Talk.DialogueStopped = false;
    if (switchMode) Talk.ApplyLineMode(true);
    Talk.SetReplyTimeout(1000);
    const int result = Talk.TextExchange(buffer, buffer);
    if (result == 1) {
        reply = buffer + 2;
        return AskOutcome::Answered;
    }
    if (Silenced || result == 0) return AskOutcome::Stopped;
    return Talk.LastWait == WaitOutcome::TimedOut ? AskOutcome::NoAnswer : AskOutcome::Refused;
}

bool PortSession::PingLoader() {
    if (Silenced) return false;
    Dialogue::Activity activity(Talk);
    Talk.DialogueStopped = false;
    if (Port.Dcb.BaudRate != Settings.Loader.Baud || Port.Dcb.Parity != Settings.Loader.Parity) {
        Port.Dcb.BaudRate = Settings.Loader.Baud;
        Port.Dcb.Parity = Settings.Loader.Parity;
        Reopen();
    }
    Talk.SetReplyTimeout(HandshakeTimeoutMs(GetBaudRate()));
    return Talk.SendCommandFrame(0, nullptr, 0) == 1;
}

bool PortSession::StillNamed() const {
    PortTarget now;
    std::string ignored;
    return ResolvePort(Target.Name, now, ignored) && now.Device == Target.Device;
}

bool PortSession::Vanished() {
    std::lock_guard<std::mutex> guard(Lock);
    return Lost;
}

bool PortSession::Reconnect() {
    const auto due = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(Settings.ReconnectSeconds));
    const PortDcb settings = Port.Dcb; // the loader's, in force when the port went away
    Port.Close();
    if (ByteTrace) ByteTrace->Line(Target.Name, "vanished");
    for (;;) {
        PortTarget fresh;
        std::string ignored;
        if (ResolvePort(Target.Name, fresh, ignored) && !fresh.Device.empty()) {
            Target = fresh;
            Port.DevicePath = Target.Device;
            Port.PortNumber = Target.Number;
            {
                std::lock_guard<std::mutex> guard(Lock);
                Lost = Notified = Arrived = false;
            }
            const bool opened = Port.OpenPort(Target.Number, settings.BaudRate, settings.ByteSize,
                                              settings.Parity, settings.StopBits) == 1;
            if (opened && !StillNamed()) Port.Close();
            if (opened && Port.IsOpen()) {
                if (ByteTrace) ByteTrace->Line(Target.Name, "reconnected " + ModeText());
                Report.Reconnect(Target.Name, LastBlock, true);
                Talk.PortReopened();
                return true;
            }
        }
        if (Clock::now() >= due || !Pause(std::chrono::milliseconds(200))) break;
    }
    if (ByteTrace) ByteTrace->Line(Target.Name, "did not come back");
    Report.Reconnect(Target.Name, LastBlock, false);
    return false;
}

int PortSession::Write(const uint8_t* data, unsigned count) {
    if (Silenced) return int(count);
    if (ByteTrace) ByteTrace->Bytes(Target.Name, '>', data, int(count));
    return Port.Write(data, count);
}

int PortSession::Read(uint8_t* buffer, unsigned maxCount) {
    const int n = Port.Read(buffer, maxCount);
    if (ByteTrace) ByteTrace->Bytes(Target.Name, '<', buffer, n);
    return n;
}

void PortSession::ClosePort() {
    Port.Close();
    for (const auto& note : NotesAtClosing(Port.ModemGuard())) Report.ModemGuard(Target.Name, note);
}

void PortSession::Reopen() {
    // As the window's setters: close, store, reopen, so the line sees the same switches.
    if (!Port.IsOpen()) return;
    MCPort::Reopening oneStep(Port);
    Port.Close();
    const int result = Port.OpenPort(Target.Number, Port.Dcb.BaudRate, Port.Dcb.ByteSize,
                                     Port.Dcb.Parity, Port.Dcb.StopBits);
    if (ByteTrace)
        ByteTrace->Line(Target.Name, result == 1
                                         ? "reopen " + ModeText()
                                         : "reopen failed (" + std::to_string(result) + ")");
    if (result != 1) Report.Error(Target.Name + ": " + OpenFailureText(Target));
}

void PortSession::SetBaudRate(int baud) {
    Port.Dcb.BaudRate = uint32_t(baud);
    Reopen();
}

void PortSession::SetParity(uint8_t parity) {
    Port.Dcb.Parity = parity;
    Reopen();
}

void PortSession::Restart() {
    TimerRunning = true;
    TimerDue = Clock::now() + Interval;
}

bool PortSession::PromptReplyReady() const {
    uint8_t head[MaxReceiveChunk];
    const ReplyClass kind =
        RecogniseReply(head, Port.ReceiveQueue.Peek(head, MaxReceiveChunk)).kind;
    return kind == ReplyClass::CommandReply || kind == ReplyClass::DataReply;
}

void PortSession::WaitOnce() {
    std::unique_lock<std::mutex> lock(Lock);
    for (;;) {
        if (Interrupting) {
            lock.unlock();
            Talk.StopDialogue();
            return;
        }
        if (Lost) {
            Lost = false;
            // A USB adapter's brief drop during the transfer: the loader keeps its state.
            if (InRun && Settings.ReconnectSeconds > 0 && Talk.DataFrameAwaited()) {
                lock.unlock();
                Reconnect();
                return;
            }
            continue;
        }
        const auto now = Clock::now();
        if (RunLimited && now >= RunDue) {
            TimeLimitHit = true;
            lock.unlock();
            Talk.StopDialogue();
            return;
        }
        if (Notified) {
            Notified = Arrived = false;
            lock.unlock();
            Talk.CollectReply();
            return;
        }
        if (Arrived) {
            Arrived = false;
            if (PromptReplyReady()) {
                lock.unlock();
                Talk.CollectReply();
                return;
            }
            continue;
        }
        if (TimerRunning && now >= TimerDue) {
            lock.unlock();
            Talk.ReplyTimerTick();
            return;
        }
        Clock::time_point due = Clock::time_point::max();
        if (TimerRunning) due = TimerDue;
        if (RunLimited) due = std::min(due, RunDue);
        if (due == Clock::time_point::max())
            Woken.wait(lock);
        else
            Woken.wait_until(lock, due);
    }
}

void PortSession::DeliverPending() {
    bool notified;
    {
        std::lock_guard<std::mutex> guard(Lock);
        notified = Notified || (Arrived && PromptReplyReady());
        if (notified) Notified = Arrived = false;
    }
    if (notified) Talk.CollectReply();
}

bool PortSession::ModeOf(bool working, LineMode& mode) const {
    mode = working ? Settings.Working : Settings.Loader;
    return true;
}

void PortSession::ShowStatus(const std::string& text) {
    Report.Status(Target.Name, text);
}

void PortSession::Alert(const std::string& text) {
    Report.Error(Target.Name + ": " + text);
}

void PortSession::Attempt(int number) {
    LastStage = RunStage::Reset;
    Report.Attempt(Target.Name, number);
}

void PortSession::Handshaking() {
    LastStage = RunStage::Handshake;
}

void PortSession::Progress(int block, int blocks, int percent) {
    LastBlock = block;
    LastStage = RunStage::Transfer;
    Report.Progress(Target.Name, block, blocks, percent);
}

void PortSession::Resend(int block) {
    LastBlock = block;
    Report.Resend(Target.Name, block);
}

} // namespace session
