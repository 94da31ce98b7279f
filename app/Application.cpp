#include "app/Application.h"

#include "app/UserDialogs.h"

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // Only the name: a display name would be appended to every window title on X11.
    setApplicationName(QStringLiteral("Tolvane"));
    // Lets the desktop match the window to its installed entry (and icon).
    setDesktopFileName(QStringLiteral("org.tolvane.Tolvane"));
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ShowCurrentException();
        return false;
    }
}

void ShowCurrentException() {
    try {
        throw;
    } catch (const std::exception& e) {
        ShowExceptionBox(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowExceptionBox(QString());
    }
}

void RunHandler(const std::function<void()>& handler) {
    try {
        handler();
    } catch (...) {
        ShowCurrentException();
    }
}
