#include "stationapp/StationIni.h"

#include "settings/IniFile.h"
#include "settings/IniProfile.h"
#include "settings/SettingsLocation.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace stationapp {

namespace {

constexpr char Section[] = "Station";
constexpr char SlotSection[] = "Slots";

std::string SlotKey(const char* what, size_t index) {
    return what + std::to_string(index + 1);
}

void WriteKeys(const IniProfile& ini, const StationConfig& config) {
    ini.WriteString(Section, "Package", config.Package);
    ini.WriteString(Section, "ExpectVersion", config.ExpectVersion);
    ini.WriteString(Section, "Lot", config.Lot);
    ini.WriteString(Section, "Operator", config.Operator);
    ini.WriteString(Section, "Log", config.LogPath);
    const int before = ini.ReadInteger(SlotSection, "Count", 0);
    ini.WriteInteger(SlotSection, "Count", int(config.Slots.size()));
    for (size_t i = 0; i < config.Slots.size(); ++i) {
        ini.WriteString(SlotSection, SlotKey("Name", i), config.Slots[i].Name);
        ini.WriteString(SlotSection, SlotKey("Port", i), config.Slots[i].Port);
    }
    // Slots taken away leave no stale names behind.
    for (size_t i = config.Slots.size(); i < size_t(std::max(before, 0)) && i < 256; ++i) {
        ini.WriteString(SlotSection, SlotKey("Name", i), "");
        ini.WriteString(SlotSection, SlotKey("Port", i), "");
    }
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// A scratch copy in the temporary folder, removed when done.
class Scratch {
  public:
    explicit Scratch(const std::string& content) {
        static std::atomic<int> serial{0};
        Path = (std::filesystem::temp_directory_path() /
                ("tolvane-station-" + std::to_string(reinterpret_cast<uintptr_t>(this)) + "-" +
                 std::to_string(serial++) + ".ini"))
                   .string();
        std::ofstream(Path, std::ios::binary | std::ios::trunc) << content;
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove(Path, ignored);
    }
    std::string Path;
};

} // namespace

StationConfig ReadStationIni(const std::string& path, const StationConfig& defaults) {
    const IniProfile ini(path);
    StationConfig config;
    config.Package = ini.ReadString(Section, "Package", defaults.Package);
    config.ExpectVersion = ini.ReadString(Section, "ExpectVersion", defaults.ExpectVersion);
    config.Lot = ini.ReadString(Section, "Lot", defaults.Lot);
    config.Operator = ini.ReadString(Section, "Operator", defaults.Operator);
    config.LogPath = ini.ReadString(Section, "Log", defaults.LogPath);
    const int count = ini.ReadInteger(SlotSection, "Count", -1);
    if (count < 0) {
        config.Slots = defaults.Slots;
        return config;
    }
    for (size_t i = 0; i < size_t(count) && i < 256; ++i) {
        station::SlotSetup slot;
        slot.Port = ini.ReadString(SlotSection, SlotKey("Port", i), "");
        slot.Name = ini.ReadString(SlotSection, SlotKey("Name", i), slot.Port);
        if (slot.Name.empty()) slot.Name = slot.Port;
        if (!slot.Port.empty()) config.Slots.push_back(slot);
    }
    return config;
}

void WriteStationIni(const std::string& path, const StationConfig& config) {
    const std::string target = IniWriteTarget(path);
    if (IniTargetKindOf(target) == IniTargetKind::Other) throw IniWriteError(path);
    // Every key goes into a copy first, so the file itself is replaced once.
    Scratch scratch(IniTargetKindOf(target) == IniTargetKind::Regular ? ReadAll(target) : "");
    try {
        WriteKeys(IniProfile(scratch.Path), config);
    } catch (const IniWriteError&) {
        throw IniWriteError(path);
    }
    const std::string content = ReadAll(scratch.Path);
    IniReplacement replacement(target);
    if (!replacement.Valid() || !replacement.Write(content.data(), content.size()) ||
        !replacement.Commit())
        throw IniWriteError(path);
}

std::string StationIniFile(const std::string& exeFolder) {
    // ConfigIniFile makes the per-user folder when it is missing.
    const std::filesystem::path config(ConfigIniFile(exeFolder));
    return (config.parent_path() / "Station.ini").string();
}

} // namespace stationapp
