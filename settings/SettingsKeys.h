#pragma once
// The settings file's section and keys (Config.ini, SettingsLocation.h), written by the window
// and read by the window and the flasher.
namespace settings_keys {

inline constexpr char Section[] = "COMPort1";

// The port component's line settings.
inline constexpr char Port[] = "Port";
inline constexpr char BaudRate[] = "Baudrate";
inline constexpr char Parity[] = "Parity"; // NONE, ODD or EVEN
inline constexpr char ByteSize[] = "ByteSize";
inline constexpr char StopBits[] = "StopBits";

// Item indexes of the mode combo boxes (-1: none): the baud rate and parity of the device's
// working mode and of its loader.
inline constexpr char WorkingBaudRate[] = "BaudrateWk";
inline constexpr char WorkingParity[] = "ParityWk";
inline constexpr char LoaderBaudRate[] = "BaudrateBt";
inline constexpr char LoaderParity[] = "ParityBt";

} // namespace settings_keys
