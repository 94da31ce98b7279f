#pragma once
// The window's modal dialogs, behind a seam: users get the real message boxes and file dialog,
// tests install hooks that answer at once (no test ever blocks on a modal window).

#include <functional>
#include <string>

// Modal message box, centred on the screen: title "Tolvane", the text, no icon, one OK button.
void ShowMessageBox(const std::string& text);
// The framework's exception box: error icon, title "Tolvane", the message with a full stop
// appended when its last character sorts after "." (see ExceptionBoxText).
void ShowExceptionBox(const std::string& message);
// The message as the exception box shows it (UTF-8; characters compare as UTF-16 units do).
std::string ExceptionBoxText(const std::string& message);
// File-open dialog for one existing file; the full path, or an empty text when cancelled.
std::string ChooseOpenFile(const std::string& filter);

// Test hooks; an empty function restores the real dialog. The exception hook receives the text
// as shown (full stop rule applied).
void SetMessageBoxHook(std::function<void(const std::string&)> hook);
void SetExceptionBoxHook(std::function<void(const std::string&)> hook);
void SetOpenFileHook(std::function<std::string()> hook);
