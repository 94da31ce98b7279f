#include "serial/PortMap.h"
#include "serial/TMCPort.h"
#include "tests/support/PtyPair.h"
#include "tests/support/TempPortMap.h"
#include "toolkit/qt/QtToolkit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QTest>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using tolvane::test::PtyPair;
using tolvane::test::TempPortMap;
using Clock = std::chrono::steady_clock;

namespace {

std::vector<std::string> Events;
TMCPort* Current = nullptr; // the port under test, for the plain handler functions
unsigned TakePerReceive = 1024;
bool ThrowOnReceive = false;
std::vector<Clock::time_point> ReceiveTimes;
std::vector<int> ReceiveTaken;
std::vector<bool> OpenDuringReceive;

void RecordOpen() {
    Events.push_back("open " + std::to_string(Current->GetPort()));
}
void RecordClose() {
    Events.push_back("close " + std::to_string(Current->GetPort()));
}
void RecordError() {
    Events.push_back("error");
}
void RecordReceive() {
    uint8_t buffer[1024];
    ReceiveTimes.push_back(Clock::now());
    ReceiveTaken.push_back(Current->Read(buffer, TakePerReceive));
    OpenDuringReceive.push_back(Current->IsOpen());
    if (ThrowOnReceive) throw std::runtime_error("handler failed");
}

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    return QTest::qWaitFor(done, static_cast<int>(timeout.count()));
}

std::vector<std::string> Items(QComboBox& combo) {
    std::vector<std::string> items;
    for (int i = 0; i < combo.count(); ++i)
        items.push_back(combo.itemText(i).toStdString());
    return items;
}

class PortComponent : public ::testing::Test {
  protected:
    void SetUp() override {
        map.Add(201, pty.SlavePath());
        map.Add(203, other.SlavePath());
        Events.clear();
        ReceiveTimes.clear();
        ReceiveTaken.clear();
        OpenDuringReceive.clear();
        TakePerReceive = 1024;
        ThrowOnReceive = false;
        port = std::make_unique<TMCPort>();
        Current = port.get();
        port->OnOpen = RecordOpen;
        port->OnClose = RecordClose;
        port->OnOpenError = RecordError;
        port->OnReceive = RecordReceive;
    }
    void TearDown() override {
        port.reset();
        Current = nullptr;
    }
    // Fills all five combo boxes as the window does at start-up.
    void FillAll() {
        port->FillPortList(&portCombo);
        port->FillBaudRateList(&baudCombo);
        port->FillParityList(&parityCombo);
        port->FillByteSizeList(&byteSizeCombo);
        port->FillStopBitsList(&stopBitsCombo);
    }
    TempPortMap map;
    PtyPair pty, other;
    tk::qt::QtComboBox portCombo, baudCombo, parityCombo, byteSizeCombo, stopBitsCombo;
    std::unique_ptr<TMCPort> port;
};

} // namespace

TEST(PortNames, ParsePortNameAndToUpperAscii) {
    struct Case {
        const char* text;
        int number;
        const char* upper;
    } cases[] = {
        {"COM7", 7, "COM7"},
        {"com12", 12, "COM12"},
        {"COM1234", 123, "COM1234"},
        {"COM", 0, "COM"},
        {"COMx5", 0, "COMX5"},
        {"CO", -1, "CO"},
        {"", -1, ""},
        {"xCOM1", -1, "XCOM1"},
        {"Com0", 0, "COM0"},
        {"COM-5", 0, "COM-5"},
        {"COM4a", 4, "COM4A"},
        {"cOm256", 256, "COM256"},
        {"\xc3\xa9t\xc3\xa9", -1, "\xc3\xa9T\xc3\xa9"}, // non-ASCII bytes stay
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        EXPECT_EQ(ParsePortName(text), c.number) << c.text;
        EXPECT_EQ(text, c.upper) << c.text;
    }
}

TEST_F(PortComponent, OpenNeedsAReceiveHandlerAndReportsFailures) {
    EXPECT_FALSE(port->IsOpen());
    EXPECT_EQ(port->GetPort(), 0);
    port->OnReceive = nullptr;
    EXPECT_EQ(port->Open(), 0);
    EXPECT_TRUE(Events.empty());
    port->OnReceive = RecordReceive;
    EXPECT_EQ(port->Open(), -1);
    EXPECT_EQ(Events, std::vector<std::string>{"error"});
    Events.clear();
    port->SetPort(201);
    port->SetOpen(true);
    port->SetOpen(true);
    port->SetOpen(false);
    port->SetOpen(false);
    EXPECT_EQ(Events, (std::vector<std::string>{"open 201", "close 201", "open 201", "close 201"}));
    // A notification raised on the user-interface thread itself runs at once instead of
    // waiting for itself.
    port->NotifyReceived();
    EXPECT_EQ(ReceiveTaken.size(), 1u);
}

