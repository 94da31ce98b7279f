#pragma once
// The virtual device: a modem in its working mode (text commands) and its loader (binary
// frames), on the master end of a pseudo-terminal, with faults that can be switched on to
// exercise every failure path of the tool. Runs on a thread of its own.

#include <array>
#include <atomic>
#include <climits>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace devsim {

enum class Parity : uint8_t { None = 0, Odd = 1, Even = 2 };

// The line settings one mode of the device listens at.
struct LineMode {
    uint32_t Baud = 115200;
    Parity LineParity = Parity::None;
};

// A fault aimed at the reply to one block index (BlockCount names the closing frame).
struct BlockFault {
    int Block = -1;
    int Times = 1; // how many replies to that block it spoils; 0 means every one
};

// On receiving a block (the first time), the port drops without a reply and comes back later
// under the same name, the loader's state kept, as a USB adapter does.
struct PortDrop {
    int Block = -1;
    int Ms = 0; // how long the port is away
};

struct Faults {
    bool Silent = false;      // receives everything, answers nothing, changes no state
    bool ResetError = false;  // answers the reset with "\r\nERROR\r\n" and stays in working mode
    bool IgnorePings = false; // no reply to the handshake ping
    std::vector<BlockFault> CorruptCrc; // reply checksum spoiled
    std::vector<BlockFault> WrongKind;  // reply carries another kind
    std::vector<BlockFault> Beyond;     // reply names BlockCount + 2
    int RepeatBlock = -1;               // once this block arrived, ask for it forever
    bool Reverse = false;               // ask for the blocks from the last to the first
    std::vector<int> Order;             // ask for these blocks first, the rest ascending
    int SplitMs = -1;                   // every reply in two bursts this many ms apart
    bool StrayByte = false;             // one byte (StrayValue) in front of every reply
    uint8_t StrayValue = 0xFF;
    int DelayMs = 0;      // every reply this much later
    int VanishAfter = -1; // close the line on receiving this block, without a reply
    std::vector<PortDrop> Drops;
};

// A port that can vanish and come back under the same name. The device calls it on its own
// thread.
class PortPresence {
  public:
    virtual ~PortPresence() = default;
    // The device has closed its end: the port's name goes too.
    virtual void Vanished() = 0;
    // The port is back under its name: the device's end of a new pseudo-terminal, or -1.
    virtual int Arrive() = 0;
};

constexpr int kEndlessUnits = INT_MAX;

struct DeviceOptions {
    LineMode Working{115200, Parity::None};
    LineMode Loader{115200, Parity::Even};
    std::string VersionText = "VERSION:2.1\r\n"; // the version reply is "\r\n" + this
    std::string ImagePath;      // the received block area is written here after a transfer
    bool StartInLoader = false; // as if reset before
    int ExpectedKind = -1;      // -1 takes any kind but 0
    bool Pace = false;          // take the wire time of every byte at the current settings
    Faults Fault;

    // What a production station sees. The identity command is answered with "\r\n", the
    // identity and "\r\n\r\nOK\r\n", or with "\r\nERROR\r\n" by a unit without one.
    std::string IdCommand = "AT+CGSN";       // the text before its "\r"
    std::vector<std::string> Ids;            // of units 1, 2, ... in turn
    std::string IdPattern;                   // or: its run of '#' replaced by the unit's number
    std::optional<std::string> VersionAfter; // version text once a transfer has completed
    int BootDelayMs = 0; // after a transfer, silent this long before the working mode answers
    // 0: one unit that stays. N (kEndlessUnits: no end): N units one after another on the
    // port; each leaves once its version has been asked after its upgrade, the next arrives
    // AbsentMs later with its own identity and the old version, and the device ends after
    // the last.
    int Units = 0;
    int AbsentMs = 1000;
    // Where the port goes when a unit leaves or the port drops; without it, it cannot return.
    PortPresence* Presence = nullptr;

    // Gets one line per event (no line end) when set; main points it at stderr for -v.
    std::function<void(const std::string&)> Log;
};

enum class DeviceMode { Working, Loader };

// The fields of a data frame's header.
struct DataFrameHeader {
    uint8_t Kind = 0;
    uint16_t Count = 0; // blocks in the transfer; this index names the closing frame
    uint16_t Index = 0;
    uint16_t Length = 0; // payload bytes
};

