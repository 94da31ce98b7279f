#include "package/Crc32.h"
#include "package/Md5.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const uint8_t* Bytes(const char* text) {
    return reinterpret_cast<const uint8_t*>(text);
}

std::string Md5Hex(const std::string& text, size_t chunk) {
    Md5Context context;
    Md5Init(context);
    for (size_t at = 0; at < text.size(); at += chunk) {
        const size_t n = std::min(chunk, text.size() - at);
        Md5Update(context, Bytes(text.data()) + at, uint32_t(n));
    }
    uint8_t digest[16];
    Md5Final(digest, context);
    std::string hex;
    char two[3];
    for (uint8_t b : digest) {
        std::snprintf(two, sizeof two, "%02x", b);
        hex += two;
    }
    return hex;
}

TEST(Crc32, KnownAnswers) {
    EXPECT_EQ(Crc32(Bytes("123456789"), 9), 0xCBF43926u);
    EXPECT_EQ(Crc32(Bytes(""), 0), 0u);
    EXPECT_EQ(Crc32(Bytes("x"), -5), 0u);
    const uint8_t ping[] = {0x66, 0xCC, 0xFF, 0x00, 0x00};
    EXPECT_EQ(Crc32(ping, 5), 0x525310A3u); // the handshake ping's trailer A3 10 53 52
    const uint8_t reply[] = {0x66, 0xCC, 0xFF, 0x80, 0x00};
    EXPECT_EQ(Crc32(reply, 5), 0x69D088E8u);
    // Every byte value once, so every entry of the lookup table is used (as zlib computes it).
    uint8_t all[256];
    for (int i = 0; i < 256; ++i)
        all[i] = uint8_t(i);
    EXPECT_EQ(Crc32(all, 256), 0x29058C73u);
}

struct Md5Case {
    const char* input;
    const char* digest;
};

// The test suite of RFC 1321, appendix A.5.
const Md5Case kRfcSuite[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890"
     "123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(Md5, RfcSuiteInOneUpdateAndInPieces) {
    for (const Md5Case& c : kRfcSuite) {
        SCOPED_TRACE(c.input);
        for (size_t chunk : {size_t(1), size_t(7), size_t(63), size_t(64), size_t(1000)})
            EXPECT_EQ(Md5Hex(c.input, chunk), c.digest) << "chunk " << chunk;
    }
}

TEST(Md5, PaddingBoundaries) {
    // Lengths around 56 and 64 take the one- and two-block paths of the closing padding.
    EXPECT_EQ(Md5Hex(std::string(55, 'a'), 64), "ef1772b6dff9a122358552954ad0df65");
    EXPECT_EQ(Md5Hex(std::string(56, 'a'), 64), "3b0c8ac703f828b04c6c197006d17218");
    EXPECT_EQ(Md5Hex(std::string(64, 'a'), 64), "014842d480b571495a4a0363793f7367");
}

TEST(FileMd5Hex, FilesAndFailures) {
    TempDir dir;
    EXPECT_EQ(FileMd5Hex(dir.Write("empty", {})), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(FileMd5Hex(dir.Write("abc", {'a', 'b', 'c'})), "900150983cd24fb0d6963f7d28e17f72");
    std::vector<uint8_t> big(100000);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = uint8_t(i * 7);
    std::string whole(big.begin(), big.end());
    EXPECT_EQ(FileMd5Hex(dir.Write("big", big)), Md5Hex(whole, whole.size()));
    EXPECT_EQ(FileMd5Hex(dir.File("missing")), "");
    EXPECT_EQ(FileMd5Hex(dir.path()), "");
}

} // namespace
