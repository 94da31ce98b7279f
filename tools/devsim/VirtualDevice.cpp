#include "tools/devsim/VirtualDevice.h"

#include "dialogue/FrameCodec.h"
#include "package/ByteOrder.h"
#include "package/Crc32.h"
#include "tools/devsim/PtyLine.h"
#include "tools/devsim/SeriesIdentity.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace devsim {

namespace {

// The frame layout is the tool's own (FrameCodec.h): both ends speak the same protocol.
constexpr uint8_t kMark0 = FrameMark0;
constexpr uint8_t kMark1 = FrameMark1;
constexpr uint8_t kCommandKind = CommandKind;
constexpr uint32_t kMaxBlockSize = MaxFrameBlockSize;
// A frame that stops arriving half-way for this long is dropped, as a loader's receive
// time-out would.
constexpr double kStaleFrameMs = 1000;
constexpr size_t kMaxTextLine = 1024;
// A unit leaving after its version reply waits this long first: the hang-up would otherwise
// take the reply with it, unread.
constexpr double kLeaveAfterReplyMs = 500;

double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

void PutCrc(std::vector<uint8_t>& frame) {
    const uint32_t crc = Crc32(frame.data(), int32_t(frame.size()));
    for (int i = 0; i < 4; ++i)
        frame.push_back(uint8_t(crc >> (8 * i)));
}

bool CrcMatches(const std::vector<uint8_t>& frame) {
    const size_t n = frame.size() - 4;
    return Crc32(frame.data(), int32_t(n)) == ReadLe32(frame.data() + n);
}

std::vector<uint8_t> CommandReply(uint8_t status) {
    std::vector<uint8_t> reply = {kMark0, kMark1, kCommandKind, status, 0};
    PutCrc(reply);
    return reply;
}

std::vector<uint8_t> DataReply(uint8_t kind, uint16_t next) {
    std::vector<uint8_t> reply = {kMark0, kMark1, kind, uint8_t(next), uint8_t(next >> 8)};
    PutCrc(reply);
    return reply;
}

const char* ModeName(DeviceMode mode) {
    return mode == DeviceMode::Working ? "working" : "loader";
}

} // namespace

std::string HexBytes(const uint8_t* data, size_t length) {
    constexpr size_t kShown = 32;
    std::string out;
    char two[4];
    for (size_t i = 0; i < std::min(length, kShown); ++i) {
        std::snprintf(two, sizeof two, i ? " %02X" : "%02X", data[i]);
        out += two;
    }
    if (length > kShown) out += " ... (" + std::to_string(length) + " bytes)";
    return out;
}

std::string EscapedText(const uint8_t* data, size_t length) {
    std::string out = "\"";
    char code[8];
    for (size_t i = 0; i < length; ++i) {
        const uint8_t c = data[i];
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '"' || c == '\\')
            out += std::string("\\") + char(c);
        else if (c < 0x20 || c >= 0x7F) {
            std::snprintf(code, sizeof code, "\\x%02X", c);
            out += code;
        } else
            out += char(c);
    }
    return out + "\"";
}

VirtualDevice::VirtualDevice(DeviceOptions options) : options_(std::move(options)) {
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    mode_ = options_.StartInLoader ? DeviceMode::Loader : DeviceMode::Working;
    status_.Mode = mode_;
}

VirtualDevice::~VirtualDevice() {
    Stop();
    if (wake_ >= 0) ::close(wake_);
}

bool VirtualDevice::Start(int masterFd) {
    if (thread_.joinable() || wake_ < 0 || masterFd < 0) return false;
    master_ = masterFd;
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    running_ = true;
    {
        std::lock_guard<std::mutex> lock(statusMutex_);
        status_.Running = true;
    }
    try {
        thread_ = std::thread(&VirtualDevice::Run, this);
    } catch (const std::system_error&) {
        running_ = false;
        return false;
    }
    return true;
}

