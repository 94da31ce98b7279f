#include "serial/MCPort.h"

#include "serial/PortMap.h"
#include "serial/SerialDevice.h"
#include "serial/SyncEvent.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <thread>

namespace {
constexpr auto CloseWait = std::chrono::milliseconds(500);
} // namespace

// Everything one opening needs. Each opening has its own record, shared by its threads, so a
// thread that outlives Close's wait only ever sees its own (stopped) opening, never the next.
struct MCPort::Opening {
    struct PortThread {
        std::thread Handle;
        bool Running = false; // guarded by Lock
    };

    explicit Opening(MCPort* owner) : Owner(owner) {}

    // Last step of every thread.
    void Finish(PortThread& thread) {
        std::lock_guard<std::mutex> lock(Lock);
        thread.Running = false;
        --Live;
        Finished.notify_all();
    }

    MCPort* const Owner;
    SerialDevice Device; // used by the reader and the writer only
    std::atomic<bool> StopRequested{false};
    SyncEvent ReceivedEvent;
    SyncEvent SendEvent;
    PortThread ReaderThread, NotifierThread, WriterThread;
    std::mutex Lock;
    std::condition_variable Finished;
    int Live = 0; // threads started and not yet finished; guarded by Lock
};

MCPort::MCPort() {
    std::memset(&Dcb, 0, sizeof(Dcb));
    Dcb.DCBlength = sizeof(PortDcb);
    Dcb.BaudRate = 9600;
    Dcb.fBinary = 1;
    Dcb.fDtrControl = 1; // enabled
    Dcb.fRtsControl = 1; // enabled
    Dcb.ByteSize = 8;
}

MCPort::~MCPort() {
    Close();
    WaitForLingeringThreads();
}

int MCPort::OpenPort(int port, uint32_t baud, int byteSize, uint8_t parity, uint8_t stopBits) {
    Reopening oneStep(*this); // an open port reopened keeps the modem manager off throughout
    Close();
    ModemRefusedNow = false;
    int result;
    if ((port < 1 || port > 256) && DevicePath.empty())
        result = -1;
    else if (byteSize < 4 || byteSize > 8)
        result = -2;
    else if (parity > 2)
        result = -3;
    else if (stopBits > 2)
        result = -4;
    else {
        PortNumber = port;
        Dcb.BaudRate = baud;
        Dcb.ByteSize = static_cast<uint8_t>(byteSize);
        Dcb.Parity = parity;
        Dcb.StopBits = stopBits;
        Dcb.fParity = parity != 0 ? 1 : 0;
        result = OpenDeviceAndThreads();
    }
    if (result <= -6 && result >= -10) Close();
    if (result < 1 && OnOpenError) OnOpenError();
    if (ModemRefusedNow && OnModemRefused) OnModemRefused();
    return result;
}

MCPort::Reopening::~Reopening() {
    if (--Port.ReopenDepth == 0 && !Port.IsOpen()) Port.LetModemManagerBack();
}

bool MCPort::KeepModemManagerOff(const std::string& path) {
    // An answer still kept belongs to the opening this one reopens (any other close ends it).
    if (Inhibition.State() != ModemInhibitionState::None && Inhibition.DevicePath() == path)
        return false;
    return Inhibition.Inhibit(path) == ModemInhibitionState::Refused;
}

void MCPort::LetModemManagerBack() {
    if (ReopenDepth == 0) Inhibition.Release();
}

int MCPort::OpenDeviceAndThreads() {
    auto opening = std::make_shared<Opening>(this);
    const std::string path = DevicePath.empty() ? PortDevicePath(PortNumber) : DevicePath;
    // Before the device is opened: a modem manager holding it would keep us out.
    ModemRefusedNow = KeepModemManagerOff(path);
    const int opened = opening->Device.Open(path, Dcb);
    if (opened == -5) return -5;
    {
        std::lock_guard<std::mutex> lock(CurrentLock);
        Current = opening;
    }
    PruneLingering();
    if (opened != 1) return opened;

    ReceiveQueue.Clear();
    SendQueue.Clear();

    auto start = [&opening](Opening::PortThread& record, void (*proc)(std::shared_ptr<Opening>)) {
        {
            std::lock_guard<std::mutex> lock(opening->Lock);
            record.Running = true;
            ++opening->Live;
        }
        try {
            record.Handle = std::thread(proc, opening);
            return true;
        } catch (const std::exception&) {
            opening->Finish(record);
            return false;
        }
    };
    if (!start(opening->ReaderThread, &MCPort::ReaderProc)) return -8;
    if (!start(opening->NotifierThread, &MCPort::NotifierProc)) return -9;
    if (!start(opening->WriterThread, &MCPort::WriterProc)) return -10;

    Opened = true;
    if (OnOpen) OnOpen();
    return 1;
}

