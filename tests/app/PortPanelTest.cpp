// The port panel and the settings file with pseudo-terminals as the serial ports.
#include "WindowFixture.h"

#include <QTest>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "settings/SettingsLocation.h"
#include "app/StatusLine.h"
#include "serial/PortMap.h"
#include "tests/support/MockModemManager.h"
#include "tests/support/PtyPair.h"

namespace {

constexpr int kPort = 200; // far above the ports a test machine has

const char kFirstRunFile[] = "[COMPort1]\nPort=1\nBaudrate=19200\nParity=NONE\nByteSize=8\n"
                             "StopBits=0\nBaudrateWk=-1\nParityWk=-1\nBaudrateBt=-1\nParityBt=-1\n";

class PortPanelTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        pty = std::make_unique<tolvane::test::PtyPair>();
        portMap->Add(kPort, pty->SlavePath());
    }
    void TearDown() override {
        WindowTest::TearDown();
        pty.reset();
    }
    bool LampLit() const {
        return Q(form->LEDActive)->pixmap().toImage() == Q(form->ImageList1)[0].toImage();
    }
    std::unique_ptr<tolvane::test::PtyPair> pty;
};

TEST_F(PortPanelTest, FirstRunWritesTheDefaultSettingsFile) {
    Create();
    EXPECT_EQ(MCPort1.GetPort(), 1);
    EXPECT_EQ(MCPort1.GetBaudRate(), 19200);
    EXPECT_EQ(Q(form->RzComboBox2)->currentText(), QStringLiteral("19200bps"));
    EXPECT_EQ(Q(form->RzComboBox3)->currentText(), QStringLiteral("None"));
    EXPECT_EQ(Q(form->RzComboBox4)->currentText(), QStringLiteral("8"));
    EXPECT_EQ(Q(form->RzComboBox5)->currentText(), QStringLiteral("1"));
    for (QComboBox* box :
         {Q(form->RzComboBox6), Q(form->RzComboBox7), Q(form->RzComboBox8), Q(form->RzComboBox9)})
        EXPECT_EQ(box->currentIndex(), -1);
    EXPECT_EQ(Q(form->RzComboBox6)->count(), Q(form->RzComboBox2)->count());
    EXPECT_EQ(Q(form->RzComboBox9)->itemText(2), Q(form->RzComboBox3)->itemText(2));
    Q(form)->close();
    EXPECT_EQ(GetConfig(), kFirstRunFile);
    EXPECT_TRUE(Q(form->RzStatusPane3)->text().isEmpty()); // the port was closed: nothing reported
}

TEST_F(PortPanelTest, StoredSettingsAreSelectedAtTheNextStartAndWrittenBack) {
    PutConfig("; kept\r\n[comport1]\r\nport=200\r\nBaudrate=0x1C200\r\nParity=EVEN\r\n"
              "ByteSize=8\r\nStopBits=2\r\nBaudrateWk=3\r\nParityWk=2\r\nBaudrateBt=99\r\n"
              "ParityBt=0x1\r\n[Other]\r\nx=1\r\n");
    Create();
    EXPECT_EQ(Q(form->RzComboBox1)->currentText(), QStringLiteral("COM200"));
    EXPECT_EQ(Q(form->RzComboBox2)->currentText(), QStringLiteral("115200bps"));
    EXPECT_EQ(Q(form->RzComboBox3)->currentText(), QStringLiteral("Even"));
    EXPECT_EQ(Q(form->RzComboBox4)->currentText(), QStringLiteral("8"));
    EXPECT_EQ(Q(form->RzComboBox5)->currentText(), QStringLiteral("2"));
    EXPECT_EQ(Q(form->RzComboBox6)->currentIndex(), 3);
    EXPECT_EQ(Q(form->RzComboBox8)->currentIndex(), 2);
    EXPECT_EQ(Q(form->RzComboBox7)->currentIndex(), -1);
    EXPECT_EQ(Q(form->RzComboBox9)->currentIndex(), 1);
    EXPECT_FALSE(MCPort1.IsOpen());
    Q(form->RzComboBox7)->setCurrentIndex(0);
    Q(form)->close();
    EXPECT_EQ(GetConfig(),
              "; kept\r\n[comport1]\r\nPort=200\r\nBaudrate=115200\r\nParity=EVEN\r\n"
              "ByteSize=8\r\nStopBits=2\r\nBaudrateWk=3\r\nParityWk=2\r\nBaudrateBt=0\r\n"
              "ParityBt=1\r\n[Other]\r\nx=1\r\n");
}

