#include "tests/faults/FaultFixture.h"

#include "tools/devsim/PtyLine.h"

#include <QCoreApplication>

#include <fstream>
#include <string>
#include <sys/resource.h>

namespace tolvane::test {

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long ResidentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6)) * 1024;
    return 0;
}

void PumpFor(std::chrono::milliseconds time) {
    const auto end = std::chrono::steady_clock::now() + time;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return;
        QCoreApplication::processEvents(QEventLoop::AllEvents, int(left.count()));
    }
}

void FaultWindow::TearDown() {
    for (auto& simulator : Simulators)
        simulator->Stop();
    DialogueWindow::TearDown();
    Simulators.clear();
    // What a flood left queued goes now, not at the next opening.
    MCPort1.ReceiveQueue.Clear();
    MCPort1.SendQueue.Clear();
}

devsim::VirtualDevice& FaultWindow::StartSimulator(int com, devsim::Faults faults) {
    devsim::PtyPair line;
    std::string error;
    if (!devsim::OpenPseudoTerminal(line, error)) throw std::runtime_error(error);
    devsim::DeviceOptions options;
    options.Working = {115200, devsim::Parity::None};
    options.Loader = {9600, devsim::Parity::None};
    options.Fault = std::move(faults);
    Simulators.push_back(std::make_unique<devsim::VirtualDevice>(options));
    if (!Simulators.back()->Start(line.Master)) throw std::runtime_error("device did not start");
    Map.Add(com, line.SlavePath);
    return *Simulators.back();
}

void FaultWindow::ReopenOn(int com) {
    MCPort1.SetOpen(false);
    MCPort1.SetPort(com);
    MCPort1.SetOpen(true);
}

} // namespace tolvane::test