TEST_F(PortComponent, FillersBindFillAndSelectNothing) {
    baudCombo.addItem("kept");
    portCombo.addItem("replaced");
    portCombo.setEditable(true);
    FillAll();
    std::vector<std::string> ports = Items(portCombo);
    ASSERT_GE(ports.size(), 2u);
    EXPECT_EQ(std::count(ports.begin(), ports.end(), "replaced"), 0);
    auto at201 = std::find(ports.begin(), ports.end(), "COM201");
    auto at203 = std::find(ports.begin(), ports.end(), "COM203");
    ASSERT_NE(at201, ports.end());
    ASSERT_NE(at203, ports.end());
    EXPECT_LT(at201, at203);
    EXPECT_EQ(portCombo.itemData(static_cast<int>(at201 - ports.begin()), Qt::ToolTipRole)
                  .toString()
                  .toStdString(),
              pty.SlavePath());
    EXPECT_EQ(port->LastPortList(), port->BuildPortList());
    EXPECT_NE(port->BuildPortList().find("COM201\r\nCOM203"), std::string::npos);

    EXPECT_EQ(Items(baudCombo), std::vector<std::string>{"kept"});
    tk::qt::QtComboBox fresh;
    port->FillBaudRateList(&fresh);
    EXPECT_EQ(Items(fresh), (std::vector<std::string>{"300bps", "600bps", "1200bps", "2400bps",
                                                      "4800bps", "9600bps", "19200bps", "38400bps",
                                                      "57600bps", "115200bps"}));
    EXPECT_EQ(Items(parityCombo), (std::vector<std::string>{"None", "Odd", "Even"}));
    EXPECT_EQ(Items(byteSizeCombo), std::vector<std::string>{"8"});
    EXPECT_EQ(Items(stopBitsCombo), (std::vector<std::string>{"1", "2"}));
    for (QComboBox* combo :
         {&portCombo, &baudCombo, &fresh, &parityCombo, &byteSizeCombo, &stopBitsCombo}) {
        EXPECT_EQ(combo->currentIndex(), -1);
        EXPECT_FALSE(combo->isEditable());
    }
    EXPECT_TRUE(Events.empty());
    EXPECT_EQ(port->GetPort(), 0);
    EXPECT_EQ(port->GetBaudRate(), 9600);
}

// Setters on a closed port only store and select; values without an item keep the selection.
TEST_F(PortComponent, SettersStoreAndSelectByText) {
    FillAll();
    port->SetPort(203);
    port->SetBaudRate(115200);
    port->SetParity(2);
    port->SetByteSize(8);
    port->SetStopBits(2);
    EXPECT_EQ(portCombo.currentText(), "COM203");
    EXPECT_EQ(baudCombo.currentText(), "115200bps");
    EXPECT_EQ(parityCombo.currentText(), "Even");
    EXPECT_EQ(byteSizeCombo.currentText(), "8");
    EXPECT_EQ(stopBitsCombo.currentText(), "2");
    port->SetParity(5);
    port->SetStopBits(1);
    port->SetByteSize(7 + 256); // the low 8 bits are stored
    port->SetPort(12);
    EXPECT_EQ(parityCombo.currentText(), "Even");
    EXPECT_EQ(stopBitsCombo.currentText(), "2");
    EXPECT_EQ(byteSizeCombo.currentText(), "8");
    EXPECT_EQ(portCombo.currentText(), "COM203");
    EXPECT_EQ(port->GetParity(), 5);
    EXPECT_EQ(port->GetStopBits(), 1);
    EXPECT_EQ(port->GetByteSize(), 7);
    EXPECT_EQ(port->GetPort(), 12);
    EXPECT_EQ(port->GetBaudRate(), 115200);
    EXPECT_TRUE(Events.empty()) << "nothing opens or closes while closed";
    port->SetPort(201);
    EXPECT_EQ(port->Open(), -3);
}

