#include "stationapp/StationWindow.h"

#include "base/ExecutableFolder.h"
#include "settings/IniProfile.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsLocation.h"
#include "package/PackageText.h"
#include "package/Signature.h"

#include <chrono>
#include <cstdio>
#include <iterator>

namespace stationapp {

namespace {

constexpr auto MinimumRedrawGap = std::chrono::milliseconds(100);

const char* const TopNames[] = {"PackageEdit",  "ChooseButton", "ExpectEdit",    "LotEdit",
                                "OperatorEdit", "WorkingBaud",  "WorkingParity", "LoaderBaud",
                                "LoaderParity", "SlotsButton"};

// The item of a mode's baud rate and parity in the lists, -1 where none matches.
int BaudIndex(const LineMode& mode) {
    const std::vector<std::string> rates = SplitItems(BaudRateItems);
    for (size_t i = 0; i < rates.size(); ++i)
        if (uint32_t(BaudRateOfItem(rates[i])) == mode.Baud) return int(i);
    return -1;
}

std::string Override(const std::optional<std::string>& value, const std::string& saved) {
    return value ? *value : saved;
}

// The value to keep: what the person left as the command line gave it is not saved.
std::string Kept(const std::string& now, const std::string& given, const std::string& saved) {
    return now == given ? saved : now;
}

} // namespace

StationWindow::StationWindow(WindowFiles files, const RunOverrides& o, WindowDialogs dialogs)
    : Files(std::move(files)), Dialogs(std::move(dialogs)), SlotsGiven(o.Slots),
      WorkingGiven(o.Working), LoaderGiven(o.Loader), StartAtOnce(o.Start) {
    StationConfig defaults;
    defaults.LogPath = Files.DefaultLog;
    Saved = ReadStationIni(Files.StationIni, defaults);
    Given = Saved;
    Given.Package = Override(o.Package, Saved.Package);
    Given.LogPath = Override(o.LogPath, Saved.LogPath);
    Given.ExpectVersion = Override(o.ExpectVersion, Saved.ExpectVersion);
    Given.Lot = Override(o.Lot, Saved.Lot);
    Given.Operator = Override(o.Operator, Saved.Operator);
    Slots = o.Slots ? *o.Slots : Saved.Slots;
    BuildControls();
    FillModes(o);
    LoadChosenPackage();
    Run = std::make_unique<StationRun>(Tiles, [this] { Tiles.Poke(); });
    HandOver = tk::MakeNotifyWindow([this](int) { DrawChanges(); });
    Courier = std::thread([this] {
        // Hands the changes over, then lets them gather for a tenth of a second.
        for (;;) {
            if (!Tiles.WaitForChange(std::chrono::seconds(1))) {
                if (HandOver->Released()) return;
                continue;
            }
            if (!HandOver->Send(1)) return;
            std::this_thread::sleep_for(MinimumRedrawGap);
        }
    });
}

StationWindow::~StationWindow() {
    Tiles.Close();
    if (HandOver) HandOver->Release();
    if (Courier.joinable()) Courier.join();
    Run.reset(); // ends every slot at once, should the window go while they run
}

void StationWindow::BuildControls() {
    Layout = std::make_unique<StationLayout>(int(Slots.size()));
    Window = tk::MakeForm(Layout->Form());
    Window->SetCaption("Tolvane 工作站 " + tk::ProgramVersion());
    Window->Get<tk::Edit>("PackageEdit")->SetText(Given.Package);
    Window->Get<tk::Edit>("ExpectEdit")->SetText(Given.ExpectVersion);
    Window->Get<tk::Edit>("LotEdit")->SetText(Given.Lot);
    Window->Get<tk::Edit>("OperatorEdit")->SetText(Given.Operator);
    Window->Get<tk::Label>("LogLabel")->SetCaption("记录：" + Given.LogPath);
    Window->Get<tk::Button>("ChooseButton")->OnClick = [this] { Choose(); };
    Window->Get<tk::Button>("StartButton")->OnClick = [this] { Start(); };
    Window->Get<tk::Button>("StopButton")->OnClick = [this] { Stop(); };
    Window->Get<tk::Button>("SlotsButton")->OnClick = [this] { SetUpSlots(); };
    std::vector<std::pair<std::string, std::string>> tiles;
    for (size_t i = 0; i < Slots.size(); ++i) {
        tiles.emplace_back(Slots[i].Name, Slots[i].Port);
        Window->Get<tk::Button>(TileNamesOf(int(i)).Revive)->OnClick = [this, i] { Revive(i); };
    }
    Tiles.Reset(tiles);
    Clock = Window->AddTimer(1000, false);
    Clock->OnTimer = [this] { Tick(); };
    Window->OnCloseQuery = [this] { return CloseQuery(); };
    Window->OnClose = [this] { Save(); };
    Name();
    Lock(false);
    DrawChanges();
}

// The names a screen reader announces; the tiles name themselves as they change.
void StationWindow::Name() {
    const std::pair<const char*, const char*> names[] = {{"PackageEdit", "固件"},
                                                         {"ExpectEdit", "预期版本"},
                                                         {"LotEdit", "批次"},
                                                         {"OperatorEdit", "操作员"},
                                                         {"WorkingBaud", "工作时 波特率"},
                                                         {"WorkingParity", "工作时 校验位"},
                                                         {"LoaderBaud", "升级时 波特率"},
                                                         {"LoaderParity", "升级时 校验位"},
                                                         {"PackageLine", "固件信息"},
                                                         {"FooterLabel", "统计"},
                                                         {"LogLabel", "记录文件"}};
    for (const auto& [control, name] : names)
        Window->Find(control)->SetAccessibleName(name);
    for (const char* button : {"ChooseButton", "SlotsButton", "StartButton", "StopButton"})
        Window->Find(button)->SetAccessibleName(Window->Get<tk::Button>(button)->Caption());
    const std::pair<const char*, const char*> buddies[] = {
        {"PackageLabel", "PackageEdit"}, {"ExpectLabel", "ExpectEdit"},
        {"LotLabel", "LotEdit"},         {"OperatorLabel", "OperatorEdit"},
        {"WorkingLabel", "WorkingBaud"}, {"LoaderLabel", "LoaderBaud"}};
    for (const auto& [label, control] : buddies)
        Window->Get<tk::Label>(label)->SetBuddy(Window->Find(control));
    for (size_t i = 0; i < Slots.size(); ++i) {
        const TileNames n = TileNamesOf(int(i));
        Window->Find(n.Revive)->SetAccessibleName("恢复 工位 " + Slots[i].Name);
        Window->Find(n.Bar)->SetAccessibleName("工位 " + Slots[i].Name + " 升级进度");
    }
}

void StationWindow::SetUpSlots() {
    if (Started) return; // the settings are locked while the station runs
    if (std::optional<std::vector<station::SlotSetup>> chosen = Dialogs.SetUpSlots(Slots))
        Rebuild(std::move(*chosen));
}

// New slots make a new grid: the window is built again around them, keeping what was typed and
// chosen, and the slots are saved at once (they are no longer the command line's).
void StationWindow::Rebuild(std::vector<station::SlotSetup> slots) {
    const char* const edits[] = {"PackageEdit", "ExpectEdit", "LotEdit", "OperatorEdit"};
    const char* const modes[] = {"WorkingBaud", "WorkingParity", "LoaderBaud", "LoaderParity"};
    std::vector<std::string> typed;
    for (const char* edit : edits)
        typed.push_back(Window->Get<tk::Edit>(edit)->Text());
    std::vector<int> chosen;
    for (const char* mode : modes)
        chosen.push_back(Window->Get<tk::ComboBox>(mode)->ItemIndex());
    // The old window goes only once the new one is there: the program never has none.
    std::unique_ptr<tk::Form> old = std::move(Window);
    std::unique_ptr<StationLayout> oldLayout = std::move(Layout);
    Slots = std::move(slots);
    BuildControls();
    for (size_t i = 0; i < std::size(edits); ++i)
        Window->Get<tk::Edit>(edits[i])->SetText(typed[i]);
    for (size_t i = 0; i < std::size(modes); ++i) {
        auto* combo = Window->Get<tk::ComboBox>(modes[i]);
        combo->SetItems(i % 2 ? ParityItems : BaudRateItems);
        combo->SetItemIndex(chosen[i]);
    }
    LoadChosenPackage();
    if (Shown) Window->Show();
    old.reset();
    SlotsGiven.reset();
    Saved.Slots = Slots;
    try {
        WriteStationIni(Files.StationIni, Saved);
    } catch (const IniWriteError& e) {
        Dialogs.Message(e.what());
    }
}

void StationWindow::FillModes(const RunOverrides& o) {
    const IniProfile ini(Files.ConfigIni);
    namespace keys = settings_keys;
    const struct {
        const char* Baud;
        const char* Parity;
        const char* BaudKey;
        const char* ParityKey;
        const std::optional<LineMode>& Override;
    } modes[] = {
        {"WorkingBaud", "WorkingParity", keys::WorkingBaudRate, keys::WorkingParity, o.Working},
        {"LoaderBaud", "LoaderParity", keys::LoaderBaudRate, keys::LoaderParity, o.Loader}};
    for (const auto& m : modes) {
        auto* baud = Window->Get<tk::ComboBox>(m.Baud);
        auto* parity = Window->Get<tk::ComboBox>(m.Parity);
        baud->SetItems(BaudRateItems);
        parity->SetItems(ParityItems);
        baud->SetItemIndex(m.Override ? BaudIndex(*m.Override)
                                      : ini.ReadInteger(keys::Section, m.BaudKey, -1));
        parity->SetItemIndex(m.Override ? int(m.Override->Parity)
                                        : ini.ReadInteger(keys::Section, m.ParityKey, -1));
    }
}

void StationWindow::LoadChosenPackage() {
    const std::string path = Window->Get<tk::Edit>("PackageEdit")->Text();
    auto* line = Window->Get<tk::Label>("PackageLine");
    PackageValid = false;
    Package = std::make_unique<FirmwarePackageData>();
    if (path.empty()) {
        line->SetCaption("未选择固件");
    } else {
        // The keys as the flasher trusts them, so the window takes what `station` takes.
        const TrustedKeys keys = LoadTrustedKeys(
            SettingsFolder(ExecutableFolder()) + "/" + kTrustedKeysFolderName, {});
        for (const std::string& warning : KeyWarnings(keys))
            std::fprintf(stderr, "tolvane-station: warning: %s\n", warning.c_str());
        const PackageCheck loaded = LoadPackage(path, *Package, &keys);
        PackageValid = RefusalOf(loaded) == PackageRefusal::None;
        line->SetCaption(PackageValid ? "MD5 " + loaded.Md5 + "  " + loaded.InfoText
                                      : RefusalMessage(loaded));
        Signer = SignerOf(loaded);
        Md5 = loaded.Md5;
    }
    line->SetFontColour(PackageValid ? tk::Colour{0, 0, 0} : tk::Colour{255, 0, 0});
    Window->Find("StartButton")->SetEnabled(CanStart(PackageValid, Slots.size(), Started));
}

void StationWindow::Choose() {
    const std::string path = Dialogs.ChooseFile("*.enc2");
    if (path.empty()) return;
    Window->Get<tk::Edit>("PackageEdit")->SetText(path);
    LoadChosenPackage();
}

void StationWindow::Show() {
    Shown = true;
    Window->Show();
    if (!StartAtOnce) return;
    if (const std::string why = StartRefusal(); !why.empty())
        Window->Get<tk::Label>("FooterLabel")->SetCaption("无法开始：" + why);
    else
        Start();
}

std::string StationWindow::StartRefusal() const {
    if (Slots.empty()) return "没有工位";
    if (!PackageValid) return Window->Get<tk::Label>("PackageLine")->Caption();
    return {};
}

station::StationSettings StationWindow::SettingsFromControls() const {
    station::StationSettings settings;
    const std::vector<std::string> rates = SplitItems(BaudRateItems);
    auto mode = [&](const char* baud, const char* parity, const std::optional<LineMode>& given) {
        LineMode m = given.value_or(LineMode{115200, 0});
        const int b = Window->Get<tk::ComboBox>(baud)->ItemIndex();
        const int p = Window->Get<tk::ComboBox>(parity)->ItemIndex();
        if (b >= 0 && b < int(rates.size())) m.Baud = uint32_t(BaudRateOfItem(rates[size_t(b)]));
        if (p >= 0) m.Parity = uint8_t(p);
        return m;
    };
    settings.Working = mode("WorkingBaud", "WorkingParity", WorkingGiven);
    settings.Loader = mode("LoaderBaud", "LoaderParity", LoaderGiven);
    settings.ExpectVersion = Window->Get<tk::Edit>("ExpectEdit")->Text();
    settings.Lot = Window->Get<tk::Edit>("LotEdit")->Text();
    settings.Operator = Window->Get<tk::Edit>("OperatorEdit")->Text();
    settings.PackagePath = Window->Get<tk::Edit>("PackageEdit")->Text();
    settings.Md5 = Md5;
    settings.Signer = Signer;
    return settings;
}

void StationWindow::Start() {
    LoadChosenPackage(); // the file may have changed since it was chosen
    if (!CanStart(PackageValid, Slots.size(), Started)) return;
    std::string error;
    auto* footer = Window->Get<tk::Label>("FooterLabel");
    const std::string log = Current().LogPath;
    if (!Run->Start(SettingsFromControls(), Slots, log, std::move(Package), error)) {
        Dialogs.Message("记录失败：" + log + "：" + error);
        LoadChosenPackage();
        return;
    }
    LoadChosenPackage(); // the station holds the loaded copy; the window keeps its own
    Started = true;
    LogReported = false;
    footer->SetFontColour({0, 0, 0});
    Tiles.Reset([&] {
        std::vector<std::pair<std::string, std::string>> tiles;
        for (const auto& slot : Slots)
            tiles.emplace_back(slot.Name, slot.Port);
        return tiles;
    }());
    Tiles.Started(Board::Clock::now());
    Lock(true);
    Clock->Start();
    DrawChanges();
}

void StationWindow::Stop() {
    if (!Started) return;
    Run->Stop();
    Window->Find("StopButton")->SetEnabled(false);
    CheckEnd();
}

void StationWindow::Revive(size_t index) {
    if (index < Slots.size() && Run->Revive(Slots[index].Name)) Tiles.Revived(Slots[index].Name);
    DrawChanges();
}

// The settings are locked while the station runs.
void StationWindow::Lock(bool running) {
    for (const char* name : TopNames)
        Window->Find(name)->SetEnabled(!running);
    Window->Find("StartButton")->SetEnabled(CanStart(PackageValid, Slots.size(), running));
    Window->Find("StopButton")->SetEnabled(running);
}

void StationWindow::DrawChanges() {
    for (const Board::Change& change : Tiles.TakeChanges())
        DrawTile(change.Index, change.Shown);
    DrawFooter();
    if (!Started) return;
    if (const std::string error = Tiles.LogError(); !error.empty() && !LogReported) {
        LogReported = true;
        Run->Stop(); // every slot stops taking units, not only the one that failed
        Dialogs.Message("记录失败：" + error);
    }
    CheckEnd();
}

void StationWindow::DrawTile(size_t index, const Tile& tile) {
    const TileNames n = TileNamesOf(int(index));
    const tk::Colour text = TextColour(tile);
    Window->Get<tk::Panel>(n.Panel)->SetBackground(StateColour(tile));
    Window->Find(n.Panel)->SetAccessibleName(AccessibleName(tile));
    const std::pair<const std::string*, std::string> labels[] = {
        {&n.Title, "工位 " + tile.Name + "  " + ShortPort(tile.Port)},
        {&n.State, StateWords(tile)},
        {&n.Id, tile.Id},
        {&n.Counts, CountsLine(tile, Board::Clock::now())}};
    for (const auto& [name, caption] : labels) {
        auto* label = Window->Get<tk::Label>(*name);
        label->SetFontColour(text);
        if (label->Caption() != caption) label->SetCaption(caption);
    }
    auto* bar = Window->Get<tk::ProgressBar>(n.Bar);
    bar->SetVisible(tile.State == TileState::Upgrading);
    bar->SetPercent(tile.Percent);
    Window->Find(n.Revive)->SetVisible(tile.State == TileState::OutOfService && Started &&
                                       !Run->Stopping());
}

void StationWindow::DrawFooter() {
    auto* footer = Window->Get<tk::Label>("FooterLabel");
    std::string text = Tiles.Footer(Board::Clock::now());
    if (!Tiles.LogError().empty()) {
        text += "  记录失败";
        footer->SetFontColour({255, 0, 0});
    }
    // A refused --start stays in view until the station starts.
    if (Started || footer->Caption().rfind("无法开始", 0) != 0) footer->SetCaption(text);
    Window->Get<tk::Label>("LogLabel")->SetCaption("记录：" + Current().LogPath);
}

// Once a second while the station runs: the seconds of the units in the slots and the clock.
void StationWindow::Tick() {
    const auto tiles = Tiles.Tiles();
    for (size_t i = 0; i < tiles.size(); ++i)
        if (UnderWay(tiles[i]))
            Window->Get<tk::Label>(TileNamesOf(int(i)).Counts)
                ->SetCaption(CountsLine(tiles[i], Board::Clock::now()));
    DrawFooter();
    if (Started) Clock->Start();
}

// After a stop, once every slot has ended: the tiles read 已停止 and the settings open again.
void StationWindow::CheckEnd() {
    if (!Started || !Run->Stopping() || Run->Running()) return;
    Run->Finish();
    Started = false;
    Clock->Stop();
    Tiles.AllStopped();
    for (const Board::Change& change : Tiles.TakeChanges())
        DrawTile(change.Index, change.Shown);
    DrawFooter();
    Lock(false);
}

bool StationWindow::CloseQuery() {
    switch (DecideClose(Started && Run->Running(), Tiles.AnyUnderWay())) {
    case CloseStep::Close:
        return true;
    case CloseStep::Ask:
        if (!Dialogs.Confirm("正在升级，确定退出？")) return false;
        [[fallthrough]];
    case CloseStep::StopThenClose:
        // No unit is cut off without its record: the upgrades under way end first.
        Stop();
        while (Started)
            tk::WaitOnce();
        return true;
    }
    return true;
}

StationConfig StationWindow::Current() const {
    StationConfig now;
    now.Slots = Slots;
    now.Package = Window->Get<tk::Edit>("PackageEdit")->Text();
    now.ExpectVersion = Window->Get<tk::Edit>("ExpectEdit")->Text();
    now.Lot = Window->Get<tk::Edit>("LotEdit")->Text();
    now.Operator = Window->Get<tk::Edit>("OperatorEdit")->Text();
    now.LogPath = Given.LogPath;
    return now;
}

void StationWindow::Save() {
    const StationConfig now = Current();
    StationConfig kept = now;
    kept.Slots = SlotsGiven ? Saved.Slots : now.Slots;
    kept.Package = Kept(now.Package, Given.Package, Saved.Package);
    kept.ExpectVersion = Kept(now.ExpectVersion, Given.ExpectVersion, Saved.ExpectVersion);
    kept.Lot = Kept(now.Lot, Given.Lot, Saved.Lot);
    kept.Operator = Kept(now.Operator, Given.Operator, Saved.Operator);
    kept.LogPath = Saved.LogPath;
    try {
        WriteStationIni(Files.StationIni, kept);
        const IniProfile ini(Files.ConfigIni);
        namespace keys = settings_keys;
        if (!WorkingGiven) {
            ini.WriteInteger(keys::Section, keys::WorkingBaudRate,
                             Window->Get<tk::ComboBox>("WorkingBaud")->ItemIndex());
            ini.WriteInteger(keys::Section, keys::WorkingParity,
                             Window->Get<tk::ComboBox>("WorkingParity")->ItemIndex());
        }
        if (!LoaderGiven) {
            ini.WriteInteger(keys::Section, keys::LoaderBaudRate,
                             Window->Get<tk::ComboBox>("LoaderBaud")->ItemIndex());
            ini.WriteInteger(keys::Section, keys::LoaderParity,
                             Window->Get<tk::ComboBox>("LoaderParity")->ItemIndex());
        }
    } catch (const IniWriteError& e) {
        Dialogs.Message(e.what());
    }
}

} // namespace stationapp