void VirtualDevice::Stop() {
    stopping_ = true;
    if (wake_ >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t ignored = ::write(wake_, &one, sizeof one);
    }
    if (thread_.joinable()) thread_.join();
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
    running_ = false;
    std::lock_guard<std::mutex> lock(statusMutex_);
    status_.Running = false;
}

DeviceStatus VirtualDevice::Status() const {
    std::lock_guard<std::mutex> lock(statusMutex_);
    return status_;
}

void VirtualDevice::Note(const std::string& text) {
    if (options_.Log) options_.Log(text);
}

bool VirtualDevice::Pause(double milliseconds) {
    if (milliseconds > 0 && !stopping_) {
        const double until = NowMs() + milliseconds;
        for (double left = milliseconds; left > 0 && !stopping_; left = until - NowMs()) {
            pollfd wake = {wake_, POLLIN, 0};
            const auto ns = static_cast<long long>(left * 1e6);
            timespec timeout = {time_t(ns / 1000000000), long(ns % 1000000000)};
            ::ppoll(&wake, 1, &timeout, nullptr);
        }
    }
    return !stopping_;
}

const LineMode& VirtualDevice::CurrentLine() const {
    return mode_ == DeviceMode::Working ? options_.Working : options_.Loader;
}

double VirtualDevice::ByteMilliseconds() const {
    LineSettings line;
    if (master_ < 0 || !ReadLineSettings(master_, line) || line.Baud == 0) return 0;
    // The pty hides parity, so the parity bit comes from the mode's own settings.
    const int bits =
        1 + line.DataBits + (CurrentLine().LineParity != Parity::None ? 1 : 0) + line.StopBits;
    return 1000.0 * bits / line.Baud;
}

void VirtualDevice::SetMode(DeviceMode mode) {
    mode_ = mode;
    {
        std::lock_guard<std::mutex> lock(statusMutex_);
        status_.Mode = mode;
    }
    Note(std::string("now in ") + ModeName(mode) + " mode, listening at " +
         std::to_string(CurrentLine().Baud) + " baud");
}

void VirtualDevice::ArmFaults() {
    faults_ = options_.Fault;
    for (auto* list : {&faults_.CorruptCrc, &faults_.WrongKind, &faults_.Beyond})
        for (BlockFault& fault : *list)
            if (fault.Times <= 0) fault.Times = INT_MAX;
}

void VirtualDevice::Run() {
    ::sigset_t all;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_BLOCK, &all, nullptr); // signals are the main thread's business
    ArmFaults();

    uint8_t chunk[4096];
    while (!stopping_) {
        pollfd fds[2] = {{master_, POLLIN, 0}, {wake_, POLLIN, 0}};
        const int r = ::poll(fds, 2, buffer_.empty() ? -1 : 100);
        if (r < 0 && errno != EINTR) {
            Note(std::string("poll failed: ") + std::strerror(errno));
            break;
        }
        if (stopping_ || (r > 0 && fds[1].revents)) break;
        bool lineClosed = false;
        if (r > 0 && (fds[0].revents & POLLIN)) {
            const ssize_t n = ::read(master_, chunk, sizeof chunk);
            if (n > 0)
                Receive(chunk, size_t(n));
            else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                lineClosed = true; // EIO: nobody has the other end open
        } else if (r > 0 && (fds[0].revents & (POLLHUP | POLLERR))) {
            lineClosed = true;
        }
        // Waits for the tool to (re)open its end without spinning.
        if (lineClosed && !Pause(20)) break;
        if (!buffer_.empty() && NowMs() - lastByteAt_ > kStaleFrameMs) {
            Note("dropped " + std::to_string(buffer_.size()) +
                 " bytes of an incomplete request: " + HexBytes(buffer_.data(), buffer_.size()));
            buffer_.clear();
        }
    }
    running_ = false;
    std::lock_guard<std::mutex> lock(statusMutex_);
    status_.Running = false;
}

