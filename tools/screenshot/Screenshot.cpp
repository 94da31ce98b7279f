// tolvane-screenshot [--upgrade] <out.png>: renders the main window as it looks after start-up
// into a PNG, without a display (the offscreen platform is used unless another one is asked for).
// --upgrade also shows the controls an upgrade run reveals (progress and result), for reviewing
// the layout.

#include <QImage>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/MainForm.h"
#include "toolkit/qt/QtToolkit.h"

using tk::qt::Q;

int main(int argc, char** argv) {
    const bool upgradeLook = argc == 3 && std::strcmp(argv[1], "--upgrade") == 0;
    if (argc != 2 && !upgradeLook) {
        std::fprintf(stderr, "usage: %s [--upgrade] <out.png>\n", argv[0]);
        return 2;
    }
    const char* out = argv[argc - 1];
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    TMForm form;
    if (upgradeLook) {
        form.RzLabel8->SetVisible(true);
        form.RzProgressBar1->SetPercent(42);
        form.RzProgressBar1->SetVisible(true);
        form.RzLabel9->SetCaption("升级成功");
        form.RzLabel9->SetFontColour({0, 128, 0});
        form.RzLabel9->SetVisible(true);
        form.RzButton3->SetCaption("停止");
        form.RzEdit1->SetText("/home/user/firmware/K46_v3.enc2");
        form.RzMemo1->AppendLine("K46方案Modem升级");
        form.RzMemo1->AppendLine("文件MD5:9E107D9D372BB6826BD81D3542A419D6");
        form.RzMemo1->AppendLine("升级文件信息:示例固件 V3.1");
        form.RzStatusPane3->SetCaption("COM1 Opened");
    }
    form.Show();
    QApplication::processEvents();
    // The window is only rendered, never closed: Config.ini stays as it was.
    const QPixmap shot = Q(form.FormWindow.get())->grab();
    if (!shot.save(QString::fromLocal8Bit(out), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", out);
        return 1;
    }
    return 0;
}
