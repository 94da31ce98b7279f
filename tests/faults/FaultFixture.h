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

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TOLVANE_TEST_SANITIZED 1
#endif
#if __has_feature(thread_sanitizer)
#define TOLVANE_TEST_TSAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TOLVANE_TEST_SANITIZED 1
#endif
#if defined(__SANITIZE_THREAD__)
#define TOLVANE_TEST_TSAN 1
#endif

#ifdef TOLVANE_TEST_TSAN
// ThreadSanitizer keeps shadow memory several times the size of what the program touches.
constexpr bool kResidentSizeTracksHeap = false;
#else
constexpr bool kResidentSizeTracksHeap = true;
#endif
#ifdef TOLVANE_TEST_SANITIZED
// Sanitizers hold freed memory back (quarantine) and keep per-thread state.
constexpr bool kResidentSizeReturns = false;
#else
constexpr bool kResidentSizeReturns = true;
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