void VirtualDevice::Receive(const uint8_t* data, size_t length) {
    lastByteAt_ = NowMs();
    LineSettings line;
    const bool known = ReadLineSettings(master_, line);
    if (options_.Pace && known) {
        wireFreeAt_ = std::max(lastByteAt_, wireFreeAt_) + double(length) * ByteMilliseconds();
        if (!Pause(wireFreeAt_ - NowMs())) return;
        lastByteAt_ = NowMs();
    }
    if (lastByteAt_ < bootUntil_) {
        {
            std::lock_guard<std::mutex> lock(statusMutex_);
            status_.BootIgnoredBytes += int(length);
        }
        Note("starting the new firmware: " + std::to_string(length) + " bytes unheard");
        buffer_.clear();
        return;
    }
    // At another baud rate a real device would only see noise.
    if (!known || line.Baud != CurrentLine().Baud) {
        {
            std::lock_guard<std::mutex> lock(statusMutex_);
            status_.IgnoredBytes += int(length);
        }
        Note("ignored " + std::to_string(length) + " bytes at " + std::to_string(line.Baud) +
             " baud: the " + ModeName(mode_) + " mode listens at " +
             std::to_string(CurrentLine().Baud));
        buffer_.clear();
        return;
    }
    buffer_.insert(buffer_.end(), data, data + length);
    ProcessBuffer();
}

void VirtualDevice::ProcessBuffer() {
    while (!stopping_ && !buffer_.empty())
        if (!(mode_ == DeviceMode::Working ? TakeTextLine() : TakeFrame())) return;
}

bool VirtualDevice::TakeTextLine() {
    const auto cr = std::find(buffer_.begin(), buffer_.end(), uint8_t('\r'));
    if (cr == buffer_.end()) {
        if (buffer_.size() > kMaxTextLine)
            buffer_.erase(buffer_.begin(), buffer_.end() - kMaxTextLine);
        return false;
    }
    const std::string line(buffer_.begin(), cr);
    buffer_.erase(buffer_.begin(), cr + 1);
    HandleText(line);
    return true;
}

bool VirtualDevice::TakeFrame() {
    size_t mark = 0;
    while (mark + 1 < buffer_.size() && !(buffer_[mark] == kMark0 && buffer_[mark + 1] == kMark1))
        ++mark;
    if (mark + 1 >= buffer_.size() && buffer_.back() != kMark0) mark = buffer_.size();
    if (mark > 0) {
        // Line ends left over from text commands are no news; anything else is noted.
        const bool onlyLineEnds = std::all_of(buffer_.begin(), buffer_.begin() + long(mark),
                                              [](uint8_t c) { return c == '\n'; });
        if (!onlyLineEnds)
            Note("not a frame, dropped: " + HexBytes(buffer_.data(), mark) + "  " +
                 EscapedText(buffer_.data(), std::min<size_t>(mark, 32)));
        buffer_.erase(buffer_.begin(), buffer_.begin() + long(mark));
        return true;
    }
    if (buffer_.size() < 3) return false;
    size_t total;
    if (buffer_[2] == kCommandKind) {
        if (buffer_.size() < 5) return false;
        total = size_t(buffer_[4]) + 9;
    } else {
        if (buffer_.size() < 9) return false;
        const uint32_t length = uint32_t(buffer_[7]) | uint32_t(buffer_[8]) << 8;
        if (length > kMaxBlockSize) {
            Note("frame length " + std::to_string(length) + " is too large; resynchronising");
            {
                std::lock_guard<std::mutex> lock(statusMutex_);
                ++status_.RejectedFrames;
            }
            buffer_.erase(buffer_.begin());
            return true;
        }
        total = length + 13;
    }
    if (buffer_.size() < total) return false;
    const std::vector<uint8_t> frame(buffer_.begin(), buffer_.begin() + long(total));
    buffer_.erase(buffer_.begin(), buffer_.begin() + long(total));
    HandleFrame(frame);
    return true;
}

