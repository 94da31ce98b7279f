// The application object, the message pump, modal dialogs and the program's version.
#include "toolkit/qt/QtInternal.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QMessageBox>

#include "Version.h"

namespace tk {

namespace qt {
void (*exceptionSink)() = nullptr;
} // namespace qt

namespace {

using qt::ToQt;

void RunBox(QMessageBox::Icon icon, const std::string& text) {
    // No parent: the box is centred on the screen rather than on the window.
    QMessageBox box(icon, QCoreApplication::applicationName(), ToQt(text), QMessageBox::Ok);
    box.exec();
}

} // namespace

void SetExceptionSink(void (*sink)()) {
    qt::exceptionSink = sink;
}

void MessageBox(const std::string& text) {
    RunBox(QMessageBox::NoIcon, text);
}

void ExceptionBox(const std::string& text) {
    RunBox(QMessageBox::Critical, text);
}

bool ConfirmBox(const std::string& text) {
    QMessageBox box(QMessageBox::Question, QCoreApplication::applicationName(), ToQt(text),
                    QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

std::string OpenFileDialog(const std::string& filter) {
    return QFileDialog::getOpenFileName(QApplication::activeWindow(), QString(), QString(),
                                        ToQt(filter))
        .toStdString();
}

void SetApplicationTitle(const std::string& title) {
    // Only the name: a display name would be appended to every window title on X11.
    QCoreApplication::setApplicationName(ToQt(title));
}

std::string ProgramVersion() {
    return TOLVANE_VERSION;
}

void WaitOnce() {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void DeliverPending() {
    QCoreApplication::sendPostedEvents();
}

namespace {
class QtApplication : public Application {
  public:
    QtApplication(int& argc, char** argv) : App(argc, argv) {}
    void Run() override { App.exec(); }

  private:
    TApplication App;
};
} // namespace

std::unique_ptr<Application> MakeApplication(int& argc, char** argv) {
    return std::make_unique<QtApplication>(argc, argv);
}

} // namespace tk

// --- the application object ----------------------------------------------------------------

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // Lets the desktop match the window to its installed entry (and icon).
    setDesktopFileName(QStringLiteral("org.tolvane.Tolvane"));
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        if (tk::qt::exceptionSink) tk::qt::exceptionSink();
        return false;
    }
}