TEST_F(PortPanelTest, OddStoredValuesFallBackOrSelectNothing) {
    PutConfig("[COMPort1]\nPort=251\nBaudrate=fast\nParity=even\nStopBits=1\n");
    Create();
    EXPECT_EQ(Q(form->RzComboBox1)->currentIndex(), -1); // COM251 is absent
    EXPECT_EQ(MCPort1.GetBaudRate(), 19200);
    EXPECT_EQ(MCPort1.GetParity(), 0);
    EXPECT_EQ(Q(form->RzComboBox3)->currentText(), QStringLiteral("None"));
    EXPECT_EQ(MCPort1.GetStopBits(), 1);
    EXPECT_EQ(Q(form->RzComboBox5)->currentIndex(), -1); // one and a half has no item
    Q(form->RzBitBtn1)->click();
    EXPECT_EQ(messages, QStringList{QStringLiteral("请选择串口参数！")});
    EXPECT_FALSE(MCPort1.IsOpen());
    Q(form)->close();
    const std::string written = GetConfig();
    EXPECT_NE(written.find("\nParity=NONE\n"), std::string::npos) << written;
    EXPECT_NE(written.find("\nStopBits=1\n"), std::string::npos) << written;
    EXPECT_NE(written.find("\nBaudrate=19200\n"), std::string::npos) << written;
}

TEST_F(WindowTest, AMachineWithoutPortsAsksForParameters) {
    if (!PresentPortNumbers().empty()) GTEST_SKIP() << "this machine has serial ports of its own";
    Create();
    EXPECT_EQ(Q(form->RzComboBox1)->count(), 0);
    Q(form->RzBitBtn1)->click();
    EXPECT_EQ(messages, QStringList{QStringLiteral("请选择串口参数！")});
    EXPECT_FALSE(MCPort1.IsOpen());
}

