// tolvane-demo: the demo of `make run` on a machine without a display. It opens the window
// (offscreen), picks the virtual device's port and the sample package the way a person would,
// runs one upgrade through the window, prints its progress and result, and saves a screenshot of
// the finished window. The user's Config.ini is left alone: the demo's settings go to a
// temporary file.
#include "app/Application.h"
#include "app/MainForm.h"
#include "app/PortSettings.h"
#include "app/UserDialogs.h"

#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
void Say(const QString& text) {
    std::printf("%s\n", text.toUtf8().constData());
    std::fflush(stdout);
}

int Usage(const char* self) {
    std::fprintf(stderr, "usage: %s --com N --package FILE [--screenshot OUT.png]\n", self);
    return 2;
}
} // namespace

int main(int argc, char** argv) {
    int com = 0;
    QString package;
    QString screenshot;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--com"))
            com = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--package"))
            package = QString::fromLocal8Bit(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--screenshot"))
            screenshot = QString::fromLocal8Bit(argv[i + 1]);
        else
            return Usage(argv[0]);
    }
    if (com < 1 || com > 256 || package.isEmpty()) return Usage(argv[0]);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

    TApplication app(argc, argv);
    QTemporaryDir settings;
    SetConfigIniPath((settings.path() + "/Config.ini").toStdString());
    SetMessageBoxHook([](const QString& text) { Say("[message box] " + text); });
    SetExceptionBoxHook([](const QString& text) { Say("[error] " + text); });

    TMForm form;
    form.show();
    int result = 1;
    QTimer::singleShot(0, &form, [&] {
        // The port panel as a person sets it: the device's port at 115200 8N1; both device modes
        // at 115200bps without parity, as the virtual device is started.
        MCPort1.SetPort(com);
        MCPort1.SetBaudRate(115200);
        MCPort1.SetParity(0);
        MCPort1.SetByteSize(8);
        MCPort1.SetStopBits(0);
        for (QComboBox* box : {form.RzComboBox6, form.RzComboBox7})
            box->setCurrentIndex(box->findText("115200bps"));
        for (QComboBox* box : {form.RzComboBox8, form.RzComboBox9})
            box->setCurrentIndex(0);
        form.RzBitBtn1->click();
        Say(form.RzStatusPane3->text());
        if (!MCPort1.IsOpen()) {
            form.close();
            return;
        }

        SetOpenFileHook([&] { return package; });
        form.RzButton1->click();
        SetOpenFileHook({});
        Say("固件信息:\n  " + form.RzMemo1->toPlainText().replace("\n", "\n  "));

        // Progress and status as they change while the run waits for the device.
        QString lastStatus;
        int lastPercent = -1;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            const QString status = form.RzStatusPane3->text();
            if (!status.isEmpty() && status != lastStatus) Say("  " + status);
            lastStatus = status;
            const int percent = form.RzProgressBar1->value();
            // One line per tenth of the way, not per block.
            if (form.RzProgressBar1->isVisible() && percent / 10 != lastPercent / 10)
                Say(QString("  %1 %").arg(percent));
            if (form.RzProgressBar1->isVisible()) lastPercent = percent;
        });
        watch.start(20);
        Say("开始升级");
        form.RzButton3->click(); // returns when the run has ended
        watch.stop();

        const bool done = form.RzLabel9->isVisible() && form.RzLabel9->text() == "升级成功";
        Say("Result: " + (form.RzLabel9->isVisible() ? form.RzLabel9->text() : "(none)"));
        if (!screenshot.isEmpty() && !form.grab().save(screenshot, "PNG"))
            Say("cannot write " + screenshot);
        result = done ? 0 : 1;
        form.close();
    });
    app.exec();
    return result;
}
