// The station window on the offscreen platform against tolvane-devsim units, clicked as a person
// would: units upgraded, verified and recorded from "开始"; a slot out of service brought back
// with "恢复"; "停止" with an upgrade under way; a log that cannot be written; the names a
// screen reader announces; the "工位设置" dialog; the whole window from the keyboard; and a picture
// of the window with eight slots.
#include "stationapp/StationWindow.h"
#include "serial/PortMap.h"
#include "tests/package/TempDir.h"
#include "tests/support/ChildProcess.h"
#include "toolkit/qt/QtToolkit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace {

using tolvane::test::Child;
using tolvane::test::RunProgram;

int Lines(const std::string& path) {
    std::ifstream in(path);
    int lines = 0;
    for (std::string line; std::getline(in, line);)
        ++lines;
    return lines;
}

class StationWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::vector<uint8_t> image(16 * 4080);
        std::mt19937 random(9);
        for (auto& b : image)
            b = uint8_t(random());
        const std::string raw = Dir.Write("image.bin", image);
        ASSERT_EQ(RunProgram({TOLVANE_PACK, "--block-size", "4080", raw, Package}), 0);
        std::ofstream(Dir.File("Config.ini"))
            << "[COMPort1]\nBaudrateWk=9\nParityWk=0\nBaudrateBt=9\nParityBt=2\n";
    }

    // A virtual fixture slot: its units appear one after another at ports/COM<n>.
    std::string Device(int com, std::vector<std::string> options = {}) {
        std::vector<std::string> args = {TOLVANE_DEVSIM, "--com", std::to_string(com), "--ports",
                                         Dir.File("ports")};
        args.insert(args.end(), options.begin(), options.end());
        Devices.push_back(std::make_unique<Child>());
        EXPECT_TRUE(Devices.back()->Start(args));
        Devices.back()->ReadLine();
        return Dir.File("ports") + "/COM" + std::to_string(com);
    }

    void Open(std::vector<station::SlotSetup> setups, std::string log = "") {
        stationapp::RunOverrides overrides;
        overrides.Package = Package;
        overrides.Slots = std::move(setups);
        overrides.LogPath = log.empty() ? Log : log;
        stationapp::WindowDialogs dialogs;
        dialogs.Message = [this](const std::string& text) { Messages.push_back(text); };
        dialogs.Confirm = [this](const std::string& text) {
            Questions.push_back(text);
            return true;
        };
        dialogs.ChooseFile = [](const std::string&) { return std::string(); };
        dialogs.SetUpSlots = [this](const std::vector<station::SlotSetup>& setups) {
            ++SetUps;
            return SlotsChosen ? SlotsChosen(setups) : std::nullopt;
        };
        Window = std::make_unique<stationapp::StationWindow>(
            stationapp::WindowFiles{Dir.File("Station.ini"), Dir.File("Config.ini"), Log},
            overrides, dialogs);
        Window->Show();
    }
    template <typename T = tk::Label> T* Get(const std::string& name) {
        return Window->Form().Get<T>(name);
    }
    std::string State(int tile) { return Get("Tile" + std::to_string(tile) + "State")->Caption(); }
    void Click(const std::string& button) { tk::qt::Q(Get<tk::Button>(button))->click(); }
    bool WaitFor(const std::function<bool()>& done, int ms = 60000) {
        return QTest::qWaitFor(done, ms);
    }

    TempDir Dir;
    const std::string Package = Dir.File("demo.enc2");
    const std::string Log = Dir.File("records.jsonl");
    std::vector<std::unique_ptr<Child>> Devices;
    std::vector<std::string> Messages, Questions;
    std::function<std::optional<std::vector<station::SlotSetup>>(
        const std::vector<station::SlotSetup>&)>
        SlotsChosen;
    int SetUps = 0;
    std::unique_ptr<stationapp::StationWindow> Window;
};

