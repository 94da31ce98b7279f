// tolvane-demo: the demo of `make run` on a machine without a display. It opens the window
// (offscreen), picks the virtual device's port and the sample package the way a person would,
// runs one upgrade through the window, prints its progress and result, and saves a screenshot of
// the finished window. The user's Config.ini is left alone: the demo's settings go to a
// temporary file.
#include "app/MainForm.h"
#include "app/PortSettings.h"
#include "app/UserDialogs.h"
#include "toolkit/qt/QtToolkit.h"

#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
using tk::qt::Q;

void Say(const QString& text) {
    std::printf("%s\n", text.toUtf8().constData());
    std::fflush(stdout);
}
void Say(const std::string& text) {
    Say(QString::fromStdString(text));
}
void Say(const char* text) {
    Say(QString::fromUtf8(text));
}

int Usage(const char* self) {
    std::fprintf(stderr, "usage: %s --com N --package FILE [--screenshot OUT.png]\n", self);
    return 2;
}

struct DemoArgs {
    int Com = 0;
    QString Package;
    QString Screenshot;
};

bool ParseArgs(int argc, char** argv, DemoArgs& out) {
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--com"))
            out.Com = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--package"))
            out.Package = QString::fromLocal8Bit(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--screenshot"))
            out.Screenshot = QString::fromLocal8Bit(argv[i + 1]);
        else
            return false;
    }
    return out.Com >= 1 && out.Com <= 256 && !out.Package.isEmpty();
}

// The port panel as a person sets it: the device's port at 115200 8N1; both device modes at
// 115200bps without parity, as the virtual device is started. True once the port is open.
bool OpenPort(TMForm& form, int com) {
    MCPort1.SetPort(com);
    MCPort1.SetBaudRate(115200);
    MCPort1.SetParity(0);
    MCPort1.SetByteSize(8);
    MCPort1.SetStopBits(0);
    for (QComboBox* box : {Q(form.RzComboBox6), Q(form.RzComboBox7)})
        box->setCurrentIndex(box->findText("115200bps"));
    for (QComboBox* box : {Q(form.RzComboBox8), Q(form.RzComboBox9)})
        box->setCurrentIndex(0);
    Q(form.RzBitBtn1)->click();
    Say(Q(form.RzStatusPane3)->text());
    return MCPort1.IsOpen();
}

// The package chosen, then the run, told as its status and progress change; true on success.
bool RunUpgrade(TMForm& form, const QString& package) {
    SetOpenFileHook([&] { return package.toStdString(); });
    Q(form.RzButton1)->click();
    SetOpenFileHook({});
    Say("固件信息:\n  " + Q(form.RzMemo1)->toPlainText().replace("\n", "\n  "));

    QString lastStatus;
    int lastPercent = -1;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const QString status = Q(form.RzStatusPane3)->text();
        if (!status.isEmpty() && status != lastStatus) Say("  " + status);
        lastStatus = status;
        const int percent = Q(form.RzProgressBar1)->value();
        // One line per tenth of the way, not per block.
        if (Q(form.RzProgressBar1)->isVisible() && percent / 10 != lastPercent / 10)
            Say(QString("  %1 %").arg(percent));
        if (Q(form.RzProgressBar1)->isVisible()) lastPercent = percent;
    });
    watch.start(20);
    Say("开始升级");
    Q(form.RzButton3)->click(); // returns when the run has ended
    watch.stop();

    QLabel* label = Q(form.RzLabel9);
    Say("Result: " + (label->isVisible() ? label->text() : "(none)"));
    return label->isVisible() && label->text() == "升级成功";
}
} // namespace

int main(int argc, char** argv) {
    DemoArgs args;
    if (!ParseArgs(argc, argv, args)) return Usage(argv[0]);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

    TApplication app(argc, argv);
    QTemporaryDir settings;
    SetConfigIniPath((settings.path() + "/Config.ini").toStdString());
    SetMessageBoxHook([](const std::string& text) { Say("[message box] " + text); });
    SetExceptionBoxHook([](const std::string& text) { Say("[error] " + text); });

    TMForm form;
    form.Show();
    QWidget* window = Q(form.FormWindow.get());
    int result = 1;
    QTimer::singleShot(0, window, [&] {
        if (OpenPort(form, args.Com)) {
            result = RunUpgrade(form, args.Package) ? 0 : 1;
            if (!args.Screenshot.isEmpty() && !window->grab().save(args.Screenshot, "PNG"))
                Say("cannot write " + args.Screenshot);
        }
        window->close();
    });
    app.exec();
    return result;
}
