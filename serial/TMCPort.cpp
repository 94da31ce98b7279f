#include "serial/TMCPort.h"

#include "serial/DecimalNumber.h"
#include "serial/LineSettings.h"
#include "serial/PortMap.h"

#include <chrono>
#include <cstring>

namespace {

constexpr auto WatchInterval = std::chrono::milliseconds(1000);
constexpr auto WatcherStopWait = std::chrono::milliseconds(500);

const char* StopBitsText(int64_t stopBits) {
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

struct UpdatingScope {
    explicit UpdatingScope(bool& flag) : Flag(flag), Old(flag) { Flag = true; }
    ~UpdatingScope() { Flag = Old; }
    bool& Flag;
    bool Old;
};

} // namespace

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
    for (BoundCombo* combo :
         {&PortCombo, &BaudRateCombo, &ParityCombo, &ByteSizeCombo, &StopBitsCombo})
        combo->Unbind();
    // Releasing the notification window releases a watcher or notifier still waiting on it.
    tk::NotifyWindow* window;
    {
        std::lock_guard<std::mutex> lock(NotifyLock);
        window = NotifyWindow.get();
    }
    if (window) window->Release();
    if (WatcherHandle.joinable()) WatcherHandle.join();
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
    tk::NotifyWindow* window;
    {
        std::lock_guard<std::mutex> lock(NotifyLock);
        window = NotifyWindow.get();
    }
    // The window outlives every thread that sends to it (see the destructor).
    return window && window->Send(message);
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
    std::lock_guard<std::mutex> lock(NotifyLock);
    if (NotifyWindow && !NotifyWindow->Released()) return;
    auto window = tk::MakeNotifyWindow([this](int message) { WndProc(message); });
    if (!window) return;
    if (NotifyWindow) RetiredWindows.push_back(std::move(NotifyWindow));
    NotifyWindow = std::move(window);
}

void TMCPort::BoundCombo::Bind(tk::ComboBox* box, std::function<void()> onChange) {
    Unbind();
    Box = box;
    Life = box ? box->Life() : tk::Lifetime();
    if (box) box->OnChange = std::move(onChange);
}

