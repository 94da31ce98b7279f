// The faults that can be switched on: spoiled replies to chosen blocks, a port that drops, a
// device that vanishes.
#include "tools/devsim/VirtualDevice.h"

#include "tools/devsim/DeviceInternals.h"

#include <climits>
#include <unistd.h>

namespace devsim {

void VirtualDevice::ArmFaults() {
    faults_ = options_.Fault;
    for (auto* list : {&faults_.CorruptCrc, &faults_.WrongKind, &faults_.Beyond})
        for (BlockFault& fault : *list)
            if (fault.Times <= 0) fault.Times = INT_MAX;
}

bool VirtualDevice::TakeFault(std::vector<BlockFault>& faults, int block) {
    for (BlockFault& fault : faults)
        if (fault.Block == block && fault.Times > 0) {
            --fault.Times;
            return true;
        }
    return false;
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

void VirtualDevice::Vanish() {
    ::close(master_);
    master_ = -1;
    vanished_ = true;
    stopping_ = true;
    std::lock_guard<std::mutex> lock(statusMutex_);
    status_.Vanished = true;
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

} // namespace devsim
