// tolvane-devsim: the virtual modem on a pseudo-terminal.
#include "Version.h"
#include "tools/devsim/CommandLine.h"
#include "tools/devsim/PortLink.h"
#include "tools/devsim/PtyLine.h"
#include "tools/devsim/VirtualDevice.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace devsim;
    CommandLine options;
    std::string error;
    if (!ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "tolvane-devsim: %s\n\n%s", error.c_str(), UsageText().c_str());
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

    // Blocked before the device thread starts, so only the wait below sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    PtyPair pty;
    if (!OpenPseudoTerminal(pty, error)) {
        std::fprintf(stderr, "tolvane-devsim: %s\n", error.c_str());
        return 1;
    }
    PortLink link;
    if (options.ComNumber != 0) {
        const std::string folder =
            options.PortsFolder.empty() ? DefaultPortsFolder() : options.PortsFolder;
        if (!link.Create(folder, options.ComNumber, pty.SlavePath, error)) {
            std::fprintf(stderr, "tolvane-devsim: %s\n", error.c_str());
            return 1;
        }
    }

    VirtualDevice device(options.Device);
    if (!device.Start(pty.Master)) {
        std::fprintf(stderr, "tolvane-devsim: cannot start the device thread\n");
        return 1;
    }
    std::printf("%s\n", pty.SlavePath.c_str());
    std::fflush(stdout);
    if (!link.Path().empty() && options.Verbose)
        std::fprintf(stderr, "devsim: registered as %s -> %s\n", link.Path().c_str(),
                     pty.SlavePath.c_str());

    const timespec tick = {0, 100 * 1000 * 1000};
    while (device.Running()) {
        const int signal = sigtimedwait(&stopSignals, nullptr, &tick);
        if (signal > 0) {
            if (options.Verbose) std::fprintf(stderr, "devsim: signal %d, stopping\n", signal);
            break;
        }
    }
    const bool vanished = device.Status().Vanished;
    device.Stop();
    link.Remove();
    return vanished ? 3 : 0;
}
