#include "tools/devsim/PortLink.h"

#include "settings/SettingsLocation.h"
#include "serial/PortName.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace devsim {

std::string DefaultPortsFolder() {
    // The window's port map, wherever the window keeps it (an installed copy: per user).
    return PortMapFolderFor(ExecutableFolder());
}

bool PortLink::Create(const std::string& folder, int number, const std::string& target,
                      std::string& error) {
    Remove();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::string path = folder + "/" + ComPortName(number);

    struct stat entry;
    if (::lstat(path.c_str(), &entry) == 0) {
        struct stat live;
        if (!S_ISLNK(entry.st_mode)) {
            error = path + " exists and is not a link; not touching it";
            return false;
        }
        if (::stat(path.c_str(), &live) == 0) {
            std::string points = std::filesystem::read_symlink(path, ec).string();
            error = ComPortName(number) + " is taken: " + path + " -> " + points;
            return false;
        }
        ::unlink(path.c_str()); // left behind by a device that is gone
    }
    if (::symlink(target.c_str(), path.c_str()) != 0) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    path_ = path;
    target_ = target;
    return true;
}

void PortLink::Remove() {
    if (path_.empty()) return;
    std::error_code ec;
    if (std::filesystem::read_symlink(path_, ec).string() == target_ && !ec)
        ::unlink(path_.c_str());
    path_.clear();
    target_.clear();
}

} // namespace devsim
