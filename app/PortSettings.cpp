#include "app/PortSettings.h"

#include <utility>

#include "app/IniProfile.h"
#include "app/MainForm.h"
#include "app/SettingsLocation.h"

namespace {

const std::string kSection = "COMPort1";
std::string overridePath;

struct ModeKey {
    const char* key;
    tk::ComboBox* TMForm::*combo;
};
// The order in which the keys are written.
const ModeKey kModeKeys[] = {{"BaudrateWk", &TMForm::RzComboBox6},
                             {"ParityWk", &TMForm::RzComboBox8},
                             {"BaudrateBt", &TMForm::RzComboBox7},
                             {"ParityBt", &TMForm::RzComboBox9}};

} // namespace

std::string ConfigIniPath() {
    if (!overridePath.empty()) return overridePath;
    return ConfigIniFile(ExecutableFolder());
}

void SetConfigIniPath(std::string path) {
    overridePath = std::move(path);
}

void LoadPortSettings() {
    const IniProfile ini(ConfigIniPath());
    MCPort1.SetPort(ini.ReadInteger(kSection, "Port", 1));
    MCPort1.SetBaudRate(ini.ReadInteger(kSection, "Baudrate", 19200));
    const std::string parity = ini.ReadString(kSection, "Parity", "NONE");
    MCPort1.SetParity(parity == "ODD" ? 1 : parity == "EVEN" ? 2 : 0);
    MCPort1.SetByteSize(ini.ReadInteger(kSection, "ByteSize", 8));
    MCPort1.SetStopBits(uint8_t(ini.ReadInteger(kSection, "StopBits", 0)));
}

void SavePortSettings() {
    const IniProfile ini(ConfigIniPath());
    ini.WriteInteger(kSection, "Port", MCPort1.GetPort());
    ini.WriteInteger(kSection, "Baudrate", MCPort1.GetBaudRate());
    const uint8_t parity = MCPort1.GetParity();
    ini.WriteString(kSection, "Parity", parity == 1 ? "ODD" : parity == 2 ? "EVEN" : "NONE");
    ini.WriteInteger(kSection, "ByteSize", MCPort1.GetByteSize());
    ini.WriteInteger(kSection, "StopBits", MCPort1.GetStopBits());
}

void LoadModeSettings() {
    if (!MForm) return;
    const IniProfile ini(ConfigIniPath());
    for (const ModeKey& mode : kModeKeys) {
        tk::ComboBox* combo = MForm->*mode.combo;
        const int index = ini.ReadInteger(kSection, mode.key, -1);
        combo->SetItemIndex(index >= 0 && index < combo->ItemCount() ? index : -1);
    }
}

void SaveModeSettings() {
    if (!MForm) return;
    const IniProfile ini(ConfigIniPath());
    for (const ModeKey& mode : kModeKeys)
        ini.WriteInteger(kSection, mode.key, (MForm->*mode.combo)->ItemIndex());
}
