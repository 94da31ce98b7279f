#pragma once
// A temporary port map folder with COM<n> links, made the port map folder while the object
// lives; the earlier folder is restored and the temporary one removed afterwards.
#include <string>

namespace tolvane::test {

class TempPortMap {
  public:
    TempPortMap(); // throws std::runtime_error
    ~TempPortMap();
    TempPortMap(const TempPortMap&) = delete;
    TempPortMap& operator=(const TempPortMap&) = delete;

    const std::string& Folder() const { return Dir; }
    // Maps COM<number> to device (a symbolic link); replaces an existing entry.
    void Add(int number, const std::string& device);
    // Creates an entry with any name pointing anywhere (odd names, dangling links, loops).
    void AddRawLink(const std::string& name, const std::string& target);
    void Remove(int number);
    void RemoveRaw(const std::string& name);

  private:
    std::string Dir;
    std::string Previous;
};

} // namespace tolvane::test
