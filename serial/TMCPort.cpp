#include "serial/TMCPort.h"

#include "serial/LineSettings.h"
#include "serial/PortMap.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QString>
#include <QThread>

#include <chrono>
#include <cstring>
#include <set>

namespace {

constexpr auto WatchInterval = std::chrono::milliseconds(1000);
constexpr auto WatcherStopWait = std::chrono::milliseconds(500);

// A whole text of decimal digits as a number; false for anything else (or too large).
bool ParseDecimal(const std::string& text, long& value) {
    if (text.empty() || text.size() > 10) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

const char* ParityText(long parity) {
    switch (parity) {
    case 0:
        return "NONE";
    case 1:
        return "ODD";
    case 2:
        return "EVEN";
    default:
        return "";
    }
}

const char* StopBitsText(long stopBits) {
    switch (stopBits) {
    case 0:
        return "1";
    case 1:
        return "1.5";
    case 2:
        return "2";
    default:
        return "";
    }
}

// Waiting state of one cross-thread call: finished once the work ran on the user-interface
// thread, or once the call was dropped because the receiving object went away.
struct UiCall {
    std::mutex Lock;
    std::condition_variable Done;
    bool Finished = false;
};

class PortCallEvent : public QEvent {
  public:
    static QEvent::Type Kind() {
        static const QEvent::Type kind = static_cast<QEvent::Type>(QEvent::registerEventType());
        return kind;
    }
    PortCallEvent(int message, std::shared_ptr<UiCall> call)
        : QEvent(Kind()), Message(message), Call(std::move(call)) {}
    // Runs whether the event was handled or discarded, so the sender never waits for ever.
    ~PortCallEvent() override {
        {
            std::lock_guard<std::mutex> lock(Call->Lock);
            Call->Finished = true;
        }
        Call->Done.notify_all();
    }
    const int Message;

  private:
    std::shared_ptr<UiCall> Call;
};

// Every component holding a notification object, so that all of them let go of Qt when the
// application object goes (a static component outlives it).
// Never destroyed, as a static component's destructor still uses them during program exit.
std::mutex RegistryLock;
std::set<TMCPort*>& Registry() {
    static auto* ports = new std::set<TMCPort*>;
    return *ports;
}
bool PostRoutineAdded = false;

struct UpdatingScope {
    explicit UpdatingScope(bool& flag) : Flag(flag), Old(flag) { Flag = true; }
    ~UpdatingScope() { Flag = Old; }
    bool& Flag;
    bool Old;
};

} // namespace

// The component's hidden notification window: lives on the user-interface thread and runs the
// work that background threads send it.
class PortNotifyObject : public QObject {
  public:
    explicit PortNotifyObject(TMCPort* owner) : Owner(owner) {}
    bool event(QEvent* e) override {
        {
            // Pairs with the sender's lock around posting: everything it did before is seen,
            // the event itself included.
            std::lock_guard<std::mutex> lock(Owner->NotifyLock);
        }
        if (e->type() != PortCallEvent::Kind()) return QObject::event(e);
        Owner->WndProc(static_cast<PortCallEvent*>(e)->Message);
        return true;
    }

