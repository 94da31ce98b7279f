#pragma once
// The device's two text commands (reset, version query) and the switch of the port between the
// device's working and upgrade line settings.

#include "dialogue/ReplyRecognition.h"

#include <QString>

// Resets the device into its loader; true when it answered "\r\nOK...". The caller has cleared
// DialogueStopped and put the port into the working mode.
bool ResetDevice();
// Asks for the firmware version; on true versionText (ReplyBufferSize bytes) holds the reply
// without its leading "\r\n".
bool QueryVersion(char* versionText);
// Puts the port component at the baud rate and parity of the working mode (true) or the upgrade
// mode (false); does nothing when either box of the mode has no usable selection.
void ApplyLineMode(bool working);
// The baud rate of a baud-rate item such as "115200bps", or 0 when the text names none.
int BaudRateOfItem(const QString& text);
// Device text for the screen: GB18030 (a superset of GBK and ASCII) when it decodes cleanly.
QString DeviceText(const char* text);