void VirtualDevice::HandleText(const std::string& line) {
    // The "\n" of the previous "\r\n" starts this line; it is no part of the command.
    const size_t start = std::min(line.find_first_not_of('\n'), line.size());
    Note("<- " +
         EscapedText(reinterpret_cast<const uint8_t*>(line.data()) + start, line.size() - start) +
         " + \\r");
    if (options_.Fault.Silent) return;
    const size_t at = line.find("AT");
    if (at == std::string::npos) {
        Note("not a command; no answer");
        return;
    }
    const std::string command = line.substr(at);
    if (command == "AT+VERSION=?") {
        AnswerVersion();
        if (upgraded_ && options_.Units > 0) LeaveAfterUpgrade();
    } else if (command == options_.IdCommand) {
        AnswerIdentity();
    } else if (command == "AT+RESET") {
        AnswerReset();
    } else {
        ReplyText(command == "AT" ? "\r\nOK\r\n" : "\r\nERROR\r\n");
    }
}

void VirtualDevice::ReplyText(const std::string& text) {
    Reply(std::vector<uint8_t>(text.begin(), text.end()), true);
}

void VirtualDevice::AnswerVersion() {
    {
        std::lock_guard<std::mutex> lock(statusMutex_);
        ++status_.VersionQueries;
    }
    const bool after = upgraded_ && options_.VersionAfter;
    ReplyText("\r\n" + (after ? *options_.VersionAfter : options_.VersionText));
}

void VirtualDevice::AnswerIdentity() {
    {
        std::lock_guard<std::mutex> lock(statusMutex_);
        ++status_.IdentityQueries;
    }
    // As a modem answers its serial-number query; one without a number refuses it.
    const std::optional<std::string> id = UnitIdentity(options_.Ids, options_.IdPattern, unit_);
    ReplyText(id ? "\r\n" + *id + "\r\n\r\nOK\r\n" : "\r\nERROR\r\n");
}

void VirtualDevice::AnswerReset() {
    {
        std::lock_guard<std::mutex> lock(statusMutex_);
        ++status_.Resets;
    }
    if (faults_.ResetError) {
        ReplyText("\r\nERROR\r\n");
        return;
    }
    ReplyText("\r\nOK\r\n");
    session_ = SessionState{};
    SetMode(DeviceMode::Loader);
}

void VirtualDevice::HandleFrame(const std::vector<uint8_t>& frame) {
    Note("<- " + HexBytes(frame.data(), frame.size()));
    if (options_.Fault.Silent) return;
    if (!CrcMatches(frame)) {
        {
            std::lock_guard<std::mutex> lock(statusMutex_);
            ++status_.BadChecksums;
        }
        Note("checksum wrong; no answer");
        return;
    }
    if (frame[2] == kCommandKind)
        HandleCommandFrame(frame);
    else
        HandleDataFrame(frame);
}

void VirtualDevice::HandleCommandFrame(const std::vector<uint8_t>& frame) {
    const uint8_t code = frame[3];
    if (code != 0) {
        Note("unknown command " + std::to_string(code) + "; refused");
        Reply(CommandReply(uint8_t(0xC0 | (code & 0x3F))), false);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(statusMutex_);
        ++status_.Pings;
    }
    if (faults_.IgnorePings) {
        Note("ping ignored");
        return;
    }
    Reply(CommandReply(0x80), false);
}

void VirtualDevice::StartSession(uint8_t kind, uint16_t blockCount, uint16_t blockSize) {
    session_ = SessionState{};
    session_.Active = true;
    session_.Kind = kind;
    session_.BlockCount = blockCount;
    session_.BlockSize = blockSize;
    session_.Area.assign(size_t(blockCount) * blockSize, 0);
    session_.Received.assign(blockCount, false);
    std::vector<bool> listed(blockCount, false);
    if (faults_.Reverse) {
        for (int i = blockCount - 1; i >= 0; --i)
            session_.Order.push_back(i);
    } else {
        for (int block : faults_.Order)
            if (block >= 0 && block < blockCount && !listed[size_t(block)]) {
                listed[size_t(block)] = true;
                session_.Order.push_back(block);
            }
        for (int i = 0; i < blockCount; ++i)
            if (!listed[size_t(i)]) session_.Order.push_back(i);
    }
    Note("transfer of kind " + std::to_string(kind) + ": " + std::to_string(blockCount) +
         " blocks of " + std::to_string(blockSize) + " bytes");
}

