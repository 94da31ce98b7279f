// The port core on the Windows communications functions, with overlapped I/O throughout so that
// the reader can wait for a comm event while the writer writes.
#include "serial/SerialDevice.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>
#include <windows.h>

static_assert(sizeof(DCB) == sizeof(PortDcb), "PortDcb has the layout of the Windows record");

namespace {
constexpr DWORD BufferSize = 10240;
constexpr DWORD PurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

// Waits for an overlapped call that returned `started`; false when it failed or, with
// `giveUp` set, was still pending.
bool Complete(HANDLE port, BOOL started, OVERLAPPED& overlapped, DWORD& count, bool giveUp) {
    if (started) return GetOverlappedResult(port, &overlapped, &count, FALSE) != 0;
    if (GetLastError() != ERROR_IO_PENDING || giveUp) return false;
    return GetOverlappedResult(port, &overlapped, &count, TRUE) != 0;
}
constexpr int CancelWaitMs = 2000;
} // namespace

struct SerialDevice::Impl {
    std::atomic<HANDLE> Port{INVALID_HANDLE_VALUE};
    HANDLE ReadEvent = nullptr;  // manual reset, for WaitCommEvent and ReadFile
    HANDLE WriteEvent = nullptr; // manual reset, for WriteFile
    // Everything a pending call may still write or read lives here, not on a thread's stack:
    // a read or write given up at Close completes (or is cancelled by CloseHandle) later.
    OVERLAPPED ReadOverlapped{};
    OVERLAPPED WriteOverlapped{};
    DWORD EventMask = 0;
    uint8_t ReadBuffer[PortChunkSize];
    std::vector<uint8_t> WriteBuffer;
    std::atomic<bool> Interrupted{false};
    bool Gone = false; // reader thread only

    // A zeroed record (no call made yet) counts as complete.
    bool AllComplete() const {
        return HasOverlappedIoCompleted(&ReadOverlapped) &&
               HasOverlappedIoCompleted(&WriteOverlapped);
    }
};

SerialDevice::SerialDevice() : impl_(std::make_unique<Impl>()) {}

SerialDevice::~SerialDevice() {
    Release();
}

int SerialDevice::Open(const std::string& path, const PortDcb& dcb) {
    Impl& d = *impl_;
    // Share mode 0: nobody else may have the port while it is ours.
    HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) return -5;
    d.Port = port;
    d.ReadEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    d.WriteEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!d.ReadEvent || !d.WriteEvent || !SetupComm(port, BufferSize, BufferSize)) return -6;
    DCB state;
    std::memcpy(&state, &dcb, sizeof state);
    if (!SetCommState(port, &state)) return -7;
    PurgeComm(port, PurgeAll);
    // Set once: Close's mask of 0 then stays and ends the reader's wait for good. A failure
    // shows as waits that end without an event.
    SetCommMask(port, EV_RXCHAR | EV_ERR);
    return 1;
}

size_t SerialDevice::WaitForInput() {
    Impl& d = *impl_;
    const HANDLE port = d.Port.load();
    if (d.Interrupted) return 0;
    DWORD ignored = 0;
    d.EventMask = 0;
    d.ReadOverlapped = OVERLAPPED{};
    d.ReadOverlapped.hEvent = d.ReadEvent;
    // The call resets the event, so a Close that came just before it is seen by the flag; one
    // that comes after it signals the event (and sets the mask to 0, which ends the wait).
    const BOOL started = WaitCommEvent(port, &d.EventMask, &d.ReadOverlapped);
    if (!Complete(port, started, d.ReadOverlapped, ignored, d.Interrupted)) d.EventMask = 0;
    const DWORD mask = d.EventMask;
    if (d.Interrupted) return 0;
    if (mask == 0) {
        // A port whose device went away fails every call, ClearCommError included.
        DWORD errors = 0;
        if (!ClearCommError(port, &errors, nullptr)) d.Gone = true;
        Sleep(1); // a failing wait must not spin
        return 0;
    }
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(port, &errors, &status)) return 0; // also clears what EV_ERR reported
    return (mask & EV_RXCHAR) ? size_t(status.cbInQue) : 0;
}

bool SerialDevice::Vanished() const {
    return impl_->Gone;
}

size_t SerialDevice::Read(uint8_t* buffer, size_t size) {
    Impl& d = *impl_;
    const HANDLE port = d.Port.load();
    d.ReadOverlapped = OVERLAPPED{};
    d.ReadOverlapped.hEvent = d.ReadEvent;
    DWORD got = 0;
    size = std::min(size, PortChunkSize);
    const BOOL started = ReadFile(port, d.ReadBuffer, DWORD(size), nullptr, &d.ReadOverlapped);
    if (!Complete(port, started, d.ReadOverlapped, got, d.Interrupted)) return 0;
    std::memcpy(buffer, d.ReadBuffer, got);
    return size_t(got);
}

bool SerialDevice::Write(const uint8_t* data, size_t size) {
    Impl& d = *impl_;
    const HANDLE port = d.Port.load();
    // A copy the driver may still read when Close gives up on a pending write.
    d.WriteBuffer.assign(data, data + size);
    size_t written = 0;
    while (written < size) {
        if (d.Interrupted) return false;
        d.WriteOverlapped = OVERLAPPED{};
        d.WriteOverlapped.hEvent = d.WriteEvent;
        const DWORD count = DWORD(std::min<size_t>(size - written, MAXDWORD));
        DWORD done = 0;
        const BOOL started =
            WriteFile(port, d.WriteBuffer.data() + written, count, nullptr, &d.WriteOverlapped);
        // A short write (a write time-out of the port) is taken up again with the rest; a write
        // that moved nothing or failed ends it, as the rest would fare no better.
        if (!Complete(port, started, d.WriteOverlapped, done, d.Interrupted) || done == 0)
            return false;
        written += done;
    }
    return true;
}

void SerialDevice::Interrupt() {
    Impl& d = *impl_;
    d.Interrupted = true;
    const HANDLE port = d.Port.load();
    if (port == INVALID_HANDLE_VALUE) return;
    SetCommMask(port, 0); // ends a pending WaitCommEvent
    if (d.ReadEvent) SetEvent(d.ReadEvent);
    if (d.WriteEvent) SetEvent(d.WriteEvent);
}

void SerialDevice::Release() {
    if (!impl_) return; // abandoned below
    Impl& d = *impl_;
    const HANDLE port = d.Port.exchange(INVALID_HANDLE_VALUE);
    if (port != INVALID_HANDLE_VALUE) {
        // A call given up at Interrupt is still pending: the system writes its status into its
        // OVERLAPPED when it ends, cancelled or not, so that record must outlive the call.
        // Closing the handle cancels it too, but the write may come after CloseHandle returns
        // and land in memory reused by then.
        if (!d.AllComplete()) {
            CancelIoEx(port, nullptr);
            for (int waited = 0; waited < CancelWaitMs && !d.AllComplete(); ++waited) Sleep(1);
        }
        const bool complete = d.AllComplete();
        CloseHandle(port);
        if (!complete) {
            // Never seen; better a few hundred bytes kept than memory written behind our back.
            static_cast<void>(impl_.release());
            return;
        }
    }
    for (HANDLE* event : {&d.ReadEvent, &d.WriteEvent}) {
        if (*event) CloseHandle(*event);
        *event = nullptr;
    }
}
