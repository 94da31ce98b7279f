// The device's two text commands (reset, version query) and the switch of the port between the
// device's working and upgrade line settings.
#include "dialogue/Dialogue.h"

#include <cstring>

// Builds the command in a zeroed buffer that also receives the reply.
int Dialogue::CommandExchange(const char* command, char (&buffer)[ReplyBufferSize]) {
    std::memset(buffer, 0, sizeof buffer);
    std::strncpy(buffer, command, sizeof buffer - 1);
    SetReplyTimeout(1000);
    return TextExchange(buffer, buffer);
}

bool Dialogue::ResetDevice() {
    char buffer[ReplyBufferSize];
    return CommandExchange("AT+RESET\r", buffer) == TextReplied &&
           std::strncmp(buffer, "\r\nOK", 4) == 0;
}

bool Dialogue::QueryVersion(char* versionText) {
    char buffer[ReplyBufferSize];
    if (CommandExchange("AT+VERSION=?\r\n", buffer) != TextReplied) return false;
    if (std::strstr(buffer, "VERSION") == nullptr) return false;
    std::strcpy(versionText, buffer + 2);
    return true;
}

void Dialogue::ApplyLineMode(bool working) {
    if (DialogueClosing) return;
    LineMode mode;
    if (!Seams.Modes->ModeOf(working, mode) || mode.Baud == 0) return;
    Seams.Port->SetBaudRate(int(mode.Baud));
    Seams.Port->SetParity(mode.Parity);
}