int VirtualDevice::FirstMissingBlock() const {
    for (int block : session_.Order)
        if (!session_.Received[size_t(block)]) return block;
    return -1;
}

bool VirtualDevice::TakeFault(std::vector<BlockFault>& faults, int block) {
    for (BlockFault& fault : faults)
        if (fault.Block == block && fault.Times > 0) {
            --fault.Times;
            return true;
        }
    return false;
}

void VirtualDevice::WriteImage() {
    if (options_.ImagePath.empty()) return;
    // Written beside and renamed, so a reader never sees half an image.
    const std::string part = options_.ImagePath + ".part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(session_.Area.data()),
                  std::streamsize(session_.Area.size()));
        if (!out.flush()) {
            Note("cannot write the image to " + part);
            return;
        }
    }
    if (std::rename(part.c_str(), options_.ImagePath.c_str()) != 0)
        Note("cannot rename the image to " + options_.ImagePath);
    else
        Note("image written to " + options_.ImagePath);
}

DataFrameHeader VirtualDevice::ReadHeader(const std::vector<uint8_t>& frame) {
    DataFrameHeader header;
    header.Kind = frame[2];
    header.Count = uint16_t(frame[3] | frame[4] << 8);
    header.Index = uint16_t(frame[5] | frame[6] << 8);
    header.Length = uint16_t(frame[7] | frame[8] << 8);
    return header;
}

bool VirtualDevice::Reject(const DataFrameHeader& frame, const std::string& why) {
    {
        std::lock_guard<std::mutex> lock(statusMutex_);
        ++status_.RejectedFrames;
    }
    Note("frame for block " + std::to_string(frame.Index) + " refused (" + why + "); no answer");
    return false;
}

bool VirtualDevice::CheckFrame(const DataFrameHeader& frame) {
    if (frame.Kind == 0) return Reject(frame, "kind 0");
    if (options_.ExpectedKind >= 0 && frame.Kind != options_.ExpectedKind)
        return Reject(frame, "kind " + std::to_string(frame.Kind) + ", expected " +
                                 std::to_string(options_.ExpectedKind));
    if (frame.Index > frame.Count)
        return Reject(frame, "index beyond the block count " + std::to_string(frame.Count));
    if (frame.Index == frame.Count ? frame.Length != 8 : frame.Length == 0)
        return Reject(frame, "payload length " + std::to_string(frame.Length));
    return true;
}

bool VirtualDevice::CheckTransfer(const DataFrameHeader& frame) {
    const bool sameTransfer =
        session_.Active && frame.Kind == session_.Kind && frame.Count == session_.BlockCount &&
        (frame.Count == 0 || frame.Length == session_.BlockSize || frame.Index == frame.Count);
    if (frame.Index == 0 && (!sameTransfer || session_.Complete)) {
        StartSession(frame.Kind, frame.Count, frame.Index < frame.Count ? frame.Length : 0);
        return true;
    }
    if (!session_.Active) return Reject(frame, "no transfer under way, block 0 comes first");
    if (frame.Kind != session_.Kind)
        return Reject(frame, "kind " + std::to_string(frame.Kind) + " in a transfer of kind " +
                                 std::to_string(session_.Kind));
    if (frame.Count != session_.BlockCount)
        return Reject(frame, "block count " + std::to_string(frame.Count) + " in a transfer of " +
                                 std::to_string(session_.BlockCount));
    if (frame.Index < frame.Count && frame.Length != session_.BlockSize)
        return Reject(frame, "block of " + std::to_string(frame.Length) +
                                 " bytes in a transfer of " + std::to_string(session_.BlockSize) +
                                 "-byte blocks");
    return true;
}

