// The port core on Windows, run under wine (tests/wine/run-tests.sh) against two joined
// pseudo-terminals: the port under test and, through the other, the device end. Without them
// (TOLVANE_WINE_PORTS unset) the device tests skip.
//
// Not covered here, as wine cannot show it: a second opener being refused (wine lets it in),
// parity and data bits (a pseudo-terminal keeps 8 bits without parity), a device that vanishes.
#include "settings/SettingsLocation.h"
#include "serial/MCPort.h"
#include "serial/PortMap.h"
#include "serial/SerialDevice.h"
#include "serial/win32/SerialCommNames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <windows.h>

using namespace std::chrono_literals;

namespace {

// "12,13" from the harness: the port under test and the device end.
bool WinePorts(int& port, int& device) {
    const char* text = std::getenv("TOLVANE_WINE_PORTS");
    return text && std::sscanf(text, "%d,%d", &port, &device) == 2;
}

// The device end: a plain (not overlapped) handle; reads poll the driver's count so that no
// read ever waits on wine's time-outs.
class DeviceEnd {
  public:
    explicit DeviceEnd(int number) {
        Handle = CreateFileA(PortDevicePath(number).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                             nullptr, OPEN_EXISTING, 0, nullptr);
        PurgeComm(Handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    }
    ~DeviceEnd() { CloseHandle(Handle); }
    bool Ok() const { return Handle != INVALID_HANDLE_VALUE; }
    void Write(const std::string& text) {
        DWORD done = 0;
        WriteFile(Handle, text.data(), DWORD(text.size()), &done, nullptr);
    }
    std::string Read(size_t want, std::chrono::milliseconds timeout) {
        std::string got;
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (got.size() < want && std::chrono::steady_clock::now() < end) {
            DWORD errors = 0;
            COMSTAT status{};
            ClearCommError(Handle, &errors, &status);
            if (status.cbInQue == 0) {
                Sleep(5);
                continue;
            }
            std::string chunk(status.cbInQue, '\0');
            DWORD n = 0;
            ReadFile(Handle, chunk.data(), status.cbInQue, &n, nullptr);
            got.append(chunk, 0, n);
        }
        return got;
    }

  private:
    HANDLE Handle;
};

// The settings a port of that number has now, read through a second handle (which wine allows).
DCB CurrentSettings(int number) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    HANDLE h = CreateFileA(PortDevicePath(number).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    GetCommState(h, &dcb);
    CloseHandle(h);
    return dcb;
}

class CollectingPort : public MCPort {
  public:
    ~CollectingPort() override {
        Close();
        WaitForLingeringThreads();
    }
    void NotifyReceived() override {
        uint8_t buffer[1024];
        const int n = Read(buffer, sizeof buffer);
        std::lock_guard<std::mutex> lock(Lock);
        Received.append(reinterpret_cast<char*>(buffer), size_t(n));
        ++Notifications;
        Changed.notify_all();
    }
    void BytesArrived() override { ++Chunks; }
    std::string WaitFor(size_t size) {
        std::unique_lock<std::mutex> lock(Lock);
        Changed.wait_for(lock, 10s, [&] { return Received.size() >= size; });
        return Received;
    }
    std::atomic<int> Chunks{0};
    int Notifications = 0;

  private:
    std::mutex Lock;
    std::condition_variable Changed;
    std::string Received;
};

class WinePort : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!WinePorts(Port, Device)) GTEST_SKIP() << "needs the wine harness's joined ports";
    }
    int Port = 0, Device = 0;
};

} // namespace

TEST(PortNames, SerialCommDataToNumbers) {
    struct Case {
        std::vector<std::string> names;
        std::vector<int> numbers;
    };
    const Case cases[] = {
        {{"COM10", "COM2", "COM1"}, {1, 2, 10}},            // numeric, not text order
        {{"COM12345", "CNCA0", "COM3"}, {3}},               // five digits; "A0" is no number
        {{"COM4", "COM4", "XYZ9999"}, {4, 4, 9999}},        // repeats kept, prefix not read
        {{"COM", "CO", "", "COM1x", "COM-1", "COM 1"}, {}}, // nothing numeric after three
    };
    for (const Case& c : cases)
        EXPECT_EQ(SerialCommPortNumbers(c.names), c.numbers);
    std::vector<std::string> many(300, "COM7");
    EXPECT_EQ(SerialCommPortNumbers(many).size(), 256u);
}

TEST(PortNames, DevicePathsAndExecutableFolder) {
    EXPECT_EQ(PortDevicePath(1), "\\\\.\\COM1");
    EXPECT_EQ(PortDevicePath(256), "\\\\.\\COM256");
    EXPECT_EQ(PortDevicePath(0), "");
    EXPECT_EQ(PortDevicePath(257), "");
    const std::string folder = ExecutableFolder();
    EXPECT_EQ(GetFileAttributesA((folder + "\\serial_core_tests.exe").c_str()) ==
                  INVALID_FILE_ATTRIBUTES,
              false)
        << folder;
}

