#pragma once
// Where a program keeps Config.ini and its port map ("ports"). A portable copy keeps them beside
// its executable. An installed one (executable in a folder the user cannot write, holding no
// Config.ini, such as /usr/bin) keeps them in $XDG_CONFIG_HOME/tolvane, by default
// ~/.config/tolvane; on Windows a folder under Program Files counts as installed too, and the
// user's folder is %APPDATA%\Tolvane. Every program of the suite uses this one rule, so they
// find the same files. Qt-free.

#include "base/ExecutableFolder.h"

#include <string>

// The folder for Config.ini and "ports" of a program whose executable lies in exeFolder.
std::string SettingsFolder(const std::string& exeFolder);

// SettingsFolder(exeFolder) joined with "Config.ini" / "ports". ConfigIniFile also creates the
// per-user folder (mode 0700) when it is missing, so that the file can be written.
std::string ConfigIniFile(const std::string& exeFolder);
std::string PortMapFolderFor(const std::string& exeFolder);