  private:
    TMCPort* const Owner;
};

void ToUpperAscii(std::string& text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}

int ParsePortName(std::string& text) {
    ToUpperAscii(text);
    if (text.compare(0, 3, "COM") != 0) return -1;
    int value = 0;
    for (size_t i = 3; i < text.size() && i < 6 && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10 + (text[i] - '0');
    return value;
}

TMCPort::TMCPort() {
    WatcherRunning = true;
    WatcherHandle = std::thread(&TMCPort::WatcherProc, this);
}

TMCPort::~TMCPort() {
    {
        std::unique_lock<std::mutex> lock(WatcherLock);
        WatcherStop = true;
        WatcherEvent.notify_all();
        WatcherEvent.wait_for(lock, WatcherStopWait, [this] { return !WatcherRunning.load(); });
    }
    for (auto* hooks : {PortHooks, BaudRateHooks, ParityHooks, ByteSizeHooks, StopBitsHooks})
        for (int i = 0; i < 2; ++i)
            QObject::disconnect(hooks[i]);
    // Dropping the notification object releases a watcher or notifier still waiting on it.
    ReleaseNotifyObject();
    if (WatcherHandle.joinable()) WatcherHandle.join();
    {
        std::lock_guard<std::mutex> lock(RegistryLock);
        Registry().erase(this);
    }
    // Stop this opening's threads while this object is still whole: they call NotifyReceived.
    Close();
    WaitForLingeringThreads();
}

int TMCPort::Open() {
    if (!OnReceive) return 0;
    EnsureNotifyObject();
    return OpenPort(PortNumber, Dcb.BaudRate, Dcb.ByteSize, Dcb.Parity, Dcb.StopBits);
}

void TMCPort::SetOpen(bool open) {
    if (open)
        Open();
    else
        Close();
}

void TMCPort::NotifyReceived() {
    SendToUi(WM_PORT_RECEIVE);
}

std::string TMCPort::LastPortList() const {
    std::lock_guard<std::mutex> lock(ListLock);
    return LastPortListText;
}

void TMCPort::SetLastPortList(const std::string& list) {
    std::lock_guard<std::mutex> lock(ListLock);
    LastPortListText = list;
}

// --- notifications -------------------------------------------------------------------------

bool TMCPort::SendToUi(int message) {
    auto call = std::make_shared<UiCall>();
    {
        std::unique_lock<std::mutex> lock(NotifyLock);
        if (!NotifyWindow) return false;
        if (NotifyWindow->thread() == QThread::currentThread()) {
            // Already on the user-interface thread: waiting for itself would never end.
            lock.unlock();
            WndProc(message);
            return true;
        }
        QCoreApplication::postEvent(NotifyWindow, new PortCallEvent(message, call));
    }
    std::unique_lock<std::mutex> lock(call->Lock);
    call->Done.wait(lock, [&] { return call->Finished; });
    return true;
}

void TMCPort::WndProc(int message) {
    if (message == WM_PORT_RECEIVE) {
        if (!OnReceive) return;
        try {
            OnReceive();
        } catch (...) {
            // The handler's failure must not stop later notifications.
        }
    } else if (message == WM_PORT_LISTCHANGE) {
        RefreshPortCombo();
    }
}

void TMCPort::EnsureNotifyObject() {
    if (!QCoreApplication::instance()) return;
    {
        std::lock_guard<std::mutex> lock(NotifyLock);
        if (NotifyWindow) return;
        NotifyWindow = new PortNotifyObject(this);
    }
    std::lock_guard<std::mutex> lock(RegistryLock);
    Registry().insert(this);
    if (!PostRoutineAdded) {
        // Runs inside the application object's destructor, while Qt is still whole.
        qAddPostRoutine(&TMCPort::ReleaseAllNotifyObjects);
        PostRoutineAdded = true;
    }
}

void TMCPort::ReleaseNotifyObject() {
    QObject* window;
    {
        std::lock_guard<std::mutex> lock(NotifyLock);
        window = NotifyWindow;
        NotifyWindow = nullptr;
    }
    delete window; // discards its pending calls, which releases their senders
}

void TMCPort::ReleaseAllNotifyObjects() {
    std::set<TMCPort*> ports;
    {
        std::lock_guard<std::mutex> lock(RegistryLock);
        ports.swap(Registry());
        PostRoutineAdded = false;
    }
    for (TMCPort* port : ports)
        port->ReleaseNotifyObject();
}

// --- port list -----------------------------------------------------------------------------

int TMCPort::EnumSerialPorts(int ports[256]) {
    std::vector<int> present = PresentPortNumbers();
    int count = 0;
    for (int number : present) {
        if (count == 256) break;
        ports[count++] = number;
    }
    return count;
}

std::string TMCPort::BuildPortList() {
    int ports[256];
    int count = EnumSerialPorts(ports);
    std::string list;
    for (int i = 0; i < count; ++i) {
        if (i > 0) list += "\r\n";
        list += "COM" + std::to_string(ports[i]);
    }
    return list;
}

void TMCPort::PutPortItems(QComboBox* combo, const std::string& list) {
    for (std::string item : SplitItems(list)) {
        std::string name = item;
        int number = ParsePortName(name);
        combo->addItem(QString::fromStdString(item));
        // The item says COM<n>; its tooltip names the device behind it.
        combo->setItemData(combo->count() - 1, QString::fromStdString(PortDevicePath(number)),
                           Qt::ToolTipRole);
    }
}

void TMCPort::FillPortList(QComboBox* combo) {
    EnsureNotifyObject();
    PortCombo = combo;
    PortComboBound = combo != nullptr;
    if (!combo) return;
    {
        UpdatingScope updating(Updating);
        combo->clear();
        combo->clearEditText();
        std::string list = BuildPortList();
        SetLastPortList(list);
        PutPortItems(combo, list);
        combo->setEditable(false);
        combo->setCurrentIndex(-1);
    }
    Hook(combo, PortHooks, &TMCPort::PortComboChange);
}

void TMCPort::RefreshPortCombo() {
    QComboBox* combo = PortCombo;
    if (!combo) return;
    UpdatingScope updating(Updating);
    combo->clear();
    std::string list = BuildPortList();
    SetLastPortList(list);
    PutPortItems(combo, list);
    combo->setCurrentIndex(-1);
    const QString current = QString::fromStdString("COM" + std::to_string(PortNumber));
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemText(i) == current) {
            combo->setCurrentIndex(i);
            break;
        }
    }
}

