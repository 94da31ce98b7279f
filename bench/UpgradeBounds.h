#pragma once
// Lower bounds of one upgrade at 115200 8N1 against the virtual device: every request and reply
// on the wire (the reset and its "\r\nOK\r\n", one ping and its reply, every data frame, the
// closing one included, and its data reply), with or without the 50 ms of quiet after each
// reply that the port waits before it reports the reply.
constexpr double kByteMs = 10.0 * 1000.0 / 115200.0; // start, 8 data and stop bit
constexpr double kQuietMs = 50.0;

inline double WireOnlyMs(int blockSize, int blockCount) {
    double bytes = 9 + 6 + 9 + 9;
    bytes += double(blockCount) * (blockSize + 13 + 9) + (8 + 13 + 9);
    return bytes * kByteMs;
}

inline double LowerBoundMs(int blockSize, int blockCount) {
    const int replies = 2 + blockCount + 1;
    return WireOnlyMs(blockSize, blockCount) + replies * kQuietMs;
}
