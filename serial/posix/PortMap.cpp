#include "serial/PortMap.h"

#include "base/ExecutableFolder.h"
#include "serial/PortName.h"

#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sys/stat.h>

namespace {

bool IsCharDevice(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
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
    static const std::string* folder = new std::string(ExecutableFolder() + "/ports");
    return *folder;
}

std::string PortDevicePath(int number) {
    if (number < 1 || number > MaxPortNumber) return {};
    std::string mapped = MappedDevice(PortMapFolder() + "/" + ComPortName(number));
    return mapped.empty() ? DefaultDevice(number) : mapped;
}

std::vector<int> PresentPortNumbers() {
    std::vector<bool> present(MaxPortNumber + 1, false);
    auto at = [&present](int number) { return present[static_cast<size_t>(number)]; };
    std::string folder = PortMapFolder();
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            // Only the spelling PortDevicePath looks up: com3 would be listed but never found.
            int number = ComPortNumber(entry->d_name, LetterCase::Capitals);
            if (number && !MappedDevice(folder + "/" + entry->d_name).empty()) at(number) = true;
        }
        closedir(dir);
    }
    for (int number = 1; number <= 96; ++number)
        if (!at(number) && !DefaultDevice(number).empty()) at(number) = true;
    std::vector<int> numbers;
    for (int number = 1; number <= MaxPortNumber; ++number)
        if (at(number)) numbers.push_back(number);
    return numbers;
}
