#include "package/PackageWriter.h"

#include "package/Crc32.h"
#include "package/FirmwarePackage.h"
#include "base/GbkText.h"

#include <algorithm>

uint8_t PackagePatternByte(size_t index) {
    return uint8_t((index * 31 + index / 251) & 0xFF);
}

namespace {

bool StoredInfo(const PackageLayout& layout, std::array<uint8_t, 64>& out, std::string* error) {
    if (layout.InfoRaw) {
        out = *layout.InfoRaw;
        return true;
    }
    out.fill(0);
    const std::optional<std::string> gbk = Utf8ToGbk(layout.InfoText);
    if (!gbk) {
        if (error)
            *error = "information text is not valid UTF-8 or has characters GBK cannot store";
        return false;
    }
    if (gbk->size() > out.size()) {
        if (error)
            *error = "information text takes " + std::to_string(gbk->size()) +
                     " bytes in GBK; at most 64 fit";
        return false;
    }
    std::copy(gbk->begin(), gbk->end(), out.begin());
    return true;
}

} // namespace

std::vector<uint8_t> BuildPackage(const PackageLayout& layout, std::string* error) {
    std::array<uint8_t, 64> info;
    if (!StoredInfo(layout, info, error)) return {};

    std::vector<uint8_t> file;
    file.insert(file.end(), layout.Filler.begin(), layout.Filler.end());
    file.push_back(layout.Kind);
    file.push_back(uint8_t(layout.BlockSize));
    file.push_back(uint8_t(layout.BlockSize >> 8));
    file.push_back(uint8_t(layout.BlockCount));
    file.push_back(uint8_t(layout.BlockCount >> 8));
    file.insert(file.end(), layout.EndParam1.begin(), layout.EndParam1.end());
    file.insert(file.end(), layout.EndParam2.begin(), layout.EndParam2.end());
    file.insert(file.end(), info.begin(), info.end());

    if (layout.BlockArea) {
        file.insert(file.end(), layout.BlockArea->begin(), layout.BlockArea->end());
    } else {
        const size_t area = size_t(layout.BlockSize) * layout.BlockCount;
        for (size_t i = 0; i < area; ++i)
            file.push_back(PackagePatternByte(i));
    }

    uint32_t crc = Crc32(file.data(), int32_t(std::min<size_t>(file.size(), INT32_MAX)));
    if (layout.ChecksumStyle == PackageLayout::Checksum::Wrong) crc ^= 0x00010000u;
    for (int i = 0; i < 4; ++i) {
        const int shift = layout.ChecksumStyle == PackageLayout::Checksum::MostSignificantFirst
                              ? 8 * (3 - i)
                              : 8 * i;
        file.push_back(uint8_t(crc >> shift));
    }
    if (layout.TruncateTo && *layout.TruncateTo < file.size()) file.resize(*layout.TruncateTo);
    return file;
}

std::string PackageLayoutProblem(const PackageLayout& layout) {
    if (layout.BlockSize % 8 != 0)
        return "block size " + std::to_string(layout.BlockSize) + " is not a multiple of 8";
    if (layout.BlockSize > kPackageMaxBlockSize)
        return "block size " + std::to_string(layout.BlockSize) + " is above " +
               std::to_string(kPackageMaxBlockSize) + " and cannot be sent in one frame";
    const size_t expectedArea = size_t(layout.BlockSize) * layout.BlockCount;
    const size_t area = layout.BlockArea ? layout.BlockArea->size() : expectedArea;
    if (area != expectedArea)
        return "block area has " + std::to_string(area) + " bytes, the header says " +
               std::to_string(expectedArea);
    const size_t total = area + 113;
    if (total > size_t(kPackageMaxFileSize))
        return "package would take " + std::to_string(total) + " bytes; at most " +
               std::to_string(kPackageMaxFileSize) + " are allowed";
    if (layout.ChecksumStyle != PackageLayout::Checksum::Correct)
        return "checksum deliberately wrong";
    if (layout.TruncateTo && *layout.TruncateTo < total) return "file deliberately cut short";
    std::array<uint8_t, 64> info;
    std::string error;
    if (!StoredInfo(layout, info, &error)) return error;
    return {};
}