// What the device has seen and done, for tests and for the log.
struct DeviceStatus {
    DeviceMode Mode = DeviceMode::Working;
    int VersionQueries = 0;
    int Resets = 0;
    int Pings = 0;
    int DataFrames = 0;     // data frames that passed every check
    int BadChecksums = 0;   // frames dropped for their checksum (answered by silence)
    int RejectedFrames = 0; // frames with a good checksum that failed another check
    int IgnoredBytes = 0;   // bytes that came at a baud rate the current mode does not use
    int RepliesSent = 0;
    int Transfers = 0;                       // completed transfers
    std::vector<int> BlocksAsked;            // next index of every data reply sent, in order
    std::vector<int> FramesArrived;          // index of every accepted data frame, in order
    std::vector<uint8_t> Image;              // block area of the last completed transfer
    std::array<uint8_t, 8> ClosingPayload{}; // as received: second end parameter, then first
    int Unit = 1;                            // the unit on the port, 1 for the first
    int IdentityQueries = 0;
    int BootIgnoredBytes = 0; // bytes that came while the new firmware was starting
    int UnitsGone = 0;        // units taken away
    int Drops = 0;            // times the port dropped and came back
    bool Present = true;      // false while the port is away
    bool Lost = false;        // the port could not come back
    bool Vanished = false;
    bool Running = false;
};

class VirtualDevice {
  public:
    explicit VirtualDevice(DeviceOptions options);
    ~VirtualDevice();
    VirtualDevice(const VirtualDevice&) = delete;
    VirtualDevice& operator=(const VirtualDevice&) = delete;

    // Runs the device on the master end of a pseudo-terminal, on its own thread. Takes
    // ownership of the descriptor. False if already started or the thread cannot start.
    bool Start(int masterFd);
    // Ends the thread and closes the line; safe to call more than once.
    void Stop();
    // False once stopped or vanished.
    bool Running() const { return running_.load(); }
    DeviceStatus Status() const;

  private:
    void Run();
    void Receive(const uint8_t* data, size_t length);
    void ProcessBuffer();
    // One request off the front of the buffer; false when it is not complete yet.
    bool TakeTextLine();
    bool TakeFrame();
    void HandleText(const std::string& line);
    void ReplyText(const std::string& text);
    void AnswerVersion();
    void AnswerIdentity();
    void AnswerReset();
    void HandleFrame(const std::vector<uint8_t>& frame);
    void HandleCommandFrame(const std::vector<uint8_t>& frame);
    void HandleDataFrame(const std::vector<uint8_t>& bytes);
    // A data frame in three steps: checked (a refusal is answered by silence), stored, replied
    // to (with the faults aimed at its block).
    static DataFrameHeader ReadHeader(const std::vector<uint8_t>& bytes);
    bool Reject(const DataFrameHeader& frame, const std::string& why); // always false
    bool CheckFrame(const DataFrameHeader& frame);
    bool CheckTransfer(const DataFrameHeader& frame); // starts a transfer at block 0
    int StoreBlock(const DataFrameHeader& frame, const std::vector<uint8_t>& bytes,
                   bool& completes); // the block to ask for next
    void ReplyToBlock(const DataFrameHeader& frame, int next, bool completes);
    void Reply(std::vector<uint8_t> bytes, bool text);
    bool WriteAll(const uint8_t* data, size_t length);
    bool Pause(double milliseconds); // false when stopped meanwhile
    double ByteMilliseconds() const; // wire time of one byte at the current settings
    const LineMode& CurrentLine() const;
    bool TakeFault(std::vector<BlockFault>& faults, int block);
    void SetMode(DeviceMode mode);
    void StartSession(uint8_t kind, uint16_t blockCount, uint16_t blockSize);
    int FirstMissingBlock() const;
    void WriteImage();
    void Vanish();
    // The port going away and coming back.
    void CloseLine();
    bool ComeBack(double ms); // false when stopped or the port cannot return
    int TakeDrop(int block);  // how long the port drops on this block, -1 not at all
    void DropPort(int ms);
    void LeaveAfterUpgrade();
    void NextUnit();
    void ArmFaults();
    void Note(const std::string& text);

    DeviceOptions options_;
    int master_ = -1;
    int wake_ = -1; // eventfd: Stop() wakes the thread's poll
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> vanished_{false};

    // Thread-only state.
    DeviceMode mode_ = DeviceMode::Working;
    std::vector<uint8_t> buffer_;
    double wireFreeAt_ = 0; // pacing: when the line has carried the bytes read so far
    double lastByteAt_ = 0;
    Faults faults_; // counts of the block faults go down as they are used
    int unit_ = 1;
    bool upgraded_ = false; // this unit completed a transfer: it runs the new version
    double bootUntil_ = 0;

    mutable std::mutex statusMutex_;
    DeviceStatus status_;
    struct SessionState {
        bool Active = false;
        bool Complete = false;
        bool Repeating = false;
        uint8_t Kind = 0;
        uint16_t BlockCount = 0;
        uint16_t BlockSize = 0;
        std::vector<uint8_t> Area;
        std::vector<bool> Received;
        std::vector<int> Order;
    } session_;
};

// Text for the log: hex for frames, escaped text for commands.
std::string HexBytes(const uint8_t* data, size_t length);
std::string EscapedText(const uint8_t* data, size_t length);

} // namespace devsim
