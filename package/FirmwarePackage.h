#pragma once

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
    ChecksumError // trailing CRC-32 does not match
};

struct PackageLoadResult {
    PackageLoadOutcome Outcome = PackageLoadOutcome::SizeError;
    // Text for a modal message box (size failures only); empty otherwise.
    std::string MessageBoxText;
    // Size failures empty the path field; the other outcomes keep it.
    bool ClearPath = false;
    // When true the memo is cleared and then gets MemoLines; when false it stays as it was.
    bool ReplaceMemo = false;
    std::vector<std::string> MemoLines; // UTF-8
    // The loaded file's MD5 as the memo shows it (upper-case hex); empty unless loaded.
    std::string Md5;
};

// Checks the file and, when it passes, copies its blocks into `into`. Sets Kind to 0 first;
// only a file passing every check leaves a non-zero Kind. Touches no widget: the window applies
// the result (message box, path field, memo).
PackageLoadResult LoadPackage(const std::string& path, FirmwarePackageData& into);
