#pragma once

#include "package/Signature.h"

#include <cstdint>
#include <string>
#include <vector>

// Layout of a ".enc2" package: a 109-byte header, BlockSize x BlockCount bytes of blocks and a
// trailing CRC-32 (least significant byte first) over everything before it.
constexpr int32_t kPackageHeaderSize = 109;
constexpr int32_t kPackageMaxFileSize = 65535;
constexpr int32_t kPackageBlockDataSize = 65536;
constexpr int32_t kPackageInfoTextSize = 64;
// A data frame is BlockSize + 13 bytes in a 4096-byte buffer, so larger blocks cannot be sent.
constexpr int32_t kPackageMaxBlockSize = 4083;
constexpr uint8_t kPackageKindK46 = 16;

struct FirmwarePackageData {
    uint8_t Header[kPackageHeaderSize];
    uint8_t BlockData[kPackageBlockDataSize];

    // 0 means no valid package is loaded; the other fields then mean nothing.
    uint8_t Kind() const { return Header[32]; }
    uint16_t BlockSize() const { return uint16_t(Header[33] | Header[34] << 8); }
    uint16_t BlockCount() const { return uint16_t(Header[35] | Header[36] << 8); }
    // The 4 stored bytes, passed to the device unchanged.
    const uint8_t* EndParam1() const { return &Header[37]; }
    const uint8_t* EndParam2() const { return &Header[41]; }
    // Raw (GBK) bytes up to the first NUL, never more than the 64 bytes of the field.
    std::string InfoText() const;
    void ClearKind() { Header[32] = 0; }
};

// The one package of the process; all zero at start.
extern FirmwarePackageData FirmwarePackage;

enum class PackageLoadOutcome {
    Loaded,       // every check passed (Kind may still be 0 when the file says so)
    TooLarge,     // above 65535 bytes
    SizeError,    // below 109 bytes, or not a readable plain file
    FormatError,  // BlockSize not a multiple of 8 or above 4083, or size not
                  // BlockSize*BlockCount+113
    ChecksumError,   // trailing CRC-32 does not match
    SignatureRefused // every check passed, but a key is trusted and none signed these bytes
};

// What loading a package found, as values; each front-end words it for itself.
struct PackageCheck {
    PackageLoadOutcome Outcome = PackageLoadOutcome::SizeError;
    int64_t FileSize = -1; // at opening; -1 when it is not a readable plain file
    // From the header, once the size checks passed; 0 before.
    uint8_t Kind = 0;
    uint16_t BlockSize = 0, BlockCount = 0;
    // Set once every check of the file passed (also when its signature was then refused): the
    // MD5 of the bytes read (32 upper-case hex digits) and the information text (UTF-8; GBK
    // bytes that do not decode become U+FFFD).
    std::string Md5;
    std::string InfoText;
    SignatureCheck Signature; // NotChecked unless keys are trusted and the file passed
};

// Checks the file and, when it passes, copies its blocks into `into`. Sets Kind to 0 first;
// only a file passing every check leaves a non-zero Kind. The file is read once: the digest,
// the signature check and the blocks are all of the same bytes. With keys configured in
// `trust`, a file passes only with a trusted key's signature; without, no signature is read.
PackageCheck LoadPackage(const std::string& path, FirmwarePackageData& into,
                         const TrustedKeys* trust = nullptr);

// Why a checked package may not be sent to a device; None when it may.
enum class PackageRefusal {
    None,
    TooLarge,
    SizeError,
    FormatError,
    ChecksumError,
    NotSendable, // loaded, but kind 0 or blocks too large for one frame
    Signature    // no trusted key's valid signature
};

// The one rule that the flasher, its info command and the station apply to a package.
PackageRefusal RefusalOf(const PackageCheck& check);
