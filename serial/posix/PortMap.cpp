#include "serial/PortMap.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int MaxPort = 256;

// The folder of the running executable ("." when it cannot be told).
std::string ExeFolder() {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0) return ".";
    std::string exe(buffer, static_cast<size_t>(n));
    size_t slash = exe.rfind('/');
    return slash == std::string::npos ? std::string(".") : exe.substr(0, slash);
}

bool IsCharDevice(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// "COM<n>" with n 1..256 in decimal without leading zeros; 0 for any other name.
int MapEntryNumber(const char* name) {
    if (name[0] != 'C' || name[1] != 'O' || name[2] != 'M') return 0;
    const char* digits = name + 3;
    if (*digits < '1' || *digits > '9') return 0;
    int value = 0;
    for (const char* p = digits; *p; ++p) {
        if (*p < '0' || *p > '9' || p - digits >= 3) return 0;
        value = value * 10 + (*p - '0');
    }
    return value <= MaxPort ? value : 0;
}

// The resolved device of a map entry, or empty when the entry is not a link to a character
// device (dangling links, loops, plain files and folders are ignored).
std::string MappedDevice(const std::string& entry) {
    struct stat st;
    if (lstat(entry.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return {};
    if (!IsCharDevice(entry)) return {};
    char resolved[PATH_MAX];
    if (!realpath(entry.c_str(), resolved)) return {};
    return resolved;
}

// A ttyS node exists for every possible UART; only those with a known port type are real.
bool UartPresent(int index) {
    std::ifstream type("/sys/class/tty/ttyS" + std::to_string(index) + "/type");
    int value = 0;
    return type >> value && value != 0;
}

std::string DefaultDevice(int number) {
    if (number >= 1 && number <= 32) {
        std::string path = "/dev/ttyS" + std::to_string(number - 1);
        return IsCharDevice(path) && UartPresent(number - 1) ? path : std::string();
    }
    const char* stem = nullptr;
    int index = 0;
    if (number >= 33 && number <= 64) {
        stem = "/dev/ttyUSB";
        index = number - 33;
    } else if (number >= 65 && number <= 96) {
        stem = "/dev/ttyACM";
        index = number - 65;
    } else {
        return {};
    }
    std::string path = stem + std::to_string(index);
    return IsCharDevice(path) ? path : std::string();
}

} // namespace

std::string DefaultPortMapFolder() {
    // Never destroyed: a static port component's watcher thread may still ask during exit.
    static const std::string* folder = new std::string(ExeFolder() + "/ports");
    return *folder;
}

std::string PortDevicePath(int number) {
    if (number < 1 || number > MaxPort) return {};
    std::string mapped = MappedDevice(PortMapFolder() + "/COM" + std::to_string(number));
    return mapped.empty() ? DefaultDevice(number) : mapped;
}

std::vector<int> PresentPortNumbers() {
    std::vector<bool> present(MaxPort + 1, false);
    auto at = [&present](int number) { return present[static_cast<size_t>(number)]; };
    std::string folder = PortMapFolder();
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            int number = MapEntryNumber(entry->d_name);
            if (number && !MappedDevice(folder + "/" + entry->d_name).empty()) at(number) = true;
        }
        closedir(dir);
    }
    for (int number = 1; number <= 96; ++number)
        if (!at(number) && !DefaultDevice(number).empty()) at(number) = true;
    std::vector<int> numbers;
    for (int number = 1; number <= MaxPort; ++number)
        if (at(number)) numbers.push_back(number);
    return numbers;
}
