#pragma once
// A pseudo-terminal pair standing in for a serial device in tests: the code under test opens the
// slave path as its port; the test plays the device at the master end.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace tolvane::test {

class PtyPair {
  public:
    // Opens a pair in raw mode. keepSlaveOpen holds a slave descriptor for the pair's life, so
    // the master never sees a hang-up between openings of the port. Throws std::runtime_error.
    explicit PtyPair(bool keepSlaveOpen = true);
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int MasterFd() const { return Master; }
    const std::string& SlavePath() const { return Slave; }

    // Writes all bytes to the master end (the device sending); false on failure.
    bool Write(const void* data, size_t size);
    bool Write(const std::string& text) { return Write(text.data(), text.size()); }
    // Reads from the master end until `want` bytes have arrived or the time-out passed; returns
    // what arrived (possibly fewer bytes).
    std::vector<uint8_t> Read(size_t want, std::chrono::milliseconds timeout);
    // Reads whatever arrives until nothing more comes for `quiet`.
    std::vector<uint8_t> ReadUntilQuiet(std::chrono::milliseconds quiet);

    // Line settings the slave end was set to, as seen from the master end; 0 on failure.
    uint32_t SlaveBaudRate() const;
    // Data bits (5..8), parity (0 none, 1 odd, 2 even) and two stop bits of the slave's settings.
    int SlaveDataBits() const;
    int SlaveParity() const;
    bool SlaveTwoStopBits() const;
    // The slave drops DTR and RTS when it is closed (HUPCL). A pseudo-terminal has no modem
    // lines to read back, so the flag is what can be seen.
    bool SlaveHangsUpOnClose() const;

    // Closes the master end: the slave side sees a hang-up.
    void CloseMaster();
    // Closes the descriptor kept on the slave end, if any.
    void CloseSlave();

  private:
    int Master = -1;
    int SlaveFd = -1;
    std::string Slave;
};

// Counts of this process's open descriptors and threads (from /proc/self).
int OpenFdCount();
int ThreadCount();

} // namespace tolvane::test