TEST_F(StationWindowTest, TwoSlotsUpgradeThreeUnitsEachFromAClickOnStart) {
    const std::string a =
        Device(31, {"--units", "3", "--absent", "300", "--id-pattern", "8600000000####"});
    const std::string b =
        Device(32, {"--units", "3", "--absent", "300", "--id-pattern", "8700000000####"});
    Open({{"A", a}, {"B", b}});
    EXPECT_EQ(Window->Form().Caption(), "Tolvane 工作站 3.2.0.0");
    EXPECT_EQ(Get("PackageLine")->Caption().rfind("MD5 ", 0), 0u) << Get("PackageLine")->Caption();
    EXPECT_TRUE(Get<tk::Button>("StartButton")->Enabled());
    EXPECT_FALSE(Get<tk::Button>("StopButton")->Enabled());
    Click("StartButton");
    EXPECT_FALSE(Get<tk::Edit>("PackageEdit")->Enabled()); // locked while running
    ASSERT_TRUE(WaitFor([&] { return Lines(Log) == 6; })) << Lines(Log);
    // A record reaches the log before its tile counts it: wait for both tiles.
    ASSERT_TRUE(WaitFor([&] {
        return Get("Tile1Counts")->Caption().find("通过 3") != std::string::npos &&
               Get("Tile2Counts")->Caption().find("通过 3") != std::string::npos;
    }));
    EXPECT_NE(Get("Tile2Counts")->Caption().find("通过 3  失败 0"), std::string::npos);
    EXPECT_EQ(Get("FooterLabel")->Caption().rfind("通过 6  失败 0  直通率 100.0 %", 0), 0u)
        << Get("FooterLabel")->Caption();
    std::ifstream in(Log);
    for (std::string line; std::getline(in, line);) {
        EXPECT_NE(line.find("\"ok\":true"), std::string::npos) << line;
        EXPECT_NE(line.find("\"stage\":\"done\""), std::string::npos) << line;
    }
    Click("StopButton");
    ASSERT_TRUE(WaitFor([&] { return State(1) == "已停止" && State(2) == "已停止"; }));
    EXPECT_TRUE(Get<tk::Edit>("PackageEdit")->Enabled());
    EXPECT_TRUE(Messages.empty());
}

TEST_F(StationWindowTest, ASlotOutOfServiceComesBackWithRevive) {
    // Every answer to block 0 is of the wrong kind: the unit fails, stays in its loader, is found
    // again.
    const std::string bad = Device(33, {"--wrong-kind", "0:100000"});
    Open({{"X", bad}});
    Click("StartButton");
    ASSERT_TRUE(WaitFor([&] { return State(1).rfind("停用", 0) == 0; })) << State(1);
    EXPECT_EQ(Lines(Log), 4); // three units and the out-of-service line
    EXPECT_EQ(Get<tk::Panel>("Tile1")->AccessibleName().rfind("工位 X：停用", 0), 0u);
    auto* revive = Get<tk::Button>("Tile1Revive");
    ASSERT_TRUE(revive->Visible());
    EXPECT_EQ(revive->AccessibleName(), "恢复 工位 X");
    Click("Tile1Revive");
    // Its failure count starts again: three more units before it stops once more.
    ASSERT_TRUE(WaitFor([&] { return Lines(Log) == 8; })) << Lines(Log);
    ASSERT_TRUE(WaitFor([&] { return State(1).rfind("停用", 0) == 0; }));
    EXPECT_NE(Get("Tile1Counts")->Caption().find("失败 6"), std::string::npos);
}

TEST_F(StationWindowTest, StopAndCloseLetTheUpgradeUnderWayFinishWithItsRecord) {
    const std::string slow = Device(34, {"--pace"});
    Open({{"S", slow}});
    Click("StartButton");
    ASSERT_TRUE(WaitFor([&] { return State(1).rfind("升级中 1", 0) == 0; })) << State(1);
    EXPECT_TRUE(tk::qt::Q(Get<tk::ProgressBar>("Tile1Bar"))->isVisible());
    // Closing asks, then stops as "停止" does: the window goes once the unit is recorded.
    Window->Form().Close();
    ASSERT_EQ(Questions.size(), 1u);
    EXPECT_EQ(Questions[0], "正在升级，确定退出？");
    EXPECT_FALSE(Window->Running());
    EXPECT_EQ(State(1), "已停止");
    ASSERT_EQ(Lines(Log), 1);
    std::ifstream in(Log);
    std::string record;
    std::getline(in, record);
    EXPECT_NE(record.find("\"ok\":true"), std::string::npos) << record;
    EXPECT_NE(std::ifstream(Dir.File("Station.ini")).peek(), EOF); // the settings were saved
}

