// Windows: every copy keeps Config.ini (and its port list needs no map) beside the executable,
// as a portable copy does on Linux. ExecutableFolder comes from the port discovery.
#include "app/SettingsLocation.h"

std::string SettingsFolder(const std::string& exeFolder) {
    return exeFolder;
}

std::string ConfigIniFile(const std::string& exeFolder) {
    return exeFolder + "\\Config.ini";
}

std::string PortMapFolderFor(const std::string& exeFolder) {
    return exeFolder + "\\ports";
}
