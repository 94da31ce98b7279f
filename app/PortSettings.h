#pragma once
// The settings file Config.ini, section COMPort1: the port component's line settings and the
// selections of the four mode combo boxes, read once at window creation and written once when
// the window closes.

#include <string>

// Config.ini beside the executable, or in the per-user folder of an installed copy
// (SettingsLocation.h), unless overridden.
std::string ConfigIniPath();
// Tests point the settings at a file of their own; an empty text restores the default.
void SetConfigIniPath(std::string path);

// Port, Baudrate, Parity, ByteSize, StopBits into the port component (its setters select the
// matching combo box items).
void LoadPortSettings();
// The same keys from the port component's getters. Throws IniWriteError; later keys are then not
// written.
void SavePortSettings();
// BaudrateWk, ParityWk, BaudrateBt, ParityBt into the selections of RzComboBox6, 8, 7, 9.
void LoadModeSettings();
// The four selections back, in that order (-1 for none). Throws like SavePortSettings.
void SaveModeSettings();
