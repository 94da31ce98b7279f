// tolvane-station-demo: the station window of `make run-station` on a machine without a display.
// It opens the window (offscreen) with the given slots and package, clicks "开始", prints each
// tile's state as it changes until the given number of units has passed or failed, saves a
// screenshot of the window then (and, when asked, of the "工位设置" dialog), clicks "停止" and
// waits for the upgrades under way to be recorded. The user's Station.ini and Config.ini are
// left alone: the demo's settings go to a temporary folder.
#include "stationapp/StationWindow.h"
#include "toolkit/qt/QtToolkit.h"
#include "station/Station.h"

#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using tk::qt::Q;

int Usage(const char* self) {
    std::fprintf(stderr,
                 "usage: %s --package FILE --log FILE --slot [NAME=]PORT ... [--units N]\n"
                 "       [--screenshot OUT.png] [--dialog-screenshot OUT.png]\n",
                 self);
    return 2;
}

int Results(const stationapp::Board& board) {
    int n = 0;
    for (const stationapp::Tile& tile : board.Tiles())
        n += tile.Passed + tile.Failed;
    return n;
}

} // namespace

int main(int argc, char** argv) {
    stationapp::RunOverrides overrides;
    std::vector<station::SlotSetup> setups;
    std::string screenshot, dialogShot;
    int units = 4;
    for (int i = 1; i < argc; ++i) {
        const bool value = i + 1 < argc;
        if (!std::strcmp(argv[i], "--package") && value)
            overrides.Package = argv[++i];
        else if (!std::strcmp(argv[i], "--log") && value)
            overrides.LogPath = argv[++i];
        else if (!std::strcmp(argv[i], "--slot") && value) {
            station::SlotSetup slot;
            if (!station::ParseSlot(argv[++i], slot)) return Usage(argv[0]);
            setups.push_back(slot);
        } else if (!std::strcmp(argv[i], "--units") && value)
            units = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--screenshot") && value)
            screenshot = argv[++i];
        else if (!std::strcmp(argv[i], "--dialog-screenshot") && value)
            dialogShot = argv[++i];
        else
            return Usage(argv[0]);
    }
    if (!overrides.Package || !overrides.LogPath || setups.empty() || units < 1)
        return Usage(argv[0]);
    overrides.Slots = setups;
    auto application = tk::MakeApplication(argc, argv);
    tk::SetApplicationTitle("Tolvane 工作站");
    QTemporaryDir settings;
    const std::string folder = settings.path().toStdString();
    std::ofstream(folder + "/Config.ini")
        << "[COMPort1]\nBaudrateWk=9\nParityWk=0\nBaudrateBt=9\nParityBt=0\n";
    stationapp::WindowDialogs dialogs;
    dialogs.Message = [](const std::string& text) { std::printf("message: %s\n", text.c_str()); };
    dialogs.Confirm = [](const std::string&) { return true; };
    stationapp::StationWindow window(
        {folder + "/Station.ini", folder + "/Config.ini", *overrides.LogPath}, overrides, dialogs);
    window.Show();
    if (!dialogShot.empty()) {
        stationapp::SlotDialog dialog(setups);
        Q(&dialog.Form())->show();
        if (!Q(&dialog.Form())->grab().save(QString::fromStdString(dialogShot), "PNG"))
            std::fprintf(stderr, "could not save %s\n", dialogShot.c_str());
    }
    Q(window.Form().Get<tk::Button>("StartButton"))->click();
    if (!window.Running()) {
        std::printf("%s\n", window.Form().Get<tk::Label>("FooterLabel")->Caption().c_str());
        return 1;
    }
    std::vector<std::string> shown(setups.size());
    bool stopping = false;
    QTimer watch; // the tiles as the window draws them, five times a second
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (size_t i = 0; i < setups.size(); ++i) {
            const std::string state =
                window.Form().Get<tk::Label>(stationapp::TileNamesOf(int(i)).State)->Caption();
            if (state.rfind("升级中", 0) != 0 && state != shown[i])
                std::printf("工位 %s: %s\n", setups[i].Name.c_str(), state.c_str());
            shown[i] = state;
        }
        if (!stopping && Results(window.Events()) >= units) {
            stopping = true;
            if (!screenshot.empty() &&
                !Q(&window.Form())->grab().save(QString::fromStdString(screenshot), "PNG"))
                std::fprintf(stderr, "could not save %s\n", screenshot.c_str());
            std::printf("%s\n", window.Form().Get<tk::Label>("FooterLabel")->Caption().c_str());
            Q(window.Form().Get<tk::Button>("StopButton"))->click();
        }
        if (stopping && !window.Running()) QApplication::quit();
    });
    watch.start(200);
    application->Run();
    return 0;
}
