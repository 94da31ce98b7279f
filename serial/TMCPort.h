#pragma once
// The serial port as the window program sees it: the port core plus notifications carried to the
// user-interface thread, the port-list watcher and five combo boxes bound to the line settings.
// Every member is called on the user-interface thread. A TMCPort may be a static object defined
// at namespace scope: it touches Qt only once a QCoreApplication exists, and lets go of Qt when
// the application object is destroyed.
#include "serial/MCPort.h"

#include <QMetaObject>
#include <QPointer>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class QComboBox;
class QObject;

constexpr int WM_PORT_RECEIVE = 1025;
constexpr int WM_PORT_LISTCHANGE = 1026;

// Upper-cases the letters a to z in place; every other byte stays.
void ToUpperAscii(std::string& text);
// Upper-cases text in place; -1 when it does not begin with "COM", otherwise the decimal number
// of at most the three characters after "COM" (stops at the first non-digit; none gives 0).
int ParsePortName(std::string& text);

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

    void FillPortList(QComboBox* combo);
    void FillBaudRateList(QComboBox* combo);
    void FillParityList(QComboBox* combo);
    void FillByteSizeList(QComboBox* combo);
    void FillStopBitsList(QComboBox* combo);

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
    friend class PortNotifyObject;
    enum class Setting { Port, BaudRate, Parity, ByteSize, StopBits };

    void WndProc(int message);
    void RefreshPortCombo();
    void PutPortItems(QComboBox* combo, const std::string& list);
    void SetLastPortList(const std::string& list);
    bool SendToUi(int message);
    void EnsureNotifyObject();
    void ReleaseNotifyObject();
    static void ReleaseAllNotifyObjects();
    void WatcherProc();
    void FillFixed(QComboBox* combo, QPointer<QComboBox>& field, QMetaObject::Connection* hooks,
                   const char* items, void (TMCPort::*handler)());
    void Hook(QComboBox* combo, QMetaObject::Connection* hooks, void (TMCPort::*handler)());
    void Set(Setting setting, long value);
    void ApplyChange(Setting setting, long value);
    void StoreSetting(Setting setting, long value);
    long StoredSetting(Setting setting) const;
    QComboBox* ComboFor(Setting setting) const;
    std::string CurrentItemText(QComboBox* combo) const;

    QPointer<QComboBox> PortCombo;
    QPointer<QComboBox> BaudRateCombo;
    QPointer<QComboBox> ParityCombo;
    QPointer<QComboBox> ByteSizeCombo;
    QPointer<QComboBox> StopBitsCombo;
    QMetaObject::Connection PortHooks[2], BaudRateHooks[2], ParityHooks[2], ByteSizeHooks[2],
        StopBitsHooks[2];
    bool Updating = false; // a programmatic selection is under way: handlers stand aside

    mutable std::mutex ListLock;
    std::string LastPortListText;
    std::atomic<bool> PortComboBound{false};

    std::mutex NotifyLock; // guards NotifyWindow against release while a thread posts to it
    QObject* NotifyWindow = nullptr;

    std::mutex WatcherLock;
    std::condition_variable WatcherEvent;
    bool WatcherStop = false;
    std::atomic<bool> WatcherRunning{false};
    std::thread WatcherHandle;
};
