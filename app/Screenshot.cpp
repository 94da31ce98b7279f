// tolvane-screenshot <out.png>: renders the main window as it looks after start-up into a PNG,
// without a display (the offscreen platform is used unless another one is asked for).

#include <QImage>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>

#include "app/Application.h"
#include "app/MainForm.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <out.png>\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    TMForm form;
    form.show();
    QApplication::processEvents();
    // The window is only rendered, never closed: Config.ini stays as it was.
    const QPixmap shot = form.grab();
    if (!shot.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
