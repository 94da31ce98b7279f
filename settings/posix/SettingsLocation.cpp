#include "settings/SettingsLocation.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Root may write anywhere; a folder without any write permission still counts as not its own
// to write (a read-only copy is treated the same for every user).
bool UserMayWrite(const std::string& folder) {
    if (access(folder.c_str(), W_OK) != 0) return false;
    if (geteuid() != 0) return true;
    struct stat st;
    return stat(folder.c_str(), &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
}

std::string UserConfigHome() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return xdg; // a relative value is to be ignored
    const char* home = std::getenv("HOME");
    if (home && home[0]) return std::string(home) + "/.config";
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return std::string(pw->pw_dir) + "/.config";
    return "/tmp";
}

// Like mkdir -p; new folders are private to the user, as the XDG rules ask.
void MakeFolders(const std::string& folder) {
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return;
        if (slash == std::string::npos) return;
    }
}

bool Installed(const std::string& exeFolder) {
    return !UserMayWrite(exeFolder) && access((exeFolder + "/Config.ini").c_str(), F_OK) != 0;
}

} // namespace

std::string SettingsFolder(const std::string& exeFolder) {
    return Installed(exeFolder) ? UserConfigHome() + "/tolvane" : exeFolder;
}

std::string ConfigIniFile(const std::string& exeFolder) {
    const std::string folder = SettingsFolder(exeFolder);
    if (folder != exeFolder) MakeFolders(folder);
    return folder + "/Config.ini";
}

std::string PortMapFolderFor(const std::string& exeFolder) {
    return SettingsFolder(exeFolder) + "/ports";
}
