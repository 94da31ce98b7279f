#include "tools/flash/Interrupts.h"

#include <csignal>
#include <thread>

#ifndef _WIN32
#include <pthread.h>
#endif

namespace flash {

#ifdef _WIN32

namespace {
void (*Handler)() = nullptr;

// The C runtime runs console-control signals on a thread of the console's, not inside another
// thread's code, so the handler may take locks there.
void OnSignal(int signal) {
    std::signal(signal, OnSignal);
    if (Handler) Handler();
}
} // namespace

void WatchInterrupts(void (*onInterrupt)()) {
    Handler = onInterrupt;
    std::signal(SIGINT, OnSignal);
    std::signal(SIGBREAK, OnSignal);
    std::signal(SIGTERM, OnSignal);
}

#else

void WatchInterrupts(void (*onInterrupt)()) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set, onInterrupt] {
        for (;;) {
            int signal = 0;
            if (sigwait(&set, &signal) == 0) onInterrupt();
        }
    }).detach();
}

#endif

} // namespace flash
