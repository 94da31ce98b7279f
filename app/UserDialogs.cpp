#include "app/UserDialogs.h"

#include <utility>

#include "toolkit/Toolkit.h"

namespace {

std::function<void(const std::string&)> messageBoxHook;
std::function<void(const std::string&)> exceptionBoxHook;
std::function<std::string()> openFileHook;

} // namespace

std::string ExceptionBoxText(const std::string& message) {
    // The last byte of a character beyond ASCII is above "." as every such character is.
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + '.';
    return message;
}

void ShowMessageBox(const std::string& text) {
    if (messageBoxHook) {
        messageBoxHook(text);
        return;
    }
    tk::MessageBox(text);
}

void ShowExceptionBox(const std::string& message) {
    const std::string text = ExceptionBoxText(message);
    if (exceptionBoxHook) {
        exceptionBoxHook(text);
        return;
    }
    tk::ExceptionBox(text);
}

std::string ChooseOpenFile(const std::string& filter) {
    if (openFileHook) return openFileHook();
    return tk::OpenFileDialog(filter);
}

void SetMessageBoxHook(std::function<void(const std::string&)> hook) {
    messageBoxHook = std::move(hook);
}

void SetExceptionBoxHook(std::function<void(const std::string&)> hook) {
    exceptionBoxHook = std::move(hook);
}

void SetOpenFileHook(std::function<std::string()> hook) {
    openFileHook = std::move(hook);
}