int VirtualDevice::StoreBlock(const DataFrameHeader& frame, const std::vector<uint8_t>& bytes,
                              bool& completes) {
    completes = false;
    if (frame.Index < frame.Count) {
        std::memcpy(&session_.Area[size_t(frame.Index) * session_.BlockSize], &bytes[9],
                    frame.Length);
        session_.Received[frame.Index] = true;
        if (faults_.RepeatBlock == frame.Index) session_.Repeating = true;
    }
    const int missing = FirstMissingBlock();
    int next;
    if (frame.Index < frame.Count) {
        next = session_.Repeating ? faults_.RepeatBlock : missing >= 0 ? missing : frame.Count;
    } else if (missing >= 0) {
        Note("closing frame before block " + std::to_string(missing) + " arrived");
        next = missing;
    } else {
        next = frame.Count + 1;
        completes = true;
    }
    {
        std::lock_guard<std::mutex> lock(statusMutex_);
        ++status_.DataFrames;
        status_.FramesArrived.push_back(frame.Index);
        if (completes) {
            std::memcpy(status_.ClosingPayload.data(), &bytes[9], 8);
            if (!session_.Complete) {
                ++status_.Transfers;
                status_.Image = session_.Area;
            }
        }
    }
    if (completes && !session_.Complete) {
        session_.Complete = true;
        WriteImage();
    }
    return next;
}

void VirtualDevice::ReplyToBlock(const DataFrameHeader& frame, int next, bool completes) {
    uint8_t replyKind = frame.Kind;
    bool spoiled = false;
    if (TakeFault(faults_.Beyond, frame.Index)) {
        next = frame.Count + 2;
        spoiled = true;
    }
    if (TakeFault(faults_.WrongKind, frame.Index)) {
        replyKind = frame.Kind == 0xFE ? 0x01 : uint8_t(frame.Kind + 1);
        spoiled = true;
    }
    std::vector<uint8_t> reply = DataReply(replyKind, uint16_t(next));
    if (TakeFault(faults_.CorruptCrc, frame.Index)) {
        reply[5] ^= 0x5A;
        spoiled = true;
    }
    {
        std::lock_guard<std::mutex> lock(statusMutex_);
        status_.BlocksAsked.push_back(next);
    }
    Reply(std::move(reply), false);

    // Back to work only once the tool has been told, intact, that the transfer is complete;
    // otherwise it will send the closing frame again.
    if (completes && !spoiled) {
        session_.Active = false;
        upgraded_ = true;
        if (options_.BootDelayMs > 0) {
            bootUntil_ = NowMs() + options_.BootDelayMs;
            Note("starting the new firmware, silent for " + std::to_string(options_.BootDelayMs) +
                 " ms");
        }
        SetMode(DeviceMode::Working);
    }
}

void VirtualDevice::HandleDataFrame(const std::vector<uint8_t>& bytes) {
    const DataFrameHeader frame = ReadHeader(bytes);
    if (!CheckFrame(frame) || !CheckTransfer(frame)) return;
    if (faults_.VanishAfter == frame.Index) {
        Note("vanishing after block " + std::to_string(frame.Index));
        Vanish();
        return;
    }
    if (const int ms = TakeDrop(frame.Index); ms >= 0) {
        Note("the port drops on block " + std::to_string(frame.Index) + " for " +
             std::to_string(ms) + " ms");
        DropPort(ms);
        return;
    }
    bool completes = false;
    const int next = StoreBlock(frame, bytes, completes);
    ReplyToBlock(frame, next, completes);
}

void VirtualDevice::Vanish() {
    ::close(master_);
    master_ = -1;
    vanished_ = true;
    stopping_ = true;
    std::lock_guard<std::mutex> lock(statusMutex_);
    status_.Vanished = true;
}

void VirtualDevice::CloseLine() {
    {
        std::lock_guard<std::mutex> lock(statusMutex_);
        status_.Present = false;
    }
    // The name goes first, so a tool never finds it pointing at a dead line.
    if (options_.Presence) options_.Presence->Vanished();
    ::close(master_);
    master_ = -1;
    buffer_.clear();
}