// A setting changed on an open port closes it (the handler still sees the old value), stores,
// selects and reopens, even when the value is unchanged; the device sees the new rate.
TEST_F(PortComponent, SettersOnAnOpenPortReopenIt) {
    FillAll();
    port->SetPort(201);
    ASSERT_EQ(port->Open(), 1);
    Events.clear();
    port->SetBaudRate(115200);
    EXPECT_EQ(pty.SlaveBaudRate(), 115200u);
    EXPECT_EQ(baudCombo.currentText(), "115200bps");
    port->SetBaudRate(115200);
    port->SetPort(203);
    EXPECT_EQ(Events, (std::vector<std::string>{"close 201", "open 201", "close 201", "open 201",
                                                "close 201", "open 203"}));
    EXPECT_EQ(other.SlaveBaudRate(), 115200u);
    EXPECT_TRUE(port->IsOpen());
}

// Picking an item (the user) changes the setting only when it differs, reopening an open port.
TEST_F(PortComponent, ChangeHandlersFollowTheUsersPick) {
    FillAll();
    port->SetPort(201);
    port->SetBaudRate(9600);
    ASSERT_EQ(port->Open(), 1);
    Events.clear();
    baudCombo.setCurrentIndex(baudCombo.findText("19200bps"));
    EXPECT_EQ(port->GetBaudRate(), 19200);
    EXPECT_EQ(pty.SlaveBaudRate(), 19200u);
    EXPECT_EQ(Events, (std::vector<std::string>{"close 201", "open 201"}));
    Events.clear();
    emit baudCombo.textActivated("19200bps"); // the same item picked again
    EXPECT_TRUE(Events.empty());

    parityCombo.setCurrentIndex(1);
    stopBitsCombo.setCurrentIndex(1);
    byteSizeCombo.setCurrentIndex(0);
    EXPECT_EQ(port->GetParity(), 1);
    EXPECT_EQ(port->GetStopBits(), 2);
    EXPECT_EQ(port->GetByteSize(), 8);
    EXPECT_EQ(Events, (std::vector<std::string>{"close 201", "open 201", "close 201", "open 201"}));
    port->Close();
    Events.clear();
    portCombo.setCurrentIndex(portCombo.findText("COM203"));
    EXPECT_EQ(port->GetPort(), 203);
    EXPECT_TRUE(Events.empty()) << "picking a port while closed only stores it";
    EXPECT_FALSE(port->IsOpen());
}

TEST_F(PortComponent, BurstGivesOneReceiveAfterTheQuietTimeAndPartialReadsRepeat) {
    port->SetPort(201);
    TakePerReceive = 4;
    ASSERT_EQ(port->Open(), 1);
    auto written = Clock::now();
    ASSERT_TRUE(pty.Write("0123456789"));
    ASSERT_TRUE(PumpUntil([] { return ReceiveTaken.size() >= 3; }, 10s));
    QTest::qWait(300);
    EXPECT_EQ(ReceiveTaken, (std::vector<int>{4, 4, 2}));
    EXPECT_GE(ReceiveTimes[0] - written, 45ms);
    EXPECT_GE(ReceiveTimes[2] - ReceiveTimes[1], 45ms);

    // A failing handler does not stop later notifications.
    ThrowOnReceive = true;
    ReceiveTaken.clear();
    ASSERT_TRUE(pty.Write("abcdef"));
    ASSERT_TRUE(PumpUntil([] { return ReceiveTaken.size() >= 2; }, 10s));
    EXPECT_EQ(ReceiveTaken, (std::vector<int>{4, 2}));
}

TEST_F(PortComponent, ThreeHundredBytesArriveInOneReceive) {
    port->SetPort(201);
    ASSERT_EQ(port->Open(), 1);
    std::string data(300, 'z');
    ASSERT_TRUE(pty.Write(data));
    ASSERT_TRUE(PumpUntil([] { return !ReceiveTaken.empty(); }, 10s));
    QTest::qWait(200);
    EXPECT_EQ(ReceiveTaken, std::vector<int>{300});
}