void TMCPort::WatcherProc() {
    std::unique_lock<std::mutex> lock(WatcherLock);
    while (!WatcherStop) {
        WatcherEvent.wait_for(lock, WatchInterval, [this] { return WatcherStop; });
        if (WatcherStop) break;
        lock.unlock();
        if (PortComboBound && WatchPortList && BuildPortList() != LastPortList())
            SendToUi(WM_PORT_LISTCHANGE);
        lock.lock();
    }
    WatcherRunning = false;
    WatcherEvent.notify_all();
}

// --- combo boxes ---------------------------------------------------------------------------

void TMCPort::FillFixed(QComboBox* combo, QPointer<QComboBox>& field,
                        QMetaObject::Connection* hooks, const char* items,
                        void (TMCPort::*handler)()) {
    field = combo;
    if (!combo) return;
    {
        UpdatingScope updating(Updating);
        if (combo->count() == 0)
            for (const std::string& item : SplitItems(items))
                combo->addItem(QString::fromStdString(item));
        combo->setEditable(false);
        combo->setCurrentIndex(-1);
    }
    Hook(combo, hooks, handler);
}

void TMCPort::FillBaudRateList(QComboBox* combo) {
    FillFixed(combo, BaudRateCombo, BaudRateHooks, BaudRateItems, &TMCPort::BaudRateComboChange);
}
void TMCPort::FillParityList(QComboBox* combo) {
    FillFixed(combo, ParityCombo, ParityHooks, ParityItems, &TMCPort::ParityComboChange);
}
void TMCPort::FillByteSizeList(QComboBox* combo) {
    FillFixed(combo, ByteSizeCombo, ByteSizeHooks, ByteSizeItems, &TMCPort::ByteSizeComboChange);
}
void TMCPort::FillStopBitsList(QComboBox* combo) {
    FillFixed(combo, StopBitsCombo, StopBitsHooks, StopBitsItems, &TMCPort::StopBitsComboChange);
}

void TMCPort::Hook(QComboBox* combo, QMetaObject::Connection* hooks, void (TMCPort::*handler)()) {
    QObject::disconnect(hooks[0]);
    QObject::disconnect(hooks[1]);
    // A pick that moves the selection, and a pick of the item already selected (which may
    // differ from the stored value when a setter found no item); the handler compares anyway.
    hooks[0] = QObject::connect(combo, &QComboBox::currentIndexChanged, combo,
                                [this, handler](int) { (this->*handler)(); });
    hooks[1] = QObject::connect(combo, &QComboBox::textActivated, combo,
                                [this, handler](const QString&) { (this->*handler)(); });
}

std::string TMCPort::CurrentItemText(QComboBox* combo) const {
    if (!combo || combo->currentIndex() < 0) return {};
    return combo->itemText(combo->currentIndex()).toStdString();
}

QComboBox* TMCPort::ComboFor(Setting setting) const {
    switch (setting) {
    case Setting::Port:
        return PortCombo;
    case Setting::BaudRate:
        return BaudRateCombo;
    case Setting::Parity:
        return ParityCombo;
    case Setting::ByteSize:
        return ByteSizeCombo;
    case Setting::StopBits:
        return StopBitsCombo;
    }
    return nullptr;
}