TEST_F(StationWindowTest, ALogThatCannotBeWrittenStopsEverySlot) {
    const std::string a = Device(35, {"--units", "0", "--absent", "200"});
    const std::string b = Device(36, {"--silent"});
    Open({{"A", a}, {"B", b}}, "/dev/full");
    Click("StartButton");
    ASSERT_TRUE(WaitFor([&] { return !Messages.empty(); }));
    EXPECT_EQ(Messages[0].rfind("记录失败：", 0), 0u) << Messages[0];
    ASSERT_TRUE(WaitFor([&] { return State(1) == "已停止" && State(2) == "已停止"; }));
    EXPECT_NE(Get("FooterLabel")->Caption().find("记录失败"), std::string::npos);
    EXPECT_EQ(tk::qt::Q(Get("FooterLabel"))->palette().color(QPalette::WindowText),
              QColor(255, 0, 0));
}

// No control hides another, none leaves the window, for any count of slots (a button once lay
// over the loader's parity, which the keyboard then reached unseen).
TEST(StationLayout, ControlsNeitherOverlapNorLeaveTheWindow) {
    for (int count : {1, 2, 4, 5, 8, 13, 32}) {
        SCOPED_TRACE(count);
        const stationapp::StationLayout layout(count);
        const tk::FormLayout& form = layout.Form();
        EXPECT_EQ(form.ControlCount, 21 + 7 * count);
        for (int i = 0; i < form.ControlCount; ++i) {
            const tk::ControlLayout& a = form.Controls[i];
            SCOPED_TRACE(a.Name);
            if (std::string(a.Parent) == form.Name) {
                EXPECT_GE(a.Left, 0);
                EXPECT_LE(a.Left + a.Width, form.ClientWidth);
                EXPECT_LE(a.Top + a.Height, form.ClientHeight);
            }
            // The revive button takes the hidden progress bar's place: never both shown.
            for (int j = i + 1; j < form.ControlCount && !a.Hidden; ++j) {
                const tk::ControlLayout& b = form.Controls[j];
                if (b.Hidden || std::string(a.Parent) != b.Parent) continue;
                const bool apart = a.Left + a.Width <= b.Left || b.Left + b.Width <= a.Left ||
                                   a.Top + a.Height <= b.Top || b.Top + b.Height <= a.Top;
                EXPECT_TRUE(apart) << b.Name;
            }
        }
    }
}

// The dialog on its own: the ports present with their devices, slots added, renamed, refused
// and removed, and its result only after "确定".
TEST_F(StationWindowTest, SlotDialogAddsRenamesAndRemovesSlots) {
    const std::string a = Device(37);
    SetPortMapFolder(Dir.File("ports"));
    stationapp::SlotDialog dialog(std::vector<station::SlotSetup>{{"A", "COM37"}});
    SetPortMapFolder("");
    auto* port = dialog.Form().Get<tk::ComboBox>("PortCombo");
    // The machine's own ports may be listed beside it.
    int listed = -1;
    for (int i = 0; i < port->ItemCount(); ++i)
        if (port->ItemText(i) == "COM37") listed = i;
    ASSERT_GE(listed, 0) << port->Items();
    EXPECT_EQ(tk::qt::Q(port)->itemData(listed, Qt::ToolTipRole).toString().toStdString(),
              std::filesystem::canonical(a).string());
    auto* list = dialog.Form().Get<tk::ListBox>("SlotList");
    auto* name = dialog.Form().Get<tk::Edit>("NameEdit");
    auto* error = dialog.Form().Get<tk::Label>("ErrorLabel");
    auto click = [&](const char* button) {
        tk::qt::Q(dialog.Form().Get<tk::Button>(button))->click();
    };
    EXPECT_EQ(name->Text(), "B"); // the next free name is offered
    EXPECT_FALSE(dialog.Form().Find("RemoveButton")->Enabled());

    port->SetText("COM37");
    click("AddButton");
    EXPECT_NE(error->Caption().find("已用于工位 A"), std::string::npos) << error->Caption();
    port->SetText("/dev/serial/by-path/pci-0000:00:14.0-usb-0:3:1.0-port0");
    click("AddButton");
    EXPECT_EQ(error->Caption(), "");
    ASSERT_EQ(list->ItemCount(), 2);
    EXPECT_EQ(list->ItemText(1), "B  /dev/serial/by-path/pci-0000:00:14.0-usb-0:3:1.0-port0");

    tk::qt::Q(list)->setCurrentRow(0); // as a click on the line does
    EXPECT_EQ(name->Text(), "A");
    EXPECT_EQ(port->Text(), "COM37");
    name->SetText("甲");
    click("ChangeButton");
    EXPECT_EQ(list->ItemText(0), "甲  COM37");
    tk::qt::Q(list)->setCurrentRow(1);
    click("RemoveButton");
    EXPECT_EQ(list->ItemCount(), 1);
    EXPECT_FALSE(dialog.Result());

    // Shown modally, "确定" ends it with the slots.
    QTimer::singleShot(0, [&] { click("OkButton"); });
    const auto chosen = dialog.Run();
    ASSERT_TRUE(chosen);
    ASSERT_EQ(chosen->size(), 1u);
    EXPECT_EQ((*chosen)[0].Name, "甲");
    EXPECT_EQ((*chosen)[0].Port, "COM37");

    stationapp::SlotDialog cancelled(std::vector<station::SlotSetup>{{"A", "COM37"}});
    QTimer::singleShot(
        0, [&] { tk::qt::Q(cancelled.Form().Get<tk::Button>("CancelButton"))->click(); });
    EXPECT_FALSE(cancelled.Run());
}

