// The port map folder a program has chosen, shared by both platforms' discovery.
#include "serial/PortMap.h"

#include <mutex>

namespace {

// Never destroyed: a static port component's watcher thread may still ask during program exit.
std::mutex FolderLock;
std::string& FolderOverride() { // empty: the platform's default
    static std::string* folder = new std::string;
    return *folder;
}

} // namespace

void SetPortMapFolder(std::string folder) {
    std::lock_guard<std::mutex> lock(FolderLock);
    FolderOverride() = std::move(folder);
}

std::string PortMapFolder() {
    {
        std::lock_guard<std::mutex> lock(FolderLock);
        if (!FolderOverride().empty()) return FolderOverride();
    }
    return DefaultPortMapFolder();
}
