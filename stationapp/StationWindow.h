#pragma once
// The station window: a thin view of the station library on the toolkit. The tiles are drawn
// from the board on the user-interface thread, handed over at most ten times a second.
#include "serial/LineSettings.h"
#include "stationapp/Board.h"
#include "stationapp/SlotDialog.h"
#include "stationapp/StationIni.h"
#include "stationapp/StationLayout.h"
#include "stationapp/StationRun.h"
#include "toolkit/Toolkit.h"

#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace stationapp {

// What the command line gives for this run only (nothing of it is saved).
struct RunOverrides {
    std::optional<std::string> Package, LogPath, ExpectVersion, Lot, Operator;
    std::optional<std::vector<station::SlotSetup>> Slots;
    std::optional<LineMode> Working, Loader;
    bool Start = false;
};

struct WindowFiles {
    std::string StationIni, ConfigIni, DefaultLog;
};

// The modal dialogs, replaceable so that tests never block on one.
struct WindowDialogs {
    std::function<void(const std::string&)> Message = tk::MessageBox;
    std::function<bool(const std::string&)> Confirm = tk::ConfirmBox;
    std::function<std::string(const std::string&)> ChooseFile = tk::OpenFileDialog;
    // The "工位设置" dialog: the slots chosen, none when cancelled.
    std::function<std::optional<std::vector<station::SlotSetup>>(
        const std::vector<station::SlotSetup>&)>
        SetUpSlots = EditSlots;
};

class StationWindow {
  public:
    StationWindow(WindowFiles files, const RunOverrides& overrides, WindowDialogs dialogs = {});
    ~StationWindow();
    StationWindow(const StationWindow&) = delete;
    StationWindow& operator=(const StationWindow&) = delete;

    tk::Form& Form() { return *Window; }
    Board& Events() { return Tiles; }
    // Shows the window; starts at once when asked to (or says why it cannot).
    void Show();
    bool Running() const { return Started; }

  private:
    void BuildControls();
    void SetUpSlots();
    void Rebuild(std::vector<station::SlotSetup> slots);
    void Name();
    void FillModes(const RunOverrides& overrides);
    void LoadChosenPackage();
    void Choose();
    void Start();
    std::string StartRefusal() const;
    station::StationSettings SettingsFromControls() const;
    void Stop();
    void Revive(size_t index);
    void Lock(bool running);
    void DrawChanges();
    void DrawTile(size_t index, const Tile& tile);
    void DrawFooter();
    void Tick();
    void CheckEnd();
    bool CloseQuery();
    void Save();
    StationConfig Current() const;

    const WindowFiles Files;
    const WindowDialogs Dialogs;
    StationConfig Saved, Given; // as read, and with the overrides
    std::optional<std::vector<station::SlotSetup>> SlotsGiven;
    std::optional<LineMode> WorkingGiven, LoaderGiven;
    bool StartAtOnce = false;
    std::vector<station::SlotSetup> Slots;
    std::unique_ptr<StationLayout> Layout;
    std::unique_ptr<tk::Form> Window;
    tk::Timer* Clock = nullptr;
    Board Tiles;
    std::unique_ptr<StationRun> Run;
    std::unique_ptr<FirmwarePackageData> Package;
    std::string Md5;
    std::optional<std::string> Signer; // the signing key, when keys are trusted
    bool PackageValid = false, Started = false, LogReported = false, Shown = false;
    std::unique_ptr<tk::NotifyWindow> HandOver;
    std::thread Courier;
};

} // namespace stationapp
