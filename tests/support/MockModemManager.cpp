#include "tests/support/MockModemManager.h"

#include <climits>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace tolvane::test {

namespace {

constexpr const char* AddressVariable = "DBUS_SYSTEM_BUS_ADDRESS";
constexpr auto StartLimit = std::chrono::seconds(20);

// The name ModemManager gives a port: the device's path after /dev/, links resolved.
std::string KernelName(const std::string& path) {
    char resolved[PATH_MAX];
    const std::string real = realpath(path.c_str(), resolved) ? resolved : path;
    return real.rfind("/dev/", 0) == 0 ? real.substr(5) : real;
}

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::istringstream folders(path ? path : "/usr/bin:/bin");
    for (std::string folder; std::getline(folders, folder, ':');)
        if (access((folder + "/" + program).c_str(), X_OK) == 0) return true;
    return false;
}

} // namespace

MockModemManager::MockModemManager() {
    char pattern[] = "/tmp/tolvane-mm-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("cannot make a temporary folder");
    Dir = pattern;
    Socket = Dir + "/system_bus_socket";
    LogPath = Dir + "/calls.log";
    if (const char* previous = std::getenv(AddressVariable)) {
        HadPrevious = true;
        Previous = previous;
    }
    setenv(AddressVariable, ("unix:path=" + Socket).c_str(), 1);
}

MockModemManager::~MockModemManager() {
    Manager.Signal(SIGTERM);
    Manager.Wait(3000);
    Daemon.Signal(SIGTERM);
    Daemon.Wait(3000);
    if (HadPrevious)
        setenv(AddressVariable, Previous.c_str(), 1);
    else
        unsetenv(AddressVariable);
    std::error_code ignored;
    std::filesystem::remove_all(Dir, ignored);
}

bool MockModemManager::BusInstalled() {
    return OnPath("dbus-daemon");
}

bool MockModemManager::StartBus() {
    // A system bus as far as its clients can tell, open to this user.
    const std::string config = Dir + "/bus.conf";
    std::ofstream(config)
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n  <type>system</type>\n  <listen>unix:path="
        << Socket
        << "</listen>\n  <auth>EXTERNAL</auth>\n  <policy context=\"default\">\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n  </policy>\n</busconfig>\n";
    if (!Daemon.Start({"/usr/bin/env", "dbus-daemon", "--config-file=" + config, "--nofork",
                       "--nopidfile", "--print-address"})) {
        Problem = "dbus-daemon did not start";
        return false;
    }
    // The address is printed once the bus listens.
    if (Daemon.ReadLine().find(Socket) == std::string::npos) {
        Problem = "dbus-daemon printed no address";
        return false;
    }
    return true;
}

bool MockModemManager::StartManager(const std::vector<Modem>& modems, bool refuse) {
    std::string json =
        std::string("{\"refuse\": ") + (refuse ? "true" : "false") + ", \"modems\": [";
    for (size_t i = 0; i < modems.size(); ++i) {
        const Modem& m = modems[i];
        json += std::string(i ? ", " : "") + "{\"device\": \"" + m.Device + "\", \"ports\": [";
        for (size_t p = 0; p < m.Ports.size(); ++p)
            json += std::string(p ? ", " : "") + "[\"" + KernelName(m.Ports[p]) + "\", 3]";
        json += "], \"hold\": \"" + m.Hold + "\"}";
    }
    json += "]}";
    if (!Manager.Start({"/usr/bin/python3", "-m", "dbusmock", "-t", TOLVANE_MODEMMANAGER_MOCK, "-l",
                        LogPath, "-p", json})) {
        Problem = "python3 -m dbusmock did not start";
        return false;
    }
    const auto due = std::chrono::steady_clock::now() + StartLimit;
    while (LogLines("ready").empty()) {
        if (std::chrono::steady_clock::now() > due) {
            Problem = "the ModemManager mock never got ready (is python3-dbusmock installed?)";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::vector<std::string> MockModemManager::LogLines(const std::string& method) const {
    // "<time> <method>[ <arguments>]" a line.
    std::vector<std::string> found;
    std::ifstream log(LogPath);
    for (std::string line; std::getline(log, line);) {
        const size_t space = line.find(' ');
        if (space == std::string::npos) continue;
        const std::string rest = line.substr(space + 1);
        if (rest == method)
            found.push_back({});
        else if (rest.rfind(method + " ", 0) == 0)
            found.push_back(rest.substr(method.size() + 1));
    }
    return found;
}

std::vector<std::string> MockModemManager::InhibitCalls() const {
    std::vector<std::string> calls;
    for (const std::string& args : LogLines("InhibitDevice")) {
        if (args.rfind("raised:", 0) == 0) continue; // the refusal of the call before
        std::string call = args;
        if (call.size() > 1 && call.front() == '"') call.erase(0, 1);
        const size_t quote = call.rfind('"');
        if (quote != std::string::npos) call.erase(quote, 1);
        calls.push_back(call);
    }
    return calls;
}

int MockModemManager::ListCalls() const {
    return int(LogLines("GetManagedObjects").size());
}

} // namespace tolvane::test
