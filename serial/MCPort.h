#pragma once
// Serial port core: owns one COM device, its line settings, the two byte queues and, while open,
// a reader, a notifier and a writer thread. Qt-free; the platform code lives behind
// serial/SerialDevice.h, in serial/posix and serial/win32.
#include "serial/CFIFO.h"
#include "serial/ModemInhibition.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Line settings and line flags, laid out like the device-control record the settings were first
// defined with (28 bytes). Only BaudRate, ByteSize, Parity, StopBits and fParity change.
struct PortDcb {
    uint32_t DCBlength;
    uint32_t BaudRate;
    uint32_t fBinary : 1;
    uint32_t fParity : 1;
    uint32_t fOutxCtsFlow : 1;
    uint32_t fOutxDsrFlow : 1;
    uint32_t fDtrControl : 2;
    uint32_t fDsrSensitivity : 1;
    uint32_t fTXContinueOnXoff : 1;
    uint32_t fOutX : 1;
    uint32_t fInX : 1;
    uint32_t fErrorChar : 1;
    uint32_t fNull : 1;
    uint32_t fRtsControl : 2;
    uint32_t fAbortOnError : 1;
    uint32_t fDummy2 : 17;
    uint16_t wReserved;
    uint16_t XonLim;
    uint16_t XoffLim;
    uint8_t ByteSize; // data bits, 4..8 accepted by validation
    uint8_t Parity;   // 0 none, 1 odd, 2 even
    uint8_t StopBits; // 0 one, 1 one and a half, 2 two
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    uint16_t wReserved1;
};
static_assert(sizeof(PortDcb) == 28, "PortDcb keeps the 28-byte layout");

class MCPort {
  public:
    MCPort();
    // Closes the port and waits for every thread of every opening to end, so that no late
    // thread outlives the object.
    virtual ~MCPort();
    MCPort(const MCPort&) = delete;
    MCPort& operator=(const MCPort&) = delete;

    // Closes whatever is open, then opens COM<port> with the given settings and starts the
    // threads. Before the device is opened the system's modem manager is asked to keep off it
    // (see ModemInhibition.h), unless this reopens the same device, whose answer is kept.
    // 1 on success; -1 port not 1..256, -2 byte size not 4..8, -3 parity not 0..2,
    // -4 stop bits not 0..2, -5 device missing or held by someone else, -6 no resources for
    // the opening, -7 line settings refused, -8/-9/-10 reader/notifier/writer thread failed.
    int OpenPort(int port, uint32_t baud, int byteSize, uint8_t parity, uint8_t stopBits);
    // Stops the threads (waiting at most 500 ms) and closes the device, then lets the modem
    // manager have the device again (not within a Reopening); OnClose follows.
    // Nothing happens when the port is not open.
    void Close();

    // A close and reopen as one step (a change of line settings): the modem manager is not let
    // back onto the device in between. When the outermost Reopening ends with the port closed,
    // the modem manager gets the device back then.
    class Reopening {
      public:
        explicit Reopening(MCPort& port) : Port(port) { ++Port.ReopenDepth; }
        ~Reopening();
        Reopening(const Reopening&) = delete;
        Reopening& operator=(const Reopening&) = delete;

      private:
        MCPort& Port;
    };
    // What the current (or last) opening did to keep the modem manager off the device.
    const ModemInhibition& ModemGuard() const { return Inhibition; }
    bool IsOpen() const { return Opened.load(); }
    // Queues all bytes for the writer thread; always returns count.
    int Write(const uint8_t* data, unsigned count);
    // Takes up to maxCount received bytes, oldest first; never blocks.
    int Read(uint8_t* buffer, unsigned maxCount);
    // Called on the notifier thread once received bytes have stayed QuietTime without a
    // successor (and again after every further QuietTime while bytes stay queued).
    // This version discards the received bytes.
    virtual void NotifyReceived();
    // Called on the reader thread right after each chunk was queued, before the quiet time has
    // passed; for callers that judge replies by their length rather than by the line going quiet.
    virtual void BytesArrived() {}
    // Called once on the reader thread when the device of this opening went away (an adapter
    // unplugged); the port stays open until Close.
    virtual void DeviceVanished() {}

    std::atomic<int> QuietTime{50}; // milliseconds
    CFIFO<unsigned char> ReceiveQueue;
    CFIFO<unsigned char> SendQueue;
    PortDcb Dcb;
    int PortNumber = 0;
    // The device to open instead of the one PortNumber maps to; empty: the mapped one. While set,
    // OpenPort takes any port number, as the number then only names the port.
    std::string DevicePath;
    void (*OnOpen)() = nullptr;
    void (*OnClose)() = nullptr;
    void (*OnOpenError)() = nullptr;
    // Called at the end of an OpenPort whose request to the modem manager was refused; not
    // again for the reopenings that keep that answer.
    void (*OnModemRefused)() = nullptr;

  protected:
    // Waits until no thread of any earlier opening is still running.
    void WaitForLingeringThreads();

  private:
    struct Opening;
    static void ReaderProc(std::shared_ptr<Opening> opening);
    static void NotifierProc(std::shared_ptr<Opening> opening);
    static void WriterProc(std::shared_ptr<Opening> opening);
    int OpenDeviceAndThreads();
    void PruneLingering();
    // Asks the modem manager to keep off `path` unless that was asked already; true when it
    // was asked now and refused.
    bool KeepModemManagerOff(const std::string& path);
    // Ends the modem manager's inhibition unless a Reopening is under way.
    void LetModemManagerBack();

    std::atomic<bool> Opened{false};
    std::mutex CurrentLock; // guards Current for Write on another thread
    std::shared_ptr<Opening> Current;
    std::vector<std::weak_ptr<Opening>> Lingering;
    ModemInhibition Inhibition;
    int ReopenDepth = 0;
    bool ModemRefusedNow = false; // this OpenPort asked the modem manager and was refused
};