void MCPort::Close() {
    std::shared_ptr<Opening> opening;
    {
        std::lock_guard<std::mutex> lock(CurrentLock);
        opening = std::move(Current);
    }
    if (!opening) return;
    Opened = false;

    opening->StopRequested = true;
    opening->Device.Interrupt();
    opening->SendEvent.Set();
    opening->ReceivedEvent.Set();

    bool allDone;
    bool ioDone;
    {
        std::unique_lock<std::mutex> lock(opening->Lock);
        allDone = opening->Finished.wait_for(lock, CloseWait, [&] { return opening->Live == 0; });
        ioDone = !opening->ReaderThread.Running && !opening->WriterThread.Running;
        for (Opening::PortThread* t :
             {&opening->ReaderThread, &opening->NotifierThread, &opening->WriterThread}) {
            if (!t->Handle.joinable()) continue;
            // A finished thread is joined so that it is really gone; one still busy (the
            // notifier, blocked until this very thread handles its notification) finishes on
            // its own later, with its own record.
            if (t->Running)
                t->Handle.detach();
            else
                t->Handle.join();
        }
    }
    // The notifier never touches the device, so the device is free for the next opening as
    // soon as the reader and writer are gone.
    if (ioDone) opening->Device.Release();
    if (!allDone) Lingering.push_back(opening);
    opening.reset();
    LetModemManagerBack();

    if (OnClose) OnClose();
}

int MCPort::Write(const uint8_t* data, unsigned count) {
    SendQueue.Push(data, count);
    if (!SendQueue.IsEmpty()) {
        std::lock_guard<std::mutex> lock(CurrentLock);
        if (Current) Current->SendEvent.Set();
    }
    return static_cast<int>(count);
}

int MCPort::Read(uint8_t* buffer, unsigned maxCount) {
    return ReceiveQueue.Pop(buffer, maxCount);
}

void MCPort::NotifyReceived() {
    ReceiveQueue.Clear();
}

void MCPort::PruneLingering() {
    std::erase_if(Lingering, [](const std::weak_ptr<Opening>& weak) {
        auto opening = weak.lock();
        if (!opening) return true;
        std::lock_guard<std::mutex> lock(opening->Lock);
        return opening->Live == 0;
    });
}

void MCPort::WaitForLingeringThreads() {
    for (auto& weak : Lingering) {
        if (auto opening = weak.lock()) {
            std::unique_lock<std::mutex> lock(opening->Lock);
            opening->Finished.wait(lock, [&] { return opening->Live == 0; });
        }
    }
    Lingering.clear();
}

void MCPort::ReaderProc(std::shared_ptr<Opening> opening) {
    Opening& o = *opening;
    MCPort* owner = o.Owner;
    uint8_t buffer[PortChunkSize];
    bool vanished = false;
    while (!o.StopRequested) {
        if (!vanished && o.Device.Vanished()) {
            vanished = true;
            owner->DeviceVanished();
        }
        size_t remaining = o.Device.WaitForInput();
        while (remaining > 0 && !o.StopRequested) {
            const size_t got = o.Device.Read(buffer, std::min(remaining, PortChunkSize));
            if (got == 0 || o.StopRequested) break;
            owner->ReceiveQueue.Push(buffer, static_cast<unsigned>(got));
            remaining -= std::min(remaining, got);
            o.ReceivedEvent.Set();
            owner->BytesArrived();
        }
    }
    o.Finish(o.ReaderThread);
}

void MCPort::NotifierProc(std::shared_ptr<Opening> opening) {
    Opening& o = *opening;
    MCPort* owner = o.Owner;
    while (!o.StopRequested) {
        bool chunkArrived;
        if (owner->ReceiveQueue.IsEmpty()) {
            // Nothing to report: sleep until the reader queues a chunk (or Close).
            o.ReceivedEvent.Wait();
            chunkArrived = true;
        } else {
            // A quiet time below 1 ms would turn the wait into a spin.
            const int quiet = std::max(1, owner->QuietTime.load());
            chunkArrived = o.ReceivedEvent.WaitFor(std::chrono::milliseconds(quiet));
        }
        if (o.StopRequested) break;
        if (!chunkArrived && !owner->ReceiveQueue.IsEmpty()) owner->NotifyReceived();
    }
    o.Finish(o.NotifierThread);
}

void MCPort::WriterProc(std::shared_ptr<Opening> opening) {
    Opening& o = *opening;
    MCPort* owner = o.Owner;
    uint8_t buffer[PortChunkSize];
    while (!o.StopRequested) {
        o.SendEvent.Wait();
        while (!o.StopRequested && !owner->SendQueue.IsEmpty()) {
            const int taken = owner->SendQueue.Pop(buffer, PortChunkSize);
            // A chunk the device refused is lost and the next one is tried; a write cut short
            // by Close ends the loop through the stop request, which Close set first.
            if (taken > 0) o.Device.Write(buffer, static_cast<size_t>(taken));
        }
    }
    o.Finish(o.WriterThread);
}
