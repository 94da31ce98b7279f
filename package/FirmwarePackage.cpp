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

PackageCheck Failure(PackageLoadOutcome outcome, int64_t size) {
    PackageCheck check;
    check.Outcome = outcome;
    check.FileSize = size;
    return check;
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

std::string UpperMd5Hex(const uint8_t* bytes, size_t size) {
    std::string hex = Md5Hex(bytes, size);
    for (char& c : hex)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return hex;
}

} // namespace

PackageCheck LoadPackage(const std::string& path, FirmwarePackageData& into,
                         const TrustedKeys* trust) {
    into.ClearKind();

    // Anything that is not a readable plain file counts as size -1, like a missing one.
    ReadOnlyFile file(path);
    const int64_t size = file.Size();

    if (size > kPackageMaxFileSize) return Failure(PackageLoadOutcome::TooLarge, size);
    if (size < kPackageHeaderSize) return Failure(PackageLoadOutcome::SizeError, size);

    // One byte more than the size asks for, so a file that grew since it was opened is noticed too.
    auto work = std::make_unique<uint8_t[]>(kPackageBlockDataSize + 1);
    const int64_t got = ReadAll(file, work.get(), size + 1);
    if (got != size) // unreadable, or changed under us: treat as a file we cannot take
        return Failure(PackageLoadOutcome::SizeError, size);

    std::memcpy(into.Header, work.get(), kPackageHeaderSize);
    PackageCheck check = Failure(PackageLoadOutcome::FormatError, size);
    check.Kind = into.Kind();
    check.BlockSize = into.BlockSize();
    check.BlockCount = into.BlockCount();

    const uint32_t blockSize = check.BlockSize;
    const uint32_t blockArea = blockSize * check.BlockCount;
    if (blockSize % 8 != 0 || blockSize > uint32_t(kPackageMaxBlockSize) ||
        blockArea + 113 != uint32_t(size)) {
        into.ClearKind();
        return check;
    }

    const uint32_t expected = ReadLe32(work.get() + size - 4);
    if (Crc32(work.get(), int32_t(size - 4)) != expected) {
        into.ClearKind();
        check.Outcome = PackageLoadOutcome::ChecksumError;
        return check;
    }

    check.Md5 = UpperMd5Hex(work.get(), size_t(size));
    const std::string info = into.InfoText();
    check.InfoText = GbkToUtf8(reinterpret_cast<const uint8_t*>(info.data()), info.size());
    if (trust) {
        check.Signature = CheckPackageSignature(path, work.get(), size_t(size), *trust);
        if (trust->Configured && check.Signature.Outcome != SignatureOutcome::Valid) {
            into.ClearKind();
            check.Outcome = PackageLoadOutcome::SignatureRefused;
            return check; // no block is copied
        }
    }
    check.Outcome = PackageLoadOutcome::Loaded;
    std::memcpy(into.BlockData, work.get() + kPackageHeaderSize, blockArea);
    return check;
}

PackageRefusal RefusalOf(const PackageCheck& check) {
    switch (check.Outcome) {
    case PackageLoadOutcome::TooLarge:
        return PackageRefusal::TooLarge;
    case PackageLoadOutcome::SizeError:
        return PackageRefusal::SizeError;
    case PackageLoadOutcome::FormatError:
        return PackageRefusal::FormatError;
    case PackageLoadOutcome::ChecksumError:
        return PackageRefusal::ChecksumError;
    case PackageLoadOutcome::SignatureRefused:
        return PackageRefusal::Signature;
    case PackageLoadOutcome::Loaded:
        break;
    }
    // A frame holds BlockSize + 13 bytes in 4096: checked here too, so the rule does not lean on
    // what the loader happens to refuse.
    if (check.Kind == 0 || (check.BlockCount > 0 && check.BlockSize > kPackageMaxBlockSize))
        return PackageRefusal::NotSendable;
    return PackageRefusal::None;
}