bool VirtualDevice::ComeBack(double ms) {
    if (!Pause(ms)) return false;
    const int master = options_.Presence ? options_.Presence->Arrive() : -1;
    if (master < 0) {
        Note("the port cannot come back");
        stopping_ = true;
        std::lock_guard<std::mutex> lock(statusMutex_);
        status_.Lost = true;
        return false;
    }
    master_ = master;
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    wireFreeAt_ = 0;
    std::lock_guard<std::mutex> lock(statusMutex_);
    status_.Present = true;
    return true;
}

int VirtualDevice::TakeDrop(int block) {
    for (auto drop = faults_.Drops.begin(); drop != faults_.Drops.end(); ++drop)
        if (drop->Block == block) {
            const int ms = drop->Ms;
            faults_.Drops.erase(drop);
            return ms;
        }
    return -1;
}

void VirtualDevice::DropPort(int ms) {
    CloseLine();
    if (!ComeBack(ms)) return;
    Note("the port is back, still in the " + std::string(ModeName(mode_)) + " mode");
    std::lock_guard<std::mutex> lock(statusMutex_);
    ++status_.Drops;
}

void VirtualDevice::LeaveAfterUpgrade() {
    if (!Pause(kLeaveAfterReplyMs)) return;
    Note("unit " + std::to_string(unit_) + " taken away");
    CloseLine();
    {
        std::lock_guard<std::mutex> lock(statusMutex_);
        ++status_.UnitsGone;
    }
    if (options_.Units != kEndlessUnits && unit_ >= options_.Units) {
        Note("that was the last unit");
        stopping_ = true;
        return;
    }
    // Ready before its port appears, so a tool that finds the port finds the new unit.
    NextUnit();
    if (!ComeBack(options_.AbsentMs)) return;
    const std::optional<std::string> id = UnitIdentity(options_.Ids, options_.IdPattern, unit_);
    Note("unit " + std::to_string(unit_) + " arrives" + (id ? ", identity " + *id : ""));
}

void VirtualDevice::NextUnit() {
    ++unit_;
    upgraded_ = false;
    bootUntil_ = 0;
    session_ = SessionState{};
    ArmFaults();
    {
        std::lock_guard<std::mutex> lock(statusMutex_);
        status_.Unit = unit_;
    }
    SetMode(options_.StartInLoader ? DeviceMode::Loader : DeviceMode::Working);
}

bool VirtualDevice::WriteAll(const uint8_t* data, size_t length) {
    size_t done = 0;
    while (done < length && !stopping_) {
        const ssize_t n = ::write(master_, data + done, length - done);
        if (n > 0) {
            done += size_t(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd out = {master_, POLLOUT, 0};
            ::poll(&out, 1, 50);
        } else {
            Note(std::string("write failed: ") + std::strerror(errno));
            return false;
        }
    }
    return done == length;
}

void VirtualDevice::Reply(std::vector<uint8_t> bytes, bool text) {
    if (faults_.DelayMs > 0 && !Pause(faults_.DelayMs)) return;
    if (faults_.StrayByte) bytes.insert(bytes.begin(), faults_.StrayValue);
    if (options_.Pace && !Pause(double(bytes.size()) * ByteMilliseconds())) return;
    Note("-> " +
         (text ? EscapedText(bytes.data(), bytes.size()) : HexBytes(bytes.data(), bytes.size())));
    bool written;
    if (faults_.SplitMs >= 0 && bytes.size() > 1) {
        const size_t half = bytes.size() / 2;
        written = WriteAll(bytes.data(), half) && Pause(faults_.SplitMs) &&
                  WriteAll(bytes.data() + half, bytes.size() - half);
    } else {
        written = WriteAll(bytes.data(), bytes.size()); // one write: one burst
    }
    if (written) {
        std::lock_guard<std::mutex> lock(statusMutex_);
        ++status_.RepliesSent;
    }
}

} // namespace devsim
