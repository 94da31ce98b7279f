#pragma once
// One dialogue on fake seams, wired: a scripted port and a reply timer on one manual clock, the
// instant wait, fixed line modes, a recording view and a package in memory. No window, no
// thread, no real time.

#include "dialogue/Dialogue.h"
#include "tests/support/dialogue/InstantWait.h"
#include "tests/support/dialogue/ManualClock.h"
#include "tests/support/dialogue/RecordingView.h"
#include "tests/support/dialogue/ScriptedPort.h"

#include <memory>

namespace tolvane::test {

// The two line modes as the user chose them; a mode left unset keeps the port as it is.
class FixedModes : public LineModeSource {
  public:
    bool ModeOf(bool working, LineMode& mode) const override {
        const LineMode& chosen = working ? Working : Upgrade;
        if (chosen.Baud == 0) return false;
        mode = chosen;
        return true;
    }
    LineMode Working{115200, 0};
    LineMode Upgrade{9600, 0};
};

// Fills a package of blockCount blocks of blockSize bytes (a pattern that differs from block to
// block) with end values 11 12 13 14 and 21 22 23 24; kind 0 leaves it invalid.
void FillPackage(FirmwarePackageData& package, uint8_t kind, uint16_t blockSize,
                 uint16_t blockCount);

struct FakeDialogue {
    FakeDialogue();
    FakeDialogue(const FakeDialogue&) = delete;
    FakeDialogue& operator=(const FakeDialogue&) = delete;

    ManualClock Clock;
    ManualReplyTimer Timer{Clock};
    ScriptedPort Port{Clock};
    InstantWait Wait{Clock, Port, Timer};
    FixedModes Modes;
    RecordingView View;
    std::unique_ptr<FirmwarePackageData> Package; // 64 KiB: not on the stack
    Dialogue Talk;
};

} // namespace tolvane::test
