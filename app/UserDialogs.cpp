#include "app/UserDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <utility>

namespace {

std::function<void(const QString&)> messageBoxHook;
std::function<void(const QString&)> exceptionBoxHook;
std::function<QString()> openFileHook;

const QString kTitle = QStringLiteral("Tolvane");

void RunBox(QMessageBox::Icon icon, const QString& text) {
    // No parent: the box is centred on the screen rather than on the window.
    QMessageBox box(icon, kTitle, text, QMessageBox::Ok);
    box.exec();
}

} // namespace

QString ExceptionBoxText(const QString& message) {
    if (!message.isEmpty() && message.back() > QChar(u'.')) return message + u'.';
    return message;
}

void ShowMessageBox(const QString& text) {
    if (messageBoxHook) {
        messageBoxHook(text);
        return;
    }
    RunBox(QMessageBox::NoIcon, text);
}

void ShowExceptionBox(const QString& message) {
    const QString text = ExceptionBoxText(message);
    if (exceptionBoxHook) {
        exceptionBoxHook(text);
        return;
    }
    RunBox(QMessageBox::Critical, text);
}

QString ChooseOpenFile(QWidget* parent, const QString& filter) {
    if (openFileHook) return openFileHook();
    return QFileDialog::getOpenFileName(parent, QString(), QString(), filter);
}

void SetMessageBoxHook(std::function<void(const QString&)> hook) {
    messageBoxHook = std::move(hook);
}

void SetExceptionBoxHook(std::function<void(const QString&)> hook) {
    exceptionBoxHook = std::move(hook);
}

void SetOpenFileHook(std::function<QString()> hook) {
    openFileHook = std::move(hook);
}
