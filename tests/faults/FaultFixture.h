#pragma once
// The dialogue tests' window fixture plus what the fault tests need: the virtual device on lines
// of its own, a pump for the window's events, and the process's CPU time and resident size.

#include "tests/dialogue/DialogueWindowFixture.h"
#include "tools/devsim/VirtualDevice.h"

#include <chrono>
#include <memory>
#include <vector>

namespace tolvane::test {

// CPU time of the whole process (every thread), user and system, in seconds.
double ProcessCpuSeconds();
// Resident set size of the process in bytes (VmRSS); 0 when unreadable.
long ResidentBytes();

// ThreadSanitizer keeps shadow memory several times the size of what the program touches, so
// resident sizes say nothing about the program's own memory there.
#if defined(__SANITIZE_THREAD__)
constexpr bool kResidentSizeMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kResidentSizeMeaningful = false;
#else
constexpr bool kResidentSizeMeaningful = true;
#endif
#else
constexpr bool kResidentSizeMeaningful = true;
#endif

// Runs the window's events for the given time.
void PumpFor(std::chrono::milliseconds time);
// Runs the window's events until done() holds or the limit passed; returns done().
template <typename Done> bool PumpUntil(Done done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        PumpFor(std::chrono::milliseconds(10));
    }
    return true;
}

class FaultWindow : public DialogueWindow {
  protected:
    void TearDown() override;

    // Starts the virtual device (working mode 115200, loader 9600, no parity, as the fixture's
    // modes) on a new pseudo-terminal and maps COM<com> to it. The port is not touched.
    devsim::VirtualDevice& StartSimulator(int com, devsim::Faults faults = {});
    // Closes the port and opens COM<com> instead.
    void ReopenOn(int com);

    std::vector<std::unique_ptr<devsim::VirtualDevice>> Simulators;
};

} // namespace tolvane::test
