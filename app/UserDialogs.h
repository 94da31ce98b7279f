#pragma once
// The window's modal dialogs, behind a seam: users get the real message boxes and file dialog,
// tests install hooks that answer at once (no test ever blocks on a modal window).

#include <QString>
#include <functional>

class QWidget;

// Modal message box, centred on the screen: title "Tolvane", the text, no icon, one OK button.
void ShowMessageBox(const QString& text);
// The framework's exception box: error icon, title "Tolvane", the message with a full stop
// appended when its last character sorts after "." (see ExceptionBoxText).
void ShowExceptionBox(const QString& message);
// The message as the exception box shows it.
QString ExceptionBoxText(const QString& message);
// File-open dialog for one existing file; the full path, or an empty text when cancelled.
QString ChooseOpenFile(QWidget* parent, const QString& filter);

// Test hooks; an empty function restores the real dialog. The exception hook receives the text
// as shown (full stop rule applied).
void SetMessageBoxHook(std::function<void(const QString&)> hook);
void SetExceptionBoxHook(std::function<void(const QString&)> hook);
void SetOpenFileHook(std::function<QString()> hook);
