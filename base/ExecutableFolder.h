#pragma once
// Where the running program lies: the settings file and the port map are looked for beside it.
#include <string>

// The folder of the running executable (symbolic links resolved); "." when it cannot be told.
std::string ExecutableFolder();