// Close while a notification waits for this very thread: Close gives up after about 500 ms and
// the notification still runs afterwards, with the port closed and the bytes readable.
TEST_F(PortComponent, LateNotificationRunsAfterClose) {
    port->SetPort(201);
    ASSERT_EQ(port->Open(), 1);
    ASSERT_TRUE(pty.Write("late"));
    std::this_thread::sleep_for(700ms); // no events pumped: the notifier now waits for us
    auto start = Clock::now();
    port->Close();
    EXPECT_GE(Clock::now() - start, 450ms);
    EXPECT_TRUE(ReceiveTaken.empty());
    ASSERT_TRUE(PumpUntil([] { return !ReceiveTaken.empty(); }, 5s));
    EXPECT_EQ(ReceiveTaken, std::vector<int>{4});
    EXPECT_EQ(OpenDuringReceive, std::vector<bool>{false});
    ASSERT_EQ(port->Open(), 1) << "the device was released by the close";
}

// Ports that come and go reach the combo box within about a second; the open port is left alone.
TEST_F(PortComponent, HotPlugReachesThePortComboWithoutTouchingThePort) {
    FillAll();
    port->SetPort(201);
    ASSERT_EQ(port->Open(), 1);
    Events.clear();
    PtyPair plugged;
    map.Add(202, plugged.SlavePath());
    ASSERT_TRUE(PumpUntil([&] { return portCombo.findText("COM202") >= 0; }, 5s));
    EXPECT_EQ(portCombo.currentText(), "COM201");
    map.Remove(201);
    ASSERT_TRUE(PumpUntil([&] { return portCombo.findText("COM201") < 0; }, 5s));
    EXPECT_EQ(portCombo.currentIndex(), -1);
    EXPECT_TRUE(port->IsOpen());
    EXPECT_TRUE(Events.empty());

    port->WatchPortList = false;
    map.Add(204, plugged.SlavePath());
    QTest::qWait(2500);
    EXPECT_LT(portCombo.findText("COM204"), 0);
    port->WatchPortList = true;
    EXPECT_TRUE(PumpUntil([&] { return portCombo.findText("COM204") >= 0; }, 5s));
}

// Destroying the component while its threads wait for the user-interface thread neither hangs
// nor calls into the destroyed object.
TEST_F(PortComponent, DestructionWithPendingNotificationsIsPrompt) {
    FillAll();
    port->SetPort(201);
    ASSERT_EQ(port->Open(), 1);
    ASSERT_TRUE(pty.Write("pending"));
    PtyPair plugged;
    map.Add(202, plugged.SlavePath());
    std::this_thread::sleep_for(1500ms); // both threads now wait for this thread
    auto start = Clock::now();
    port.reset();
    EXPECT_LT(Clock::now() - start, 3s);
    QTest::qWait(100);
    EXPECT_TRUE(ReceiveTaken.empty());
}

// A component at namespace scope outlives the application object: the program must still end
// promptly (run in a child process, see main).
TEST(PortComponentLifetime, StaticComponentOutlivesTheApplication) {
    TempPortMap map;
    PtyPair pty;
    map.Add(9, pty.SlavePath());
    pid_t pid = fork();
    if (pid == 0) {
        setenv("TOLVANE_STATIC_CHILD", map.Folder().c_str(), 1);
        execl("/proc/self/exe", "/proc/self/exe", static_cast<char*>(nullptr));
        _exit(99);
    }
    // Play the device: keep talking while the child runs.
    int status = 0;
    auto deadline = Clock::now() + 10s;
    pid_t done = 0;
    while (done == 0 && Clock::now() < deadline) {
        pty.Write("x");
        std::this_thread::sleep_for(20ms);
        done = waitpid(pid, &status, WNOHANG);
    }
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        FAIL() << "the program did not end";
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

namespace {
TMCPort StaticPort; // as the window program holds its one port component
void StaticReceive() {
    uint8_t buffer[16];
    StaticPort.Read(buffer, sizeof(buffer));
}

int RunStaticChild(int argc, char** argv, const char* folder) {
    SetPortMapFolder(folder);
    {
        QApplication app(argc, argv);
        tk::qt::QtComboBox combo;
        StaticPort.FillPortList(&combo);
        StaticPort.OnReceive = StaticReceive;
        StaticPort.SetPort(9);
        if (StaticPort.Open() != 1) return 2;
        QTest::qWait(200);
        std::this_thread::sleep_for(1200ms); // a notification and a list check now wait
    }
    return 0; // the port is still open: the static destructor closes it
}
} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (const char* folder = std::getenv("TOLVANE_STATIC_CHILD"))
        return RunStaticChild(argc, argv, folder);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
