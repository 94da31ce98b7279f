#include "dialogue/TextCommands.h"

#include "app/MainForm.h"
#include "app/UserDialogs.h"
#include "dialogue/ExchangeEngine.h"

#include <QStringDecoder>

#include <cstring>

namespace {

// Builds the command in a zeroed buffer that also receives the reply.
int CommandExchange(const char* command, char (&buffer)[ReplyBufferSize]) {
    std::memset(buffer, 0, sizeof buffer);
    std::strncpy(buffer, command, sizeof buffer - 1);
    SetReplyTimeout(1000);
    return TextExchange(buffer, buffer);
}

} // namespace

bool ResetDevice() {
    char buffer[ReplyBufferSize];
    return CommandExchange("AT+RESET\r", buffer) == 1 && std::strncmp(buffer, "\r\nOK", 4) == 0;
}

bool QueryVersion(char* versionText) {
    char buffer[ReplyBufferSize];
    if (CommandExchange("AT+VERSION=?\r\n", buffer) != 1) return false;
    if (std::strstr(buffer, "VERSION") == nullptr) return false;
    std::strcpy(versionText, buffer + 2);
    return true;
}

int BaudRateOfItem(const QString& text) {
    const qsizetype end = text.indexOf(QStringLiteral("bps"));
    bool ok = false;
    const int baud = text.left(end < 0 ? text.size() : end).toInt(&ok);
    return ok && baud > 0 ? baud : 0;
}

void ApplyLineMode(bool working) {
    if (DialogueClosing) return;
    QComboBox* baudBox = working ? MForm->RzComboBox6 : MForm->RzComboBox7;
    QComboBox* parityBox = working ? MForm->RzComboBox8 : MForm->RzComboBox9;
    if (baudBox->currentIndex() < 0 || parityBox->currentIndex() < 0) return;
    // An item typed into the editable box that names no rate leaves the port as it is.
    const int baud = BaudRateOfItem(baudBox->itemText(baudBox->currentIndex()));
    if (baud == 0) return;
    MCPort1.SetBaudRate(baud);
    MCPort1.SetParity(uint8_t(parityBox->currentIndex()));
}

QString DeviceText(const char* text) {
    QStringDecoder decoder("GB18030");
    if (decoder.isValid()) {
        QString decoded = decoder.decode(QByteArrayView(text));
        if (!decoder.hasError()) return decoded;
    }
    return QString::fromLatin1(text);
}

void TMForm::RzButton2Click() {
    // One request at a time: a query asked for while another exchange waits is refused.
    if (DialogueBusy()) return;
    char versionText[ReplyBufferSize] = {};
    if (!MCPort1.IsOpen()) {
        ShowMessageBox(QStringLiteral("请先打开串口！"));
        return;
    }
    DialogueActivity activity;
    RzButton2->setEnabled(false);
    DialogueStopped = false;
    ApplyLineMode(true);
    const bool ok = QueryVersion(versionText);
    RzButton2->setEnabled(true);
    if (ok && !DialogueClosing) ShowMessageBox(DeviceText(versionText));
}
