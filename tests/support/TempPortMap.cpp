#include "tests/support/TempPortMap.h"

#include "serial/PortMap.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>

namespace tolvane::test {

TempPortMap::TempPortMap() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tolvane-ports-XXXXXX");
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    Dir = pattern;
    Previous = PortMapFolder();
    SetPortMapFolder(Dir);
}

TempPortMap::~TempPortMap() {
    SetPortMapFolder(Previous);
    std::error_code ignored;
    std::filesystem::remove_all(Dir, ignored);
}

void TempPortMap::Add(int number, const std::string& device) {
    AddRawLink("COM" + std::to_string(number), device);
}

void TempPortMap::AddRawLink(const std::string& name, const std::string& target) {
    std::string link = Dir + "/" + name;
    RemoveRaw(name);
    if (symlink(target.c_str(), link.c_str()) != 0)
        throw std::runtime_error("symlink failed: " + link);
}

void TempPortMap::Remove(int number) {
    RemoveRaw("COM" + std::to_string(number));
}

void TempPortMap::RemoveRaw(const std::string& name) {
    std::error_code ignored;
    std::filesystem::remove(Dir + "/" + name, ignored);
}

} // namespace tolvane::test
