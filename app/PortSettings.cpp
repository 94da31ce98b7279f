#include "app/PortSettings.h"

#include <utility>

#include "settings/IniProfile.h"
#include "app/MainForm.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsLocation.h"

namespace {

namespace keys = settings_keys;

std::string overridePath;

struct ModeKey {
    const char* key;
    tk::ComboBox* TMForm::*combo;
};
// The order in which the keys are written.
const ModeKey kModeKeys[] = {{keys::WorkingBaudRate, &TMForm::RzComboBox6},
                             {keys::WorkingParity, &TMForm::RzComboBox8},
                             {keys::LoaderBaudRate, &TMForm::RzComboBox7},
                             {keys::LoaderParity, &TMForm::RzComboBox9}};

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
    MCPort1.SetPort(ini.ReadInteger(keys::Section, keys::Port, 1));
    MCPort1.SetBaudRate(ini.ReadInteger(keys::Section, keys::BaudRate, 19200));
    const std::string parity = ini.ReadString(keys::Section, keys::Parity, "NONE");
    MCPort1.SetParity(parity == "ODD" ? 1 : parity == "EVEN" ? 2 : 0);
    MCPort1.SetByteSize(ini.ReadInteger(keys::Section, keys::ByteSize, 8));
    MCPort1.SetStopBits(uint8_t(ini.ReadInteger(keys::Section, keys::StopBits, 0)));
}

void SavePortSettings() {
    const IniProfile ini(ConfigIniPath());
    ini.WriteInteger(keys::Section, keys::Port, MCPort1.GetPort());
    ini.WriteInteger(keys::Section, keys::BaudRate, MCPort1.GetBaudRate());
    const uint8_t parity = MCPort1.GetParity();
    const char* parityText = parity == 1 ? "ODD" : parity == 2 ? "EVEN" : "NONE";
    ini.WriteString(keys::Section, keys::Parity, parityText);
    ini.WriteInteger(keys::Section, keys::ByteSize, MCPort1.GetByteSize());
    ini.WriteInteger(keys::Section, keys::StopBits, MCPort1.GetStopBits());
}

void LoadModeSettings() {
    if (!MForm) return;
    const IniProfile ini(ConfigIniPath());
    for (const ModeKey& mode : kModeKeys) {
        tk::ComboBox* combo = MForm->*mode.combo;
        const int index = ini.ReadInteger(keys::Section, mode.key, -1);
        combo->SetItemIndex(index >= 0 && index < combo->ItemCount() ? index : -1);
    }
}

void SaveModeSettings() {
    if (!MForm) return;
    const IniProfile ini(ConfigIniPath());
    for (const ModeKey& mode : kModeKeys)
        ini.WriteInteger(keys::Section, mode.key, (MForm->*mode.combo)->ItemIndex());
}
