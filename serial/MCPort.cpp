#include "serial/MCPort.h"

#include "serial/PortMap.h"
#include "serial/SyncEvent.h"
#include "serial/posix/PosixSerial.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr unsigned ChunkSize = 256;
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
    ~Opening() { ReleaseDevice(); }

    // Closes the device and the wake-up descriptor once; only the reader and writer use them.
    void ReleaseDevice() {
        int fd = Fd.exchange(-1);
        if (fd >= 0) posix_serial::CloseExclusive(fd);
        int wake = WakeFd.exchange(-1);
        if (wake >= 0) close(wake);
    }

    // Last step of every thread.
    void Finish(PortThread& thread) {
        std::lock_guard<std::mutex> lock(Lock);
        thread.Running = false;
        --Live;
        Finished.notify_all();
    }

    MCPort* const Owner;
    std::atomic<int> Fd{-1};
    std::atomic<int> WakeFd{-1}; // eventfd, readable once Close wants the threads gone
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
    Close();
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
        result = OpenDeviceAndThreads(baud, byteSize, parity, stopBits);
    }
    if (result <= -6 && result >= -10) Close();
    if (result < 1 && OnOpenError) OnOpenError();
    return result;
}

int MCPort::OpenDeviceAndThreads(uint32_t baud, int byteSize, uint8_t parity, uint8_t stopBits) {
    int fd = posix_serial::OpenExclusive(DevicePath.empty() ? PortDevicePath(PortNumber) : DevicePath);
    if (fd < 0) return -5;
    auto opening = std::make_shared<Opening>(this);
    opening->Fd = fd;
    {
        std::lock_guard<std::mutex> lock(CurrentLock);
        Current = opening;
    }
    PruneLingering();

    int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake < 0) return -6;
    opening->WakeFd = wake;

    if (!posix_serial::ApplyLineSettings(fd, baud, byteSize, parity, stopBits)) return -7;
    posix_serial::RaiseModemLines(fd);
    posix_serial::FlushBoth(fd);

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
    int wake = opening->WakeFd.load();
    if (wake >= 0) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t ignored = write(wake, &one, sizeof(one));
    }
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
    if (ioDone) opening->ReleaseDevice();
    if (!allDone) Lingering.push_back(opening);
    opening.reset();

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
    const int fd = o.Fd.load();
    const int wake = o.WakeFd.load();
    bool deviceAlive = true;
    uint8_t buffer[ChunkSize];
    while (!o.StopRequested) {
        pollfd fds[2] = {{wake, POLLIN, 0}, {fd, POLLIN, 0}};
        // A vanished device (hang-up, error) is no longer polled: it would report itself
        // ready for ever. The port stays open and the reader just waits for Close.
        int ready = poll(fds, deviceAlive ? 2 : 1, -1);
        if (ready < 0) {
            if (errno != EINTR) deviceAlive = false;
            continue;
        }
        if (o.StopRequested || fds[0].revents) break;
        const short events = fds[1].revents;
        if (events & POLLIN) {
            size_t remaining = posix_serial::BytesWaiting(fd);
            if (remaining == 0) remaining = ChunkSize; // one read tells data from a hang-up
            while (remaining > 0) {
                ssize_t got = read(fd, buffer, std::min<size_t>(remaining, ChunkSize));
                if (got > 0) {
                    if (o.StopRequested) break;
                    owner->ReceiveQueue.Push(buffer, static_cast<unsigned>(got));
                    remaining -= std::min<size_t>(remaining, static_cast<size_t>(got));
                    o.ReceivedEvent.Set();
                    owner->BytesArrived();
                    continue;
                }
                if (got == 0 || (errno != EAGAIN && errno != EINTR)) deviceAlive = false;
                break;
            }
        } else if (events & (POLLHUP | POLLERR | POLLNVAL)) {
            deviceAlive = false;
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

namespace {
// Writes one chunk whole; false when Close interrupted it. A chunk the device refuses is lost.
bool WriteChunk(int fd, int wake, const std::atomic<bool>& stop, const uint8_t* data, size_t size) {
    while (size > 0) {
        ssize_t done = write(fd, data, size);
        if (done > 0) {
            data += done;
            size -= static_cast<size_t>(done);
            continue;
        }
        if (done < 0 && errno == EINTR) continue;
        if (done < 0 && errno != EAGAIN) return true;
        pollfd fds[2] = {{wake, POLLIN, 0}, {fd, POLLOUT, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) return true;
        if (stop || fds[0].revents) return false;
        if (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) return true;
    }
    return true;
}
} // namespace

void MCPort::WriterProc(std::shared_ptr<Opening> opening) {
    Opening& o = *opening;
    MCPort* owner = o.Owner;
    const int fd = o.Fd.load();
    const int wake = o.WakeFd.load();
    uint8_t buffer[ChunkSize];
    bool stopped = false;
    while (!o.StopRequested && !stopped) {
        o.SendEvent.Wait();
        while (!o.StopRequested && !owner->SendQueue.IsEmpty()) {
            int taken = owner->SendQueue.Pop(buffer, ChunkSize);
            if (taken > 0 &&
                !WriteChunk(fd, wake, o.StopRequested, buffer, static_cast<size_t>(taken))) {
                stopped = true;
                break;
            }
        }
    }
    o.Finish(o.WriterThread);
}