TEST_F(PortPanelTest, OpenAndCloseShowTheirTextsGlyphsAndLamp) {
    PutConfig("[COMPort1]\nPort=200\nBaudrate=9600\n");
    Create();
    Q(form->RzBitBtn1)->click();
    ASSERT_TRUE(MCPort1.IsOpen()) << messages.join(u'|').toStdString();
    EXPECT_EQ(Q(form->RzStatusPane3)->text(), QStringLiteral("COM200 Opened"));
    EXPECT_EQ(Q(form->RzBitBtn1)->text(), QStringLiteral("关闭串口"));
    EXPECT_EQ(form->RzBitBtn1->GlyphIndex(), 3);
    EXPECT_TRUE(LampLit());
    EXPECT_EQ(pty->SlaveBaudRate(), 9600u);

    Q(form->RzBitBtn1)->click();
    EXPECT_FALSE(MCPort1.IsOpen());
    EXPECT_EQ(Q(form->RzStatusPane3)->text(), QStringLiteral("COM200 Closed"));
    EXPECT_EQ(Q(form->RzBitBtn1)->text(), QStringLiteral("打开串口"));
    EXPECT_EQ(form->RzBitBtn1->GlyphIndex(), 1);
    EXPECT_FALSE(LampLit());
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(PortPanelTest, ABaudChangeOnAnOpenPortReopensItAtTheNewRate) {
    PutConfig("[COMPort1]\nPort=200\nBaudrate=9600\n");
    Create();
    Q(form->RzBitBtn1)->click();
    ASSERT_TRUE(MCPort1.IsOpen());
    form->MsgTimer1Timer();
    const int index = Q(form->RzComboBox2)->findText(QStringLiteral("115200bps"));
    ASSERT_GE(index, 0);
    Q(form->RzComboBox2)->setCurrentIndex(index); // as the user's pick
    EXPECT_TRUE(MCPort1.IsOpen());
    EXPECT_EQ(MCPort1.GetBaudRate(), 115200);
    EXPECT_EQ(pty->SlaveBaudRate(), 115200u);
    EXPECT_EQ(Q(form->RzStatusPane3)->text(), QStringLiteral("COM200 Opened"));
    EXPECT_EQ(Q(form->RzBitBtn1)->text(), QStringLiteral("关闭串口"));
    EXPECT_TRUE(LampLit());

    // Closing the window with the port open reports the close before saving; the next start
    // leaves the port closed.
    Q(form)->close();
    EXPECT_FALSE(MCPort1.IsOpen());
    EXPECT_EQ(Q(form->RzStatusPane3)->text(), QStringLiteral("COM200 Closed"));
    EXPECT_NE(GetConfig().find("Baudrate=115200\n"), std::string::npos);
    form.reset();
    Create();
    EXPECT_FALSE(MCPort1.IsOpen());
    EXPECT_EQ(Q(form->RzComboBox2)->currentText(), QStringLiteral("115200bps"));
    EXPECT_FALSE(LampLit());
}

TEST_F(PortPanelTest, APortHeldByAnotherProcessCannotBeOpened) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        int fd = open(pty->SlavePath().c_str(), O_RDWR | O_NOCTTY);
        flock(fd, LOCK_EX | LOCK_NB);
        ioctl(fd, TIOCEXCL);
        (void)!write(ready[1], "x", 1);
        pause();
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    PutConfig("[COMPort1]\nPort=200\n");
    Create();
    Q(form->RzBitBtn1)->click();
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
    EXPECT_FALSE(MCPort1.IsOpen());
    EXPECT_EQ(messages,
              QStringList{QStringLiteral(
                  "无法打开串口 COM200，请检查串口是否被其他程序占用或做了不恰当的设置！")});
    EXPECT_EQ(Q(form->RzBitBtn1)->text(), QStringLiteral("打开串口"));
    EXPECT_FALSE(LampLit());
}

TEST_F(PortPanelTest, ASettingsFileThatCannotBeWrittenIsReportedAndTheWindowStillCloses) {
    const std::string unwritable = dir + "/missing/Config.ini";
    SetConfigIniPath(unwritable);
    Create();
    Q(form)->close();
    EXPECT_FALSE(Q(form)->isVisible());
    EXPECT_EQ(exceptions,
              QStringList{QString::fromStdString("Unable to write to " + unwritable + ".")});
}

// A copy in a folder the user cannot write (as installed in /usr/bin) keeps its settings and its
// port map in the per-user folder, and closing it reports nothing.
TEST_F(PortPanelTest, InstalledCopyKeepsSettingsAndPortsPerUser) {
    const std::string bin = dir + "/bin", xdg = dir + "/xdg";
    std::filesystem::create_directory(bin);
    chmod(bin.c_str(), 0555);
    setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
    SetConfigIniPath(ConfigIniFile(bin));
    SetPortMapFolder(PortMapFolderFor(bin)); // as the program does at start
    std::filesystem::create_directories(xdg + "/tolvane/ports");
    std::filesystem::create_symlink(pty->SlavePath(), xdg + "/tolvane/ports/COM7");
    Create();
    EXPECT_GE(Q(form->RzComboBox1)->findText(QStringLiteral("COM7")), 0);
    Q(form)->close();
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_TRUE(exceptions.isEmpty()) << exceptions.join(u'|').toStdString();
    std::ifstream written(xdg + "/tolvane/Config.ini");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}), kFirstRunFile);
    EXPECT_FALSE(std::filesystem::exists(bin + "/Config.ini"));
    chmod(bin.c_str(), 0755);
}

