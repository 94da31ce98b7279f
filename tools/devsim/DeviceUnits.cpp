// A series of units on one port: each leaves after its upgrade, the next arrives.
#include "tools/devsim/VirtualDevice.h"

#include "tools/devsim/DeviceInternals.h"
#include "tools/devsim/SeriesIdentity.h"

namespace devsim {

namespace {

// A unit leaving after its version reply waits this long first: the hang-up would otherwise
// take the reply with it, unread.
constexpr double kLeaveAfterReplyMs = 500;

} // namespace

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

} // namespace devsim
