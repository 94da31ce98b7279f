#pragma once
// The serial port as the window program sees it: the port core plus notifications carried to the
// user-interface thread, the port-list watcher and five combo boxes bound to the line settings.
// Every member is called on the user-interface thread. A TMCPort may be a static object defined
// at namespace scope: it makes its notification window only once the toolkit's application
// object exists, and the toolkit lets go of that window when the application object goes.
#include "serial/MCPort.h"
#include "serial/PortName.h"
#include "toolkit/Toolkit.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

constexpr int WM_PORT_RECEIVE = 1025;
constexpr int WM_PORT_LISTCHANGE = 1026;

class TMCPort : public MCPort {
  public:
    TMCPort();
    ~TMCPort() override;

    // 0 without an OnReceive handler (nothing else happens), else OpenPort with the stored
    // settings.
    int Open();
    void SetOpen(bool open);
    void NotifyReceived() override;

    int GetPort() const { return PortNumber; }
    int GetBaudRate() const { return static_cast<int>(Dcb.BaudRate); }
    uint8_t GetParity() const { return Dcb.Parity; }
    int GetByteSize() const { return Dcb.ByteSize; }
    uint8_t GetStopBits() const { return Dcb.StopBits; }
    // Each setter closes an open port, stores the value, selects the matching item of its bound
    // combo box and reopens the port if it was open.
    void SetPort(int port);
    void SetBaudRate(int baud);
    void SetParity(uint8_t parity);
    void SetByteSize(int byteSize);
    void SetStopBits(uint8_t stopBits);

    void FillPortList(tk::ComboBox* combo);
    void FillBaudRateList(tk::ComboBox* combo);
    void FillParityList(tk::ComboBox* combo);
    void FillByteSizeList(tk::ComboBox* combo);
    void FillStopBitsList(tk::ComboBox* combo);

    // Fills ports with the numbers of the ports present, ascending; returns how many.
    int EnumSerialPorts(int ports[256]);
    // "COM1\r\nCOM3\r\nCOM10" for ports 1, 3, 10; empty when none.
    std::string BuildPortList();

    // Change handlers of the five combo boxes (run when the user picks an item).
    void PortComboChange();
    void BaudRateComboChange();
    void ParityComboChange();
    void ByteSizeComboChange();
    void StopBitsComboChange();

    void (*OnReceive)() = nullptr;
    std::atomic<bool> WatchPortList{true};

    // The text last put into the port combo box.
    std::string LastPortList() const;

  private:
    enum class Setting { Port, BaudRate, Parity, ByteSize, StopBits };

    // A combo box the component was handed, forgotten once the box is destroyed.
    class BoundCombo {
      public:
        tk::ComboBox* Get() const { return Life.expired() ? nullptr : Box; }
        void Bind(tk::ComboBox* box, std::function<void()> onChange);
        void Unbind();

      private:
        tk::ComboBox* Box = nullptr;
        tk::Lifetime Life;
    };

    void WndProc(int message);
    void RefreshPortCombo();
    void PutPortItems(tk::ComboBox* combo, const std::string& list);
    void SetLastPortList(const std::string& list);
    bool SendToUi(int message);
    void EnsureNotifyObject();
    void WatcherProc();
    void FillFixed(tk::ComboBox* combo, BoundCombo& field, const char* items,
                   void (TMCPort::*handler)());
    void Set(Setting setting, int64_t value);
    void ApplyChange(Setting setting, int64_t value);
    void StoreSetting(Setting setting, int64_t value);
    int64_t StoredSetting(Setting setting) const;
    tk::ComboBox* ComboFor(Setting setting) const;
    std::string CurrentItemText(tk::ComboBox* combo) const;

    BoundCombo PortCombo, BaudRateCombo, ParityCombo, ByteSizeCombo, StopBitsCombo;
    bool Updating = false; // a programmatic selection is under way: handlers stand aside

    mutable std::mutex ListLock;
    std::string LastPortListText;
    std::atomic<bool> PortComboBound{false};

    std::mutex NotifyLock; // guards NotifyWindow while a thread picks it up
    std::unique_ptr<tk::NotifyWindow> NotifyWindow;
    // Windows the toolkit released (its application object went); kept, since a background
    // thread may still hold one, until the component goes.
    std::vector<std::unique_ptr<tk::NotifyWindow>> RetiredWindows;

    std::mutex WatcherLock;
    std::condition_variable WatcherEvent;
    bool WatcherStop = false;
    std::atomic<bool> WatcherRunning{false};
    std::thread WatcherHandle;
};
