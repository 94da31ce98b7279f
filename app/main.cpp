// Entry point of the window program.

#include "app/Application.h"
#include "app/MainForm.h"
#include "settings/SettingsLocation.h"
#include "serial/PortMap.h"

int main(int argc, char** argv) {
    const auto app = tk::MakeApplication(argc, argv);
    // An installed copy keeps its port map with its settings, not beside the executable.
    SetPortMapFolder(PortMapFolderFor(ExecutableFolder()));
    try {
        TMForm form; // sets MForm before FormCreate runs, clears it again if creation fails
        form.Show();
        app->Run();
    } catch (...) {
        ShowCurrentException();
    }
    return 0;
}
