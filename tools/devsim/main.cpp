// tolvane-devsim: the virtual modem on a pseudo-terminal (or a series of them, one after
// another on the same port).
#include "Version.h"
#include "tools/devsim/CommandLine.h"
#include "tools/devsim/PortLink.h"
#include "tools/devsim/UnitPort.h"
#include "tools/devsim/VirtualDevice.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace {

using namespace devsim;

// Blocked before the device thread starts, so only the wait in ServeUntilStopped sees them.
sigset_t BlockStopSignals() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return stopSignals;
}

// A port that comes back (a new unit, the end of a drop) is a new pseudo-terminal: its path is
// printed as one more line.
void TellArrivals(UnitPort& port, bool verbose) {
    port.OnArrive = [verbose](const std::string& device, const std::string& link) {
        std::printf("%s\n", device.c_str());
        std::fflush(stdout);
        if (verbose && !link.empty())
            std::fprintf(stderr, "devsim: registered as %s -> %s\n", link.c_str(), device.c_str());
    };
    port.OnError = [](const std::string& why) {
        std::fprintf(stderr, "tolvane-devsim: %s\n", why.c_str());
    };
}

void ServeUntilStopped(const VirtualDevice& device, const sigset_t& stopSignals, bool verbose) {
    const timespec tick = {0, 100 * 1000 * 1000};
    while (device.Running()) {
        const int signal = sigtimedwait(&stopSignals, nullptr, &tick);
        if (signal > 0) {
            if (verbose) std::fprintf(stderr, "devsim: signal %d, stopping\n", signal);
            break;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    CommandLine options;
    std::string error;
    if (!ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "tolvane-devsim: %s\nRun \"tolvane-devsim --help\" for the options.\n",
                     error.c_str());
        return 2;
    }
    if (options.Help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (options.Version) {
        std::puts("tolvane-devsim " TOLVANE_VERSION);
        return 0;
    }
    if (options.Verbose)
        options.Device.Log = [](const std::string& line) {
            std::fprintf(stderr, "devsim: %s\n", line.c_str());
        };
    const sigset_t stopSignals = BlockStopSignals();

    const std::string folder = options.ComNumber == 0        ? std::string()
                               : options.PortsFolder.empty() ? DefaultPortsFolder()
                                                             : options.PortsFolder;
    UnitPort port(folder, options.ComNumber);
    const int master = port.Open(error);
    if (master < 0) {
        std::fprintf(stderr, "tolvane-devsim: %s\n", error.c_str());
        return 1;
    }
    const std::string device0 = port.DevicePath();
    TellArrivals(port, options.Verbose);
    options.Device.Presence = &port;

    VirtualDevice device(options.Device);
    if (!device.Start(master)) {
        std::fprintf(stderr, "tolvane-devsim: cannot start the device thread\n");
        return 1;
    }
    std::printf("%s\n", device0.c_str());
    std::fflush(stdout);
    if (options.ComNumber != 0 && options.Verbose)
        std::fprintf(stderr, "devsim: registered as %s/COM%d -> %s\n", folder.c_str(),
                     options.ComNumber, device0.c_str());
    ServeUntilStopped(device, stopSignals, options.Verbose);
    const DeviceStatus status = device.Status();
    device.Stop();
    port.Vanished();
    return status.Lost ? 1 : status.Vanished ? 3 : 0;
}
