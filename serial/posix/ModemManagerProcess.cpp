#include "serial/ModemInhibition.h"

#include <cctype>
#include <dirent.h>
#include <fstream>
#include <string>

bool ModemManagerRunning() {
    DIR* proc = opendir("/proc");
    if (!proc) return false;
    bool found = false;
    while (dirent* entry = readdir(proc)) {
        if (!std::isdigit(static_cast<unsigned char>(entry->d_name[0]))) continue;
        // comm holds the name cut to 15 characters; "ModemManager" fits whole.
        std::ifstream comm(std::string("/proc/") + entry->d_name + "/comm");
        std::string name;
        if (std::getline(comm, name) && name == "ModemManager") {
            found = true;
            break;
        }
    }
    closedir(proc);
    return found;
}
