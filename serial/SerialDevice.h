#pragma once
// The port core's only view of the platform: one opened serial device of one opening, read by
// the reader thread, written by the writer thread and interrupted by Close. Implemented once in
// serial/posix and once in serial/win32; nothing else sees the platform's headers.
#include "serial/MCPort.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// The most bytes the port core moves at once: each read it asks for and each chunk it writes.
constexpr size_t PortChunkSize = 256;

class SerialDevice {
  public:
    SerialDevice();
    ~SerialDevice(); // releases the device
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // Opens the device for exclusive use with the settings of `dcb`, raises DTR and RTS and
    // discards whatever waited in the driver. 1 on success, otherwise the port core's result:
    // -5 missing or held by someone else, -6 no resources, -7 line settings refused.
    int Open(const std::string& path, const PortDcb& dcb);
    // Blocks until received bytes wait, the device reports something or Interrupt is called.
    // The number of bytes to read now; 0 when there is nothing (the caller then checks for a stop
    // and waits again). A device that went away makes it wait for Interrupt only.
    size_t WaitForInput();
    // True once the device reported that it went away (unplugged, hung up); reader thread only.
    bool Vanished() const;
    // Reads at most `size` bytes without waiting for more than are there; 0 ends the batch.
    size_t Read(uint8_t* buffer, size_t size);
    // Writes all `size` bytes, in as many driver writes as it takes. True when every byte went
    // out; false when Interrupt came first or the device took no more (the rest is lost).
    bool Write(const uint8_t* data, size_t size);
    // From any thread, once: wakes WaitForInput and Write for good.
    void Interrupt();
    // Closes the device; only once the reader and writer are done with it. Repeats do nothing.
    void Release();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
