#include "package/FirmwarePackage.h"

#include "package/ByteOrder.h"
#include "package/Crc32.h"
#include "base/FileAccess.h"
#include "base/GbkText.h"
#include "package/Md5.h"

#include <cctype>
#include <cstring>
#include <memory>

FirmwarePackageData FirmwarePackage{};

std::string FirmwarePackageData::InfoText() const {
    const uint8_t* text = &Header[45];
    const void* nul = std::memchr(text, 0, kPackageInfoTextSize);
    const size_t length =
        nul ? size_t(static_cast<const uint8_t*>(nul) - text) : size_t(kPackageInfoTextSize);
    return std::string(reinterpret_cast<const char*>(text), length);
}

namespace {

PackageLoadResult SizeFailure(PackageLoadOutcome outcome, const char* text) {
    PackageLoadResult result;
    result.Outcome = outcome;
    result.MessageBoxText = text;
    result.ClearPath = true;
    return result;
}

PackageLoadResult MemoFailure(PackageLoadOutcome outcome, const char* line) {
    PackageLoadResult result;
    result.Outcome = outcome;
    result.ReplaceMemo = true;
    result.MemoLines.push_back(line);
    return result;
}

// Reads up to `capacity` bytes until end of file; -1 on a read error.
int64_t ReadAll(ReadOnlyFile& file, uint8_t* buffer, int64_t capacity) {
    int64_t total = 0;
    while (total < capacity) {
        const int64_t got = file.Read(buffer + total, size_t(capacity - total));
        if (got < 0) return -1;
        if (got == 0) break;
        total += got;
    }
    return total;
}

} // namespace

PackageLoadResult LoadPackage(const std::string& path, FirmwarePackageData& into) {
    into.ClearKind();

    // Anything that is not a readable plain file counts as size -1, like a missing one.
    ReadOnlyFile file(path);
    const int64_t size = file.Size();

    if (size > kPackageMaxFileSize)
        return SizeFailure(PackageLoadOutcome::TooLarge, "文件大小超过限制！");
    if (size < kPackageHeaderSize)
        return SizeFailure(PackageLoadOutcome::SizeError, "文件大小错误！");

    // One byte more than the size asks for, so a file that grew since it was opened is noticed too.
    auto work = std::make_unique<uint8_t[]>(kPackageBlockDataSize + 1);
    const int64_t got = ReadAll(file, work.get(), size + 1);
    if (got != size) // unreadable, or changed under us: treat as a file we cannot take
        return SizeFailure(PackageLoadOutcome::SizeError, "文件大小错误！");

    std::memcpy(into.Header, work.get(), kPackageHeaderSize);

    const uint32_t blockSize = into.BlockSize();
    const uint32_t blockArea = blockSize * into.BlockCount();
    if (blockSize % 8 != 0 || blockSize > uint32_t(kPackageMaxBlockSize) ||
        blockArea + 113 != uint32_t(size)) {
        into.ClearKind();
        return MemoFailure(PackageLoadOutcome::FormatError, "升级文件格式错误！");
    }

    const uint32_t expected = ReadLe32(work.get() + size - 4);
    if (Crc32(work.get(), int32_t(size - 4)) != expected) {
        into.ClearKind();
        return MemoFailure(PackageLoadOutcome::ChecksumError, "升级文件校验错误！");
    }

    std::memcpy(into.BlockData, work.get() + kPackageHeaderSize, blockArea);

    PackageLoadResult result;
    result.Outcome = PackageLoadOutcome::Loaded;
    result.ReplaceMemo = true;
    if (into.Kind() == kPackageKindK46) result.MemoLines.push_back("K46方案Modem升级");
    result.Md5 = FileMd5Hex(path);
    for (char& c : result.Md5)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    result.MemoLines.push_back("文件MD5:" + result.Md5);
    const std::string info = into.InfoText();
    if (!info.empty())
        result.MemoLines.push_back(
            "升级文件信息:" +
            GbkToUtf8(reinterpret_cast<const uint8_t*>(info.data()), info.size()));
    return result;
}
