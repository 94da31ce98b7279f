#include "package/Md5.h"

#include "package/ByteOrder.h"
#include "base/FileAccess.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

inline uint32_t RotateLeft(uint32_t x, int n) {
    return (x << n) | (x >> (32 - n));
}

void Transform(uint32_t state[4], const uint8_t block[64]) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = ReadLe32(block + 4 * i);

    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        const int round = i / 16;
        uint32_t f;
        int word;
        switch (round) {
        case 0:
            f = (b & c) | (~b & d);
            word = i;
            break;
        case 1:
            f = (b & d) | (c & ~d);
            word = (5 * i + 1) % 16;
            break;
        case 2:
            f = b ^ c ^ d;
            word = (3 * i + 5) % 16;
            break;
        default:
            f = c ^ (b | ~d);
            word = (7 * i) % 16;
            break;
        }
        const uint32_t rotated = b + RotateLeft(a + f + kSine[i] + x[word], kShift[round][i % 4]);
        a = d;
        d = c;
        c = b;
        b = rotated;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;

    // Leave no copy of the message words behind on the stack.
    volatile uint32_t* wipe = x;
    for (int i = 0; i < 16; ++i)
        wipe[i] = 0;
}

} // namespace

void Md5Init(Md5Context& context) {
    context.count[0] = context.count[1] = 0;
    context.state[0] = 0x67452301;
    context.state[1] = 0xefcdab89;
    context.state[2] = 0x98badcfe;
    context.state[3] = 0x10325476;
}

void Md5Update(Md5Context& context, const uint8_t* input, uint32_t length) {
    if (length == 0) return;
    uint32_t index = (context.count[0] >> 3) & 0x3F;
    const uint32_t addedBits = length << 3;
    context.count[0] += addedBits;
    if (context.count[0] < addedBits) ++context.count[1];
    context.count[1] += length >> 29;

    const uint32_t partLength = 64 - index;
    uint32_t i = 0;
    if (length >= partLength) {
        std::memcpy(&context.buffer[index], input, partLength);
        Transform(context.state, context.buffer);
        for (i = partLength; i + 63 < length; i += 64)
            Transform(context.state, &input[i]);
        index = 0;
    }
    std::memcpy(&context.buffer[index], &input[i], length - i);
}

void Md5Final(uint8_t digest[16], Md5Context& context) {
    uint8_t bits[8];
    for (int i = 0; i < 8; ++i)
        bits[i] = uint8_t(context.count[i / 4] >> (8 * (i % 4)));

    static const uint8_t padding[64] = {0x80};
    const uint32_t index = (context.count[0] >> 3) & 0x3F;
    const uint32_t padLength = index < 56 ? 56 - index : 120 - index;
    Md5Update(context, padding, padLength);
    Md5Update(context, bits, 8);

    for (int i = 0; i < 16; ++i)
        digest[i] = uint8_t(context.state[i / 4] >> (8 * (i % 4)));
    volatile uint8_t* wipe = reinterpret_cast<uint8_t*>(&context);
    for (size_t i = 0; i < sizeof context; ++i)
        wipe[i] = 0;
}

namespace {

std::string DigestHex(const uint8_t digest[16]) {
    std::string hex;
    hex.reserve(32);
    for (int i = 0; i < 16; ++i) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", digest[i]);
        hex += two;
    }
    return hex;
}

} // namespace

std::string Md5Hex(const uint8_t* bytes, size_t size) {
    Md5Context context;
    Md5Init(context);
    // Fed in pieces, as the context counts in 32 bits.
    for (size_t done = 0; done < size;) {
        const uint32_t piece = uint32_t(std::min<size_t>(size - done, 1u << 30));
        Md5Update(context, bytes + done, piece);
        done += piece;
    }
    uint8_t digest[16];
    Md5Final(digest, context);
    return DigestHex(digest);
}

std::string FileMd5Hex(const std::string& path) {
    ReadOnlyFile file(path);
    if (!file.IsOpen()) return {};

    Md5Context context;
    Md5Init(context);
    uint8_t chunk[16384];
    bool failed = false;
    for (;;) {
        const int64_t got = file.Read(chunk, sizeof chunk);
        if (got < 0) {
            failed = true;
            break;
        }
        if (got == 0) break;
        Md5Update(context, chunk, uint32_t(got));
    }

    uint8_t digest[16];
    Md5Final(digest, context);
    if (failed) return {};
    return DigestHex(digest);
}
