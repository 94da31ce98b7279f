#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// A fresh folder under /tmp, removed with everything in it at the end of the test.
class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/tolvane-package-XXXXXX";
        path_ = ::mkdtemp(pattern);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        const std::string path = File(name);
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};