// Slots set up in the dialog make the window's grid anew, keep what was typed, are saved at
// once (the lines Station.ini holds for others kept) and upgrade units; locked while running.
TEST_F(StationWindowTest, SlotsSetUpInTheDialogRebuildTheWindowAndAreSaved) {
    const std::string a = Device(38, {"--units", "1", "--absent", "200"});
    const std::string b = Device(39, {"--units", "1", "--absent", "200"});
    std::ofstream(Dir.File("Station.ini")) << "[Other]\nKeep=1\n";
    Open({{"A", a}});
    Get<tk::Edit>("LotEdit")->SetText("L-7");
    std::vector<station::SlotSetup> offered;
    SlotsChosen = [&](const std::vector<station::SlotSetup>& setups) {
        offered = setups;
        stationapp::SlotDialog dialog(setups);
        dialog.Form().Get<tk::Edit>("NameEdit")->SetText("B");
        dialog.Form().Get<tk::ComboBox>("PortCombo")->SetText(b);
        tk::qt::Q(dialog.Form().Get<tk::Button>("AddButton"))->click();
        tk::qt::Q(dialog.Form().Get<tk::Button>("OkButton"))->click();
        return dialog.Result();
    };
    EXPECT_TRUE(Get<tk::Button>("SlotsButton")->Enabled());
    Click("SlotsButton");
    ASSERT_EQ(offered.size(), 1u);
    EXPECT_EQ(offered[0].Port, a);
    ASSERT_NE(Window->Form().Find("Tile2"), nullptr);
    EXPECT_EQ(Window->Form().Find("Tile3"), nullptr);
    EXPECT_EQ(Get("Tile2Title")->Caption(), "工位 B  COM39");
    EXPECT_EQ(Get<tk::Edit>("LotEdit")->Text(), "L-7");
    EXPECT_TRUE(tk::qt::Q(&Window->Form())->isVisible());
    std::ifstream saved(Dir.File("Station.ini"));
    const std::string text{std::istreambuf_iterator<char>(saved), {}};
    EXPECT_NE(text.find("Keep=1"), std::string::npos) << text;
    EXPECT_NE(text.find("Count=2"), std::string::npos) << text;
    EXPECT_NE(text.find("Port2=" + b), std::string::npos) << text;

    Click("StartButton");
    EXPECT_FALSE(Get<tk::Button>("SlotsButton")->Enabled());
    ASSERT_TRUE(WaitFor([&] { return Lines(Log) == 2; })) << Lines(Log);
    Click("StopButton");
    ASSERT_TRUE(WaitFor([&] { return State(1) == "已停止" && State(2) == "已停止"; }));
    EXPECT_TRUE(Get<tk::Button>("SlotsButton")->Enabled());
    EXPECT_EQ(SetUps, 1);
}

