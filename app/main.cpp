// Entry point of the window program.

#include "app/Application.h"
#include "app/MainForm.h"

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    try {
        TMForm form; // sets MForm before FormCreate runs, clears it again if creation fails
        form.show();
        app.exec();
    } catch (...) {
        ShowCurrentException();
    }
    return 0;
}
