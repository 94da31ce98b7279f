#pragma once

#include "base/FileAccess.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// A fresh folder in the temporary folder, removed with everything in it at the end of the test.
class TempDir {
  public:
    TempDir() {
        const auto base = std::filesystem::temp_directory_path();
        auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (;; ++stamp) {
            const auto candidate = base / ("tolvane-package-" + std::to_string(stamp));
            if (std::filesystem::create_directory(candidate)) {
                path_ = candidate.generic_string();
                break;
            }
        }
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
        const std::string path = File(name);
        std::ofstream(PathFromUtf8(path), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};