// Every control is reached with Tab in the layout's order; Space and Enter press buttons; every
// control that takes the focus has a name, in the window and in the dialog.
TEST_F(StationWindowTest, TheWholeWindowWorksFromTheKeyboard) {
    const std::string a = Device(40, {"--pace", "--units", "1"});
    Open({{"A", a}});
    QWidget* form = tk::qt::Q(&Window->Form());
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form));
    tk::qt::Q(Get<tk::Edit>("PackageEdit"))->setFocus();
    std::vector<std::string> reached;
    for (int i = 0; i < 20; ++i) {
        QWidget* focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        const std::string name = focus->objectName().toStdString();
        if (!reached.empty() && name == reached.front()) break;
        reached.push_back(name);
        SCOPED_TRACE(name);
        EXPECT_FALSE(focus->accessibleName().isEmpty());
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    const std::vector<std::string> order = {
        "PackageEdit",  "ChooseButton", "ExpectEdit",    "LotEdit",
        "OperatorEdit", "WorkingBaud",  "WorkingParity", "LoaderBaud",
        "LoaderParity", "SlotsButton",  "StartButton"}; // "停止" is disabled at rest
    EXPECT_EQ(reached, order);

    auto press = [&](const char* button, Qt::Key key) {
        QWidget* widget = tk::qt::Q(Get<tk::Button>(button));
        widget->setFocus();
        QTest::keyClick(widget, key);
    };
    press("SlotsButton", Qt::Key_Return);
    EXPECT_EQ(SetUps, 1);
    press("StartButton", Qt::Key_Space);
    EXPECT_TRUE(Window->Running());
    ASSERT_TRUE(WaitFor([&] { return State(1).rfind("升级中", 0) == 0; })) << State(1);
    press("StopButton", Qt::Key_Enter);
    ASSERT_TRUE(WaitFor([&] { return State(1) == "已停止"; })) << State(1);
    EXPECT_EQ(Lines(Log), 1);

    stationapp::SlotDialog dialog(std::vector<station::SlotSetup>{{"A", "COM40"}});
    for (QWidget* widget : tk::qt::Q(&dialog.Form())->findChildren<QWidget*>()) {
        if (!(widget->focusPolicy() & Qt::TabFocus) || widget->objectName().isEmpty()) continue;
        SCOPED_TRACE(widget->objectName().toStdString());
        EXPECT_FALSE(widget->accessibleName().isEmpty());
    }
}

// Eight setups in their states, saved as a picture (TOLVANE_STATION_SCREENSHOT names the file).
TEST_F(StationWindowTest, EightSlotsAsAPicture) {
    std::vector<station::SlotSetup> setups;
    const char* names[] = {"A", "B", "C", "D", "E", "F", "G", "H"};
    for (int i = 0; i < 8; ++i) {
        std::vector<std::string> options = {"--id-pattern", "8600000000###" + std::to_string(i)};
        if (i < 3) options.insert(options.end(), {"--pace", "--units", "0", "--absent", "300"});
        if (i == 5) options = {"--wrong-kind", "0:100000"};
        if (i == 6) options = {"--silent"};
        setups.push_back({names[i], i == 7 ? Dir.File("ports/COM49") : Device(41 + i, options)});
    }
    Open(setups);
    Click("StartButton");
    ASSERT_TRUE(WaitFor([&] {
        const auto tiles = Window->Events().Tiles();
        const std::string first = State(1);
        return tiles[5].Failed >= 1 && tiles[3].Passed == 1 && first.rfind("升级中 ", 0) == 0 &&
               tiles[0].Percent >= 30 && tiles[0].Percent <= 80;
    })) << State(1)
        << State(4) << State(6);
    QTest::qWait(300);
    const QPixmap picture = tk::qt::Q(&Window->Form())->grab();
    EXPECT_FALSE(picture.isNull());
    const QByteArray path = qgetenv("TOLVANE_STATION_SCREENSHOT");
    const QString file = path.isEmpty() ? QString::fromStdString(Dir.File("station.png"))
                                        : QString::fromLocal8Bit(path);
    EXPECT_TRUE(picture.save(file, "PNG"));
    EXPECT_EQ(Get<tk::Panel>("Tile8")->AccessibleName(), "工位 H：等待");
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
