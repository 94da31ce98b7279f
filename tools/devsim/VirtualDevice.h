#pragma once
// The virtual device: a modem in its working mode (text commands) and its loader (binary
// frames), on the master end of a pseudo-terminal, with faults that can be switched on to
// exercise every failure path of the tool. Runs on a thread of its own.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
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
};

struct DeviceOptions {
    LineMode Working{115200, Parity::None};
    LineMode Loader{115200, Parity::Even};
    std::string VersionText = "VERSION:2.1\r\n"; // the version reply is "\r\n" + this
    std::string ImagePath;      // the received block area is written here after a transfer
    bool StartInLoader = false; // as if reset before
    int ExpectedKind = -1;      // -1 takes any kind but 0
    bool Pace = false;          // take the wire time of every byte at the current settings
    Faults Fault;
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
