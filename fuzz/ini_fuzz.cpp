// Arbitrary Config.ini content: reading never fails, a write then a re-read gives the written
// value, and every line the write did not own is still in the file.
#include "settings/IniProfile.h"
#include "fuzz/FuzzCheck.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <unistd.h>

namespace {
std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Lines without their line ends, counted.
std::map<std::string, int> Lines(const std::string& text) {
    std::map<std::string, int> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        ++lines[line];
        start = end + 1;
    }
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = ScratchFolder("ini_fuzz") + "/Config.ini";
    const std::string before(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << before;
    }
    IniProfile ini(path);
    (void)ini.ReadInteger("COMPort1", "Port", 1);
    (void)ini.ReadString("COMPort1", "Parity", "NONE");

    try {
        ini.WriteInteger("COMPort1", "BaudrateWk", -1);
    } catch (const IniWriteError&) {
        Check(false, "a writable folder accepts the write");
    }
    Check(ini.ReadInteger("COMPort1", "BaudrateWk", 7) == -1, "written value reads back");

    // Every line of the old file is still there, but for at most the one line the key replaced.
    const auto old_lines = Lines(before);
    const auto new_lines = Lines(Slurp(path));
    int missing = 0;
    for (const auto& [line, count] : old_lines) {
        auto it = new_lines.find(line);
        const int kept = it == new_lines.end() ? 0 : it->second;
        if (kept < count) missing += count - kept;
    }
    Check(missing <= 1, "unknown lines kept");
    unlink(path.c_str());
    return 0;
}