// ModemManager on a private system bus, holding the port as it holds its modems' ports until the
// modem is inhibited: the window's opening has it inhibited first, the changes of line settings
// keep that, and the closing ends it.
TEST_F(PortPanelTest, ModemManagerLeavesTheModemAloneWhileThePortIsOpen) {
    using tolvane::test::MockModemManager;
    if (!MockModemManager::BusInstalled()) GTEST_SKIP() << "dbus-daemon is not installed";
    const std::string uid = "/sys/devices/platform/usb2/2-1";
    const std::vector<std::string> inhibited = {uid + " True"};
    for (const bool refuse : {false, true}) {
        SCOPED_TRACE(refuse ? "refused" : "inhibited");
        MockModemManager manager;
        ASSERT_TRUE(manager.StartBus()) << manager.Error();
        ASSERT_TRUE(manager.StartManager(
            {{uid, {pty->SlavePath()}, refuse ? "" : pty->SlavePath()}}, refuse))
            << manager.Error();
        PutConfig("[COMPort1]\nPort=200\nBaudrate=9600\n");
        Create();
        Q(form->RzBitBtn1)->click();
        ASSERT_TRUE(MCPort1.IsOpen()) << messages.join(u'|').toStdString();
        EXPECT_EQ(manager.InhibitCalls(), inhibited);
        EXPECT_EQ(Q(form->RzStatusPane3)->text(),
                  refuse ? QStringLiteral("ModemManager 拒绝让出该设备，可能干扰升级")
                         : QStringLiteral("COM200 Opened"));
        EXPECT_TRUE(LampLit());

        // The user's pick and the dialogue's switch of line settings: reopened, not asked again,
        // and a refusal is not shown again.
        Q(form->RzComboBox2)->setCurrentIndex(Q(form->RzComboBox2)->findText("115200bps"));
        MCPort1.SetParity(2);
        EXPECT_TRUE(MCPort1.IsOpen());
        EXPECT_EQ(pty->SlaveBaudRate(), 115200u);
        EXPECT_EQ(Q(form->RzStatusPane3)->text(), QStringLiteral("COM200 Opened"));
        EXPECT_EQ(manager.InhibitCalls(), inhibited);

        Q(form->RzBitBtn1)->click();
        EXPECT_FALSE(MCPort1.IsOpen());
        EXPECT_EQ(Q(form->RzStatusPane3)->text(), QStringLiteral("COM200 Closed"));
        std::vector<std::string> calls = inhibited;
        if (!refuse) calls.push_back(uid + " False");
        EXPECT_EQ(manager.InhibitCalls(), calls);
        EXPECT_TRUE(messages.isEmpty());
        form.reset();
    }
}

TEST_F(PortPanelTest, WithoutModemManagerForThePortOpeningIsAsBefore) {
    using tolvane::test::MockModemManager;
    if (!MockModemManager::BusInstalled()) GTEST_SKIP() << "dbus-daemon is not installed";
    enum class Bus { None, Empty, OtherModem };
    for (const Bus bus : {Bus::None, Bus::Empty, Bus::OtherModem}) {
        SCOPED_TRACE(int(bus));
        MockModemManager manager;
        if (bus != Bus::None) {
            ASSERT_TRUE(manager.StartBus()) << manager.Error();
        }
        if (bus == Bus::OtherModem) {
            ASSERT_TRUE(manager.StartManager({{"/sys/devices/usb3/3-2", {"/dev/ttyACM7"}, ""}}))
                << manager.Error();
        }
        PutConfig("[COMPort1]\nPort=200\nBaudrate=9600\n");
        Create();
        Q(form->RzBitBtn1)->click();
        ASSERT_TRUE(MCPort1.IsOpen()) << messages.join(u'|').toStdString();
        EXPECT_EQ(Q(form->RzStatusPane3)->text(), QStringLiteral("COM200 Opened"));
        Q(form->RzBitBtn1)->click();
        EXPECT_EQ(Q(form->RzStatusPane3)->text(), QStringLiteral("COM200 Closed"));
        EXPECT_TRUE(manager.InhibitCalls().empty());
        EXPECT_EQ(manager.ListCalls(), bus == Bus::OtherModem ? 1 : 0);
        EXPECT_TRUE(messages.isEmpty());
        form.reset();
    }
}

} // namespace