void TMCPort::StoreSetting(Setting setting, long value) {
    switch (setting) {
    case Setting::Port:
        PortNumber = static_cast<int>(value);
        break;
    case Setting::BaudRate:
        Dcb.BaudRate = static_cast<uint32_t>(value);
        break;
    case Setting::Parity:
        Dcb.Parity = static_cast<uint8_t>(value);
        break;
    case Setting::ByteSize:
        Dcb.ByteSize = static_cast<uint8_t>(value);
        break;
    case Setting::StopBits:
        Dcb.StopBits = static_cast<uint8_t>(value);
        break;
    }
}

long TMCPort::StoredSetting(Setting setting) const {
    switch (setting) {
    case Setting::Port:
        return PortNumber;
    case Setting::BaudRate:
        return static_cast<long>(Dcb.BaudRate);
    case Setting::Parity:
        return Dcb.Parity;
    case Setting::ByteSize:
        return Dcb.ByteSize;
    case Setting::StopBits:
        return Dcb.StopBits;
    }
    return 0;
}

void TMCPort::Set(Setting setting, long value) {
    const bool wasOpen = IsOpen();
    Close(); // before the store: an OnClose handler still sees the old settings
    StoreSetting(setting, value);
    std::string text;
    switch (setting) {
    case Setting::Port:
        text = "COM" + std::to_string(value);
        break;
    case Setting::BaudRate:
        text = std::to_string(value) + "bps";
        break;
    case Setting::Parity:
        text = ParityText(value);
        break;
    case Setting::ByteSize:
        text = std::to_string(Dcb.ByteSize);
        break;
    case Setting::StopBits:
        text = StopBitsText(value);
        break;
    }
    QComboBox* combo = ComboFor(setting);
    if (combo && !text.empty()) {
        for (int i = 0; i < combo->count(); ++i) {
            std::string item = combo->itemText(i).toStdString();
            if (setting == Setting::Parity) ToUpperAscii(item);
            if (item == text) {
                UpdatingScope updating(Updating);
                combo->setCurrentIndex(i);
                break;
            }
        }
    }
    if (wasOpen) Open();
}

void TMCPort::SetPort(int port) {
    Set(Setting::Port, port);
}
void TMCPort::SetBaudRate(int baud) {
    Set(Setting::BaudRate, static_cast<uint32_t>(baud));
}
void TMCPort::SetParity(uint8_t parity) {
    Set(Setting::Parity, parity);
}
void TMCPort::SetByteSize(int byteSize) {
    Set(Setting::ByteSize, byteSize & 0xFF);
}
void TMCPort::SetStopBits(uint8_t stopBits) {
    Set(Setting::StopBits, stopBits);
}

void TMCPort::ApplyChange(Setting setting, long value) {
    if (StoredSetting(setting) == value) return;
    const bool wasOpen = IsOpen();
    Close();
    StoreSetting(setting, value);
    if (wasOpen) Open();
}

void TMCPort::PortComboChange() {
    if (Updating) return;
    std::string text = CurrentItemText(PortCombo);
    int port = ParsePortName(text);
    if (port > 0) ApplyChange(Setting::Port, port);
}

void TMCPort::BaudRateComboChange() {
    if (Updating) return;
    std::string text = CurrentItemText(BaudRateCombo);
    long baud;
    if (ParseDecimal(text.substr(0, text.find("bps")), baud) && baud <= 0xFFFFFFFFL)
        ApplyChange(Setting::BaudRate, baud);
}

void TMCPort::ParityComboChange() {
    if (Updating || !ParityCombo || ParityCombo->currentIndex() < 0) return;
    std::string text = CurrentItemText(ParityCombo);
    ToUpperAscii(text);
    long parity = text == "ODD" ? 1 : text == "EVEN" ? 2 : 0;
    ApplyChange(Setting::Parity, parity);
}

void TMCPort::ByteSizeComboChange() {
    if (Updating) return;
    long byteSize;
    if (ParseDecimal(CurrentItemText(ByteSizeCombo), byteSize))
        ApplyChange(Setting::ByteSize, byteSize & 0xFF);
}

void TMCPort::StopBitsComboChange() {
    if (Updating || !StopBitsCombo || StopBitsCombo->currentIndex() < 0) return;
    std::string text = CurrentItemText(StopBitsCombo);
    long stopBits = text == "1.5" ? 1 : text == "2" ? 2 : 0;
    ApplyChange(Setting::StopBits, stopBits);
}
