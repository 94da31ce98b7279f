#pragma once
// The main window on the offscreen platform with a scripted device on a pseudo-terminal mapped
// as COM7, message boxes answered by the seam.

#include "app/MainForm.h"
#include "app/PortSettings.h"
#include "app/UserDialogs.h"
#include "app/WindowDialogue.h"
#include "package/FirmwarePackage.h"
#include "package/PackageWriter.h"
#include "tests/dialogue/FakeDevice.h"
#include "tests/support/QtWindow.h"
#include "tests/support/TempPortMap.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <random>

namespace tolvane::test {

constexpr int kCom = 7;

// Work the device's thread hands to the user-interface thread. A plain locked queue that the
// window's loop drains on a short timer, so the hand-over is visible to ThreadSanitizer.
class UiQueue {
  public:
    static UiQueue& Instance() {
        static UiQueue queue;
        return queue;
    }
    void Post(std::function<void()> fn) {
        std::lock_guard<std::mutex> guard(Lock);
        Pending.push_back(std::move(fn));
    }
    // Runs what was posted; a function may pump events and so drain again, nested.
    void Drain() {
        for (;;) {
            std::function<void()> fn;
            {
                std::lock_guard<std::mutex> guard(Lock);
                if (Pending.empty()) return;
                fn = std::move(Pending.front());
                Pending.pop_front();
            }
            fn();
        }
    }

  private:
    std::mutex Lock;
    std::deque<std::function<void()>> Pending;
};

// Runs fn on the user-interface thread within a few milliseconds (callable from any thread).
template <typename Fn> void PostToUi(Fn fn) {
    UiQueue::Instance().Post(std::move(fn));
}

inline void SelectItem(QComboBox* box, const QString& text) {
    box->setCurrentIndex(box->findText(text));
}

class DialogueWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        Map.Add(kCom, Pty.SlavePath());
        SetConfigIniPath((Dir.path() + "/Config.ini").toStdString());
        SetMessageBoxHook(
            [this](const std::string& text) { Boxes.push_back(QString::fromStdString(text)); });
        Window = new TMForm;
        MCPort1.SetPort(kCom);
        MCPort1.SetBaudRate(115200);
        MCPort1.SetParity(0);
        MCPort1.SetByteSize(8);
        MCPort1.SetStopBits(0);
        // A loader at 9600 gives the pings a time-out of 78 ms: at 115200 it would be 52 ms, barely
        // above the 50 ms quiet time before a reply is heard, and a late ping reply would be
        // taken for the reply to the next request.
        SetModes("115200bps", 0, "9600bps", 0);
        MCPort1.SetOpen(true);
        ASSERT_TRUE(MCPort1.IsOpen());
        DialogueStopped = true;
        FirmwarePackage.ClearKind();
        Drainer = std::make_unique<QTimer>();
        QObject::connect(Drainer.get(), &QTimer::timeout, [] { UiQueue::Instance().Drain(); });
        Drainer->start(2);
    }

    void TearDown() override {
        Device.reset();
        // Work the device posted is done while the window still exists.
        UiQueue::Instance().Drain();
        Drainer.reset();
        MCPort1.SetOpen(false);
        delete Window;
        SetMessageBoxHook({});
        SetConfigIniPath("");
        FirmwarePackage.ClearKind();
        DialogueStopped = true;
    }

    void SetModes(const char* workBaud, int workParity, const char* bootBaud, int bootParity) {
        SelectItem(Q(Window->RzComboBox6), workBaud);
        Q(Window->RzComboBox8)->setCurrentIndex(workParity);
        SelectItem(Q(Window->RzComboBox7), bootBaud);
        Q(Window->RzComboBox9)->setCurrentIndex(bootParity);
    }

    // Every message the device receives also records the status text of that moment.
    void StartDevice(FakeDevice::Responder responder) {
        Device = std::make_unique<FakeDevice>(
            Pty, [this, responder = std::move(responder)](const DeviceMessage& m) {
                PostToUi([this] { Statuses.push_back(Q(Window->RzStatusPane3)->text()); });
                return responder ? responder(m) : DeviceReply{};
            });
    }
    int StatusCount(const QString& text) const {
        return int(std::count(Statuses.begin(), Statuses.end(), text));
    }

    // Loads a package of blockCount blocks of blockSize random bytes; returns the block area.
    Bytes LoadPackage(uint16_t blockSize, uint16_t blockCount, uint8_t kind = 0x10) {
        PackageLayout layout;
        layout.Kind = kind;
        layout.BlockSize = blockSize;
        layout.BlockCount = blockCount;
        Bytes area(size_t(blockSize) * blockCount);
        std::mt19937 random(blockCount * 131u + blockSize);
        for (auto& b : area)
            b = uint8_t(random());
        layout.BlockArea = area;
        layout.EndParam1 = {0x11, 0x12, 0x13, 0x14};
        layout.EndParam2 = {0x21, 0x22, 0x23, 0x24};
        const std::vector<uint8_t> file = BuildPackage(layout);
        const std::string path = (Dir.path() + "/test.enc2").toStdString();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
        EXPECT_EQ(::LoadPackage(path, FirmwarePackage).Outcome, PackageLoadOutcome::Loaded);
        return area;
    }

    // Clicks "开始升级" and returns once the run has ended.
    void RunUpgrade() { Q(Window->RzButton3)->click(); }

    QTemporaryDir Dir;
    TempPortMap Map;
    PtyPair Pty;
    TMForm* Window = nullptr;
    std::unique_ptr<QTimer> Drainer;
    std::unique_ptr<FakeDevice> Device;
    std::vector<QString> Boxes;
    std::vector<QString> Statuses; // status text as each device message arrived
};

} // namespace tolvane::test
