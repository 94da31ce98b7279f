#include "serial/CFIFO.h"
#include "serial/ModemInhibition.h"
#include "serial/PortMap.h"
#include "tests/support/MockModemManager.h"
#include "tests/support/PtyPair.h"
#include "tests/support/TempPortMap.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using tolvane::test::PtyPair;
using tolvane::test::TempPortMap;

TEST(CFIFO, KeepsOrderAcrossPushesAndPartialPops) {
    CFIFO<unsigned char> q;
    unsigned char buffer[10] = {0};
    EXPECT_EQ(q.Pop(buffer, 10), 0);
    EXPECT_EQ(buffer[0], 0); // untouched
    q.Push(reinterpret_cast<const unsigned char*>("ab"), 2);
    q.Push(reinterpret_cast<const unsigned char*>("cd"), 2);
    q.Push(nullptr, 0);
    EXPECT_EQ(q.Size(), 4);
    EXPECT_EQ(q.Pop(buffer, 0), 0);
    ASSERT_EQ(q.Pop(buffer, 3), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 3), "abc");
    ASSERT_EQ(q.Pop(buffer, 10), 1);
    EXPECT_EQ(buffer[0], 'd');
    EXPECT_TRUE(q.IsEmpty());
    q.Push(reinterpret_cast<const unsigned char*>("xy"), 2);
    q.Clear();
    EXPECT_EQ(q.Size(), 0);
    EXPECT_TRUE(q.IsEmpty());
    q.Clear();
}

// A producer and a consumer thread: nothing lost, nothing reordered.
TEST(CFIFO, ProducerConsumerKeepsEveryByteInOrder) {
    CFIFO<unsigned char> q;
    constexpr int Total = 200000;
    std::thread producer([&] {
        unsigned char chunk[97];
        int next = 0;
        while (next < Total) {
            int n = std::min<int>(97, Total - next);
            for (int i = 0; i < n; ++i)
                chunk[i] = static_cast<unsigned char>((next + i) * 7);
            q.Push(chunk, static_cast<unsigned>(n));
            next += n;
        }
    });
    int received = 0;
    bool inOrder = true;
    unsigned char buffer[256];
    while (received < Total) {
        int n = q.Pop(buffer, sizeof(buffer));
        for (int i = 0; i < n; ++i)
            inOrder &= buffer[i] == static_cast<unsigned char>((received + i) * 7);
        received += n;
    }
    producer.join();
    EXPECT_TRUE(inOrder);
    EXPECT_TRUE(q.IsEmpty());
}

TEST(PortMap, MapsComLinksToCharacterDevicesAndIgnoresOddEntries) {
    TempPortMap map;
    PtyPair a, b;
    map.Add(3, a.SlavePath());
    map.Add(200, b.SlavePath());
    map.Add(150, map.Folder() + "/missing"); // dangling
    map.AddRawLink("COM151", map.Folder() + "/COM152");
    map.AddRawLink("COM152", map.Folder() + "/COM151"); // a loop
    map.Add(153, "/tmp");                               // a directory, not a device
    map.AddRawLink("COM007", a.SlavePath());            // leading zeros
    map.AddRawLink("COM0", a.SlavePath());
    map.AddRawLink("COM257", a.SlavePath());
    map.AddRawLink("COM1x", a.SlavePath());
    map.AddRawLink("com4", a.SlavePath());
    map.AddRawLink("COM", a.SlavePath());
    map.AddRawLink("COM99999999999999999999", a.SlavePath());

    EXPECT_EQ(PortDevicePath(3), a.SlavePath());
    EXPECT_EQ(PortDevicePath(200), b.SlavePath());
    for (int number : {0, -1, 257, 150, 151, 152, 153})
        EXPECT_EQ(PortDevicePath(number), "") << number;

    std::vector<int> present = PresentPortNumbers();
    EXPECT_TRUE(std::is_sorted(present.begin(), present.end()));
    EXPECT_EQ(std::count(present.begin(), present.end(), 3), 1);
    EXPECT_EQ(std::count(present.begin(), present.end(), 200), 1);
    for (int absent : {0, 4, 7, 150, 151, 152, 153, 257})
        EXPECT_EQ(std::count(present.begin(), present.end(), absent), 0) << absent;
    for (int number : present)
        EXPECT_FALSE(PortDevicePath(number).empty()) << number;
}

TEST(PortMap, FolderThatIsAFileOrMissingGivesNoMappedPorts) {
    std::string previous = PortMapFolder();
    SetPortMapFolder("/proc/self/status"); // not a folder
    for (int number : PresentPortNumbers())
        EXPECT_LE(number, 96) << "only default devices can be present";
    SetPortMapFolder("/nonexistent/ports");
    EXPECT_EQ(PortDevicePath(100), "");
    SetPortMapFolder("");
    EXPECT_NE(PortMapFolder().find("/ports"), std::string::npos);
    SetPortMapFolder(previous);
}

// A process of that name is seen, whoever started it; once it is gone, it is not.
TEST(ModemManager, SeenWhileAProcessOfThatNameRuns) {
    const bool before = ModemManagerRunning();
    char pattern[] = "/tmp/tolvane-mm-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string program = std::string(pattern) + "/ModemManager";
    std::filesystem::copy_file("/bin/sleep", program);
    const pid_t pid = fork();
    if (pid == 0) {
        execl(program.c_str(), "ModemManager", "30", static_cast<char*>(nullptr));
        _exit(127);
    }
    bool seen = false;
    for (int i = 0; i < 200 && !seen; ++i, usleep(10000))
        seen = ModemManagerRunning();
    EXPECT_TRUE(seen);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    if (!before) {
        EXPECT_FALSE(ModemManagerRunning());
    }
    std::filesystem::remove_all(pattern);
}

// A port probed again and again: a device that the modem manager does not list is asked about
// once while it stays, a new node at the same name is asked about again, and a listed modem is
// inhibited at every opening (the inhibition ends with each close).
TEST(ModemManager, AskedOncePerDeviceThatItDoesNotList) {
    using tolvane::test::MockModemManager;
    if (!MockModemManager::BusInstalled()) GTEST_SKIP() << "dbus-daemon is not installed";
    char pattern[] = "/tmp/tolvane-node-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string node = std::string(pattern) + "/ttyUSB9", modem = "/dev/ttyACM7";
    std::ofstream(node).put('x');
    MockModemManager manager;
    ASSERT_TRUE(manager.StartBus()) << manager.Error();
    ASSERT_TRUE(manager.StartManager({{"/sys/devices/usb3/3-2", {modem}, ""}})) << manager.Error();

    ModemInhibition inhibition;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(inhibition.Inhibit(node), ModemInhibitionState::NotListed);
        inhibition.Release();
    }
    EXPECT_EQ(manager.ListCalls(), 1);
    std::filesystem::remove(node);
    std::ofstream(node).put('y');
    EXPECT_EQ(inhibition.Inhibit(node), ModemInhibitionState::NotListed);
    EXPECT_EQ(manager.ListCalls(), 2);
    // The listed modem's port does not exist here: never the same node, so always asked.
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(inhibition.Inhibit(modem), ModemInhibitionState::Inhibited);
        inhibition.Release();
    }
    EXPECT_EQ(manager.ListCalls(), 4);
    EXPECT_EQ(manager.InhibitCalls().size(), 4u);
    std::filesystem::remove_all(pattern);
}
