#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// MD5 as RFC 1321 defines it, with the context laid out the same way.
struct Md5Context {
    uint32_t state[4];
    uint32_t count[2]; // bits fed so far, low word first
    uint8_t buffer[64];
};

void Md5Init(Md5Context& context);
void Md5Update(Md5Context& context, const uint8_t* input, uint32_t length);
// Writes the digest and wipes the context.
void Md5Final(uint8_t digest[16], Md5Context& context);

// Digest of bytes in memory as 32 lower-case hex digits.
std::string Md5Hex(const uint8_t* bytes, size_t size);

// Digest of a whole file as 32 lower-case hex digits; empty when it is missing or unreadable.
std::string FileMd5Hex(const std::string& path);