void TMCPort::BoundCombo::Unbind() {
    if (tk::ComboBox* box = Get()) box->OnChange = nullptr;
    Box = nullptr;
    Life.reset();
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

void TMCPort::PutPortItems(tk::ComboBox* combo, const std::string& list) {
    combo->SetItems(list);
    for (int i = 0; i < combo->ItemCount(); ++i) {
        std::string name = combo->ItemText(i);
        // The item says COM<n>; its hint names the device behind it.
        combo->SetItemHint(i, PortDevicePath(ParsePortName(name)));
    }
}

void TMCPort::FillPortList(tk::ComboBox* combo) {
    EnsureNotifyObject();
    PortComboBound = combo != nullptr;
    if (!combo) {
        PortCombo.Unbind();
        return;
    }
    {
        UpdatingScope updating(Updating);
        std::string list = BuildPortList();
        SetLastPortList(list);
        PutPortItems(combo, list);
        combo->SetEditable(false);
        combo->SetItemIndex(-1);
    }
    PortCombo.Bind(combo, [this] { PortComboChange(); });
}

void TMCPort::RefreshPortCombo() {
    tk::ComboBox* combo = PortCombo.Get();
    if (!combo) return;
    UpdatingScope updating(Updating);
    std::string list = BuildPortList();
    SetLastPortList(list);
    PutPortItems(combo, list);
    combo->SetItemIndex(-1);
    const std::string current = "COM" + std::to_string(PortNumber);
    for (int i = 0; i < combo->ItemCount(); ++i) {
        if (combo->ItemText(i) == current) {
            combo->SetItemIndex(i);
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

void TMCPort::FillFixed(tk::ComboBox* combo, BoundCombo& field, const char* items,
                        void (TMCPort::*handler)()) {
    if (!combo) {
        field.Unbind();
        return;
    }
    {
        UpdatingScope updating(Updating);
        if (combo->ItemCount() == 0) combo->SetItems(items);
        combo->SetEditable(false);
        combo->SetItemIndex(-1);
    }
    // Runs on a pick that moves the selection, and on a pick of the item already selected
    // (which may differ from the stored value when a setter found no item); the handler
    // compares anyway.
    field.Bind(combo, [this, handler] { (this->*handler)(); });
}

void TMCPort::FillBaudRateList(tk::ComboBox* combo) {
    FillFixed(combo, BaudRateCombo, BaudRateItems, &TMCPort::BaudRateComboChange);
}
void TMCPort::FillParityList(tk::ComboBox* combo) {
    FillFixed(combo, ParityCombo, ParityItems, &TMCPort::ParityComboChange);
}
void TMCPort::FillByteSizeList(tk::ComboBox* combo) {
    FillFixed(combo, ByteSizeCombo, ByteSizeItems, &TMCPort::ByteSizeComboChange);
}
void TMCPort::FillStopBitsList(tk::ComboBox* combo) {
    FillFixed(combo, StopBitsCombo, StopBitsItems, &TMCPort::StopBitsComboChange);
}

std::string TMCPort::CurrentItemText(tk::ComboBox* combo) const {
    if (!combo || combo->ItemIndex() < 0) return {};
    return combo->ItemText(combo->ItemIndex());
}

tk::ComboBox* TMCPort::ComboFor(Setting setting) const {
    switch (setting) {
    case Setting::Port:
        return PortCombo.Get();
    case Setting::BaudRate:
        return BaudRateCombo.Get();
    case Setting::Parity:
        return ParityCombo.Get();
    case Setting::ByteSize:
        return ByteSizeCombo.Get();
    case Setting::StopBits:
        return StopBitsCombo.Get();
    }
    return nullptr;
}

void TMCPort::StoreSetting(Setting setting, int64_t value) {
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

int64_t TMCPort::StoredSetting(Setting setting) const {
    switch (setting) {
    case Setting::Port:
        return PortNumber;
    case Setting::BaudRate:
        return static_cast<int64_t>(Dcb.BaudRate);
    case Setting::Parity:
        return Dcb.Parity;
    case Setting::ByteSize:
        return Dcb.ByteSize;
    case Setting::StopBits:
        return Dcb.StopBits;
    }
    return 0;
}

void TMCPort::Set(Setting setting, int64_t value) {
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
        if (value >= 0 && value <= 2) {
            text = ParityName(uint8_t(value)); // the items compare upper-cased
            ToUpperAscii(text);
        }
        break;
    case Setting::ByteSize:
        text = std::to_string(Dcb.ByteSize);
        break;
    case Setting::StopBits:
        text = StopBitsText(value);
        break;
    }
    tk::ComboBox* combo = ComboFor(setting);
    if (combo && !text.empty()) {
        for (int i = 0; i < combo->ItemCount(); ++i) {
            std::string item = combo->ItemText(i);
            if (setting == Setting::Parity) ToUpperAscii(item);
            if (item == text) {
                UpdatingScope updating(Updating);
                combo->SetItemIndex(i);
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

void TMCPort::ApplyChange(Setting setting, int64_t value) {
    if (StoredSetting(setting) == value) return;
    const bool wasOpen = IsOpen();
    Close();
    StoreSetting(setting, value);
    if (wasOpen) Open();
}

void TMCPort::PortComboChange() {
    if (Updating) return;
    std::string text = CurrentItemText(PortCombo.Get());
    int port = ParsePortName(text);
    if (port > 0) ApplyChange(Setting::Port, port);
}

void TMCPort::BaudRateComboChange() {
    if (Updating) return;
    std::string text = CurrentItemText(BaudRateCombo.Get());
    uint64_t baud;
    if (ParseDecimal(text.substr(0, text.find("bps")), 0xFFFFFFFF, baud))
        ApplyChange(Setting::BaudRate, int64_t(baud));
}

void TMCPort::ParityComboChange() {
    tk::ComboBox* combo = ParityCombo.Get();
    if (Updating || !combo || combo->ItemIndex() < 0) return;
    std::string text = CurrentItemText(combo);
    ToUpperAscii(text);
    int64_t parity = text == "ODD" ? 1 : text == "EVEN" ? 2 : 0;
    ApplyChange(Setting::Parity, parity);
}

void TMCPort::ByteSizeComboChange() {
    if (Updating) return;
    uint64_t byteSize;
    if (ParseDecimal(CurrentItemText(ByteSizeCombo.Get()), 0xFFFFFFFF, byteSize))
        ApplyChange(Setting::ByteSize, int64_t(byteSize & 0xFF));
}

void TMCPort::StopBitsComboChange() {
    tk::ComboBox* combo = StopBitsCombo.Get();
    if (Updating || !combo || combo->ItemIndex() < 0) return;
    std::string text = CurrentItemText(combo);
    int64_t stopBits = text == "1.5" ? 1 : text == "2" ? 2 : 0;
    ApplyChange(Setting::StopBits, stopBits);
}
