// What the device understands: text commands in its working mode, command and data frames in
// its loader, and the transfer the data frames make up.
#include "tools/devsim/VirtualDevice.h"

#include "tools/devsim/DeviceInternals.h"
#include "tools/devsim/SeriesIdentity.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace devsim {

namespace {

constexpr size_t kMaxTextLine = 1024;

} // namespace

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

} // namespace devsim
