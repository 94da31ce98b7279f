#include "tools/flash/PortSession.h"

#include "dialogue/ReplyRecognition.h"
#include "serial/PortMap.h"
#include "tools/flash/ModemManagerReport.h"

#include <algorithm>
#include <cctype>

namespace flash {

namespace {

// "COM" in any letter case and 1 to 256 without leading zeros; 0 for anything else.
int ComNumber(const std::string& text) {
    if (text.size() < 4 || text.size() > 6) return 0;
    for (size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(text[i])) != "COM"[i]) return 0;
    if (text[3] < '1' || text[3] > '9') return 0;
    int number = 0;
    for (size_t i = 3; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return 0;
        number = number * 10 + (text[i] - '0');
    }
    return number <= 256 ? number : 0;
}

std::string OpenFailureText(const PortTarget& target) {
    const std::string name =
        target.Number > 0 ? "COM" + std::to_string(target.Number) : target.Name;
    std::string text =
        "无法打开串口 " + name + "，请检查串口是否被其他程序占用或做了不恰当的设置！";
    return text + " (" + (target.Device.empty() ? "no such device" : target.Device) + ")";
}

} // namespace

bool ResolvePort(const std::string& text, PortTarget& out, std::string& error) {
    out = PortTarget{};
    out.Name = text;
    if (const int number = ComNumber(text); number > 0) {
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
                         const FirmwarePackageData* package, Reporter& reporter, Trace* trace)
    : Target(std::move(target)), Settings(settings), Report(reporter), ByteTrace(trace),
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
    Wake(Interrupted);
}

std::string PortSession::ModeText() const {
    return std::to_string(Port.Dcb.BaudRate) + "," + ParityName(Port.Dcb.Parity);
}

bool PortSession::OpenPort(RunReport& report) {
    report = RunReport{};
    if (Silenced) {
        report.Code = ExitStatus::Interrupted;
        report.Message = "stopped";
        return false;
    }
    const int result = Target.Device.empty() ? -5
                                             : Port.OpenPort(Target.Number, Settings.Working.Baud,
                                                             8, Settings.Working.Parity, 0);
    ReportModemGuard(Target.Name, Port.ModemGuard(), Report);
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
    if (!OpenPort(report)) {
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

    const RunOutcome outcome = Talk.UpgradeRun();
    report.Seconds = std::chrono::duration<double>(Clock::now() - started).count();
    report.Frames = Talk.FramesSent;
    report.Resends = Talk.Resends;
    switch (outcome) {
    case RunOutcome::Succeeded:
        report.Ok = true;
        report.Code = ExitStatus::Succeeded;
        report.Message = "升级成功";
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
    if (!OpenPort(report)) return report;
    char versionText[ReplyBufferSize] = {};
    Dialogue::Activity activity(Talk);
    Talk.DialogueStopped = false;
    Talk.ApplyLineMode(true);
    const bool ok = Talk.QueryVersion(versionText);
    ClosePort();
    if (ok) {
        report.Ok = true;
        report.Code = ExitStatus::Succeeded;
        text = versionText;
    } else if (Silenced) {
        report.Code = ExitStatus::Interrupted;
        report.Message = "stopped";
    } else if (Talk.LastWait == WaitOutcome::TimedOut) {
        report.Code = ExitStatus::NoAnswer;
        report.Message = "读/写超时！ (no answer to the version query)";
    } else {
        report.Code = ExitStatus::UpgradeFailed;
        report.Message = "the reply names no version";
    }
    return report;
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
    ReportModemGuardEnded(Target.Name, Port.ModemGuard(), Report);
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
        if (Interrupted) {
            lock.unlock();
            Talk.StopDialogue();
            return;
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
    Report.Attempt(Target.Name, number);
}

void PortSession::Progress(int block, int blocks, int percent) {
    LastBlock = block;
    Report.Progress(Target.Name, block, blocks, percent);
}

void PortSession::Resend(int block) {
    LastBlock = block;
    Report.Resend(Target.Name, block);
}

} // namespace flash