// The harness configured both ports before the wine server started: the registry lists them.
TEST_F(WinePort, RegistryListsTheConfiguredPorts) {
    const std::vector<int> present = PresentPortNumbers();
    EXPECT_TRUE(std::is_sorted(present.begin(), present.end()));
    EXPECT_NE(std::find(present.begin(), present.end(), Port), present.end());
    EXPECT_NE(std::find(present.begin(), present.end(), Device), present.end());
}

TEST_F(WinePort, ResultCodesAndSettingsReachTheDevice) {
    MCPort port;
    EXPECT_EQ(port.OpenPort(0, 9600, 8, 0, 0), -1);
    EXPECT_EQ(port.OpenPort(Port, 9600, 9, 0, 0), -2);
    EXPECT_EQ(port.OpenPort(Port, 9600, 8, 3, 0), -3);
    EXPECT_EQ(port.OpenPort(Port, 9600, 8, 0, 3), -4);
    EXPECT_EQ(port.OpenPort(201, 9600, 8, 0, 0), -5); // no such COM port
    ASSERT_EQ(port.OpenPort(Port, 115200, 8, 0, 2), 1);
    DCB seen = CurrentSettings(Port);
    EXPECT_EQ(seen.BaudRate, 115200u);
    EXPECT_EQ(seen.StopBits, TWOSTOPBITS);
    ASSERT_EQ(port.OpenPort(Port, 57600, 8, 0, 0), 1);
    seen = CurrentSettings(Port);
    EXPECT_EQ(seen.BaudRate, 57600u);
    EXPECT_EQ(seen.StopBits, ONESTOPBIT);
}

TEST_F(WinePort, BytesTravelBothWaysAndArePickedUpAfterTheQuietTime) {
    DeviceEnd device(Device);
    ASSERT_TRUE(device.Ok());
    CollectingPort port;
    ASSERT_EQ(port.OpenPort(Port, 115200, 8, 0, 0), 1);
    std::string sent(5000, '\0');
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = char(i * 31 + 7);
    port.Write(reinterpret_cast<const uint8_t*>(sent.data()), 3000);
    port.Write(reinterpret_cast<const uint8_t*>(sent.data()) + 3000, 2000);
    EXPECT_EQ(device.Read(sent.size(), 10s), sent);

    device.Write("\r\nVERSION:2.1\r\n");
    EXPECT_EQ(port.WaitFor(15), "\r\nVERSION:2.1\r\n");
    EXPECT_GE(port.Chunks.load(), 1);
}

// Close ends the reader's pending comm-event wait (mask 0) and the writer's wait; a port opened
// and closed many times keeps working.
TEST_F(WinePort, RepeatedOpenAndCloseKeepsThePortUsable) {
    DeviceEnd device(Device);
    ASSERT_TRUE(device.Ok());
    for (int i = 0; i < 50; ++i) {
        MCPort port;
        ASSERT_EQ(port.OpenPort(Port, 9600, 8, 0, 0), 1) << "cycle " << i;
        port.Close();
        EXPECT_FALSE(port.IsOpen());
    }
    CollectingPort port;
    ASSERT_EQ(port.OpenPort(Port, 9600, 8, 0, 0), 1);
    device.Write("ping");
    EXPECT_EQ(port.WaitFor(4), "ping");
}

// The device layer under the port core: one write of far more than a driver chunk arrives whole
// and in order (the device end reads while it is written); a device that was interrupted or
// released reports that it wrote nothing, and the device end sees nothing of it.
TEST_F(WinePort, DeviceWritesALargeBufferWholeOrReportsFailure) {
    DeviceEnd device(Device);
    ASSERT_TRUE(device.Ok());
    const PortDcb settings = MCPort().Dcb; // 9600 8N1, DTR and RTS on: the port core's defaults
    std::string sent(64 * 1024 + 3, '\0');
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = char(i * 131 + i / 256);
    const auto* bytes = reinterpret_cast<const uint8_t*>(sent.data());

    SerialDevice serial;
    ASSERT_EQ(serial.Open(PortDevicePath(Port), settings), 1);
    bool whole = false;
    std::thread writer([&] { whole = serial.Write(bytes, sent.size()); });
    const std::string got = device.Read(sent.size(), 30s);
    writer.join();
    EXPECT_TRUE(whole);
    EXPECT_EQ(got.size(), sent.size());
    EXPECT_TRUE(got == sent) << "the bytes arrived out of order or changed";

    const struct {
        const char* what;
        void (*end)(SerialDevice&);
    } cases[] = {
        {"interrupted", [](SerialDevice& d) { d.Interrupt(); }},
        {"released", [](SerialDevice& d) { d.Release(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SerialDevice ended;
        ASSERT_EQ(ended.Open(PortDevicePath(Port), settings), 1);
        c.end(ended);
        EXPECT_FALSE(ended.Write(bytes, 300));
        EXPECT_EQ(device.Read(1, 200ms), "");
    }
}
