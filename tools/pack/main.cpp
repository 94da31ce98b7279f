// tolvane-pack: wraps a binary block area into a ".enc2" firmware package.
#include "Version.h"
#include "package/FileAccess.h"
#include "package/FirmwarePackage.h"
#include "package/Md5.h"
#include "package/PackageWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr int kExitInvalid = 1; // the input cannot become a valid package
constexpr int kExitUsage = 2;   // bad command line or file trouble

const char kUsage[] =
    "Usage: tolvane-pack [options] INPUT OUTPUT\n"
    "Wraps the binary block area INPUT into the firmware package OUTPUT (\".enc2\").\n"
    "\n"
    "  --kind N          package kind, 0..255 (default 16, the K46 line; 0 makes a package\n"
    "                    the tool lists but will not send)\n"
    "  --block-size N    bytes per block: a multiple of 8, at most 4083 (default 1024)\n"
    "  --end1 HEX        the 4 bytes of the first end parameter, 8 hex digits in file order\n"
    "                    (default 00000000)\n"
    "  --end2 HEX        the same for the second end parameter\n"
    "  --info TEXT       information text (UTF-8 here, stored as GBK, at most 64 bytes)\n"
    "  --pad[=HEX]       fill a short last block with this byte (default FF) instead of\n"
    "                    refusing an input that is not a whole number of blocks\n"
    "  -h, --help        this text\n"
    "  --version         the program's version\n"
    "\n"
    "Numbers take decimal or 0x-prefixed hex. Exit status: 0 written, 1 the input cannot make\n"
    "a valid package (nothing written), 2 usage or file error.\n";

bool ParseNumber(const std::string& text, unsigned long max, unsigned long& out) {
    if (text.empty() || text[0] == '-' || text[0] == '+') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value > max) return false;
    out = value;
    return true;
}

bool ParseFourBytes(const std::string& text, std::array<uint8_t, 4>& out) {
    std::string digits = text;
    if (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0) digits = digits.substr(2);
    if (digits.size() != 8) return false;
    for (size_t i = 0; i < 4; ++i) {
        unsigned long byte;
        const std::string pair = digits.substr(2 * i, 2);
        if (pair.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos ||
            !ParseNumber("0x" + pair, 0xFF, byte))
            return false;
        out[i] = uint8_t(byte);
    }
    return true;
}

int Usage(const std::string& problem) {
    std::fprintf(stderr, "tolvane-pack: %s\n\n%s", problem.c_str(), kUsage);
    return kExitUsage;
}

int Refuse(const std::string& problem) {
    std::fprintf(stderr, "tolvane-pack: cannot make a valid package: %s\n", problem.c_str());
    return kExitInvalid;
}

} // namespace

int main(int argc, char** argv) {
    PackageLayout layout;
    layout.Kind = kPackageKindK46;
    unsigned long blockSize = 1024;
    bool pad = false;
    uint8_t padByte = 0xFF;
    std::vector<std::string> files;

    const std::vector<std::string> args = Utf8Arguments(argc, argv);
    const size_t count = args.size();
    for (size_t i = 1; i < count; ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= count) return false;
            out = args[++i];
            return true;
        };
        std::string v;
        unsigned long number;
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--version") {
            std::puts("tolvane-pack " TOLVANE_VERSION);
            return 0;
        } else if (arg == "--kind") {
            if (!value(v) || !ParseNumber(v, 255, number))
                return Usage("--kind needs a number from 0 to 255");
            layout.Kind = uint8_t(number);
        } else if (arg == "--block-size") {
            if (!value(v) || !ParseNumber(v, 65535, number))
                return Usage("--block-size needs a number from 0 to 65535");
            blockSize = number;
        } else if (arg == "--end1" || arg == "--end2") {
            if (!value(v) ||
                !ParseFourBytes(v, arg == "--end1" ? layout.EndParam1 : layout.EndParam2))
                return Usage(arg + " needs 8 hex digits, e.g. 0A1B2C3D");
        } else if (arg == "--info") {
            if (!value(v)) return Usage("--info needs a text");
            layout.InfoText = v;
        } else if (arg == "--pad") {
            pad = true;
        } else if (arg.rfind("--pad=", 0) == 0) {
            if (!ParseNumber("0x" + arg.substr(6), 0xFF, number) || arg.size() < 7 ||
                arg.size() > 8)
                return Usage("--pad=HEX needs one byte in hex, e.g. --pad=00");
            pad = true;
            padByte = uint8_t(number);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage("unknown option " + arg);
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 2) return Usage("give exactly one INPUT and one OUTPUT file");

    std::ifstream in(PathFromUtf8(files[0]), std::ios::binary);
    if (!in) return Usage("cannot read " + files[0] + ": " + std::strerror(errno));
    std::vector<uint8_t> area((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    if (in.bad()) return Usage("cannot read " + files[0]);

    // Checked before the padding so a silly block size gets its own message.
    if (blockSize % 8 != 0)
        return Refuse("block size " + std::to_string(blockSize) + " is not a multiple of 8");
    if (blockSize > unsigned(kPackageMaxBlockSize))
        return Refuse("block size " + std::to_string(blockSize) + " is above " +
                      std::to_string(kPackageMaxBlockSize) + ", too large for one frame");
    if (blockSize == 0 && !area.empty()) return Refuse("block size 0 can only wrap an empty input");
    if (blockSize != 0 && area.size() % blockSize != 0) {
        if (!pad)
            return Refuse("input has " + std::to_string(area.size()) +
                          " bytes, not a whole number of " + std::to_string(blockSize) +
                          "-byte blocks (use --pad to fill the last block)");
        area.resize(area.size() + blockSize - area.size() % blockSize, padByte);
    }
    const size_t blockCount = blockSize == 0 ? 0 : area.size() / blockSize;
    if (area.size() + 113 > size_t(kPackageMaxFileSize))
        return Refuse("package would take " + std::to_string(area.size() + 113) +
                      " bytes; at most " + std::to_string(kPackageMaxFileSize) +
                      " are allowed (block area at most 65422 bytes)");

    layout.BlockSize = uint16_t(blockSize);
    layout.BlockCount = uint16_t(blockCount);
    layout.BlockArea = std::move(area);
    const std::string problem = PackageLayoutProblem(layout);
    if (!problem.empty()) return Refuse(problem);
    std::string error;
    const std::vector<uint8_t> file = BuildPackage(layout, &error);
    if (file.empty()) return Refuse(error);

    {
        std::ofstream out(PathFromUtf8(files[1]), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
        if (!out.flush()) return Usage("cannot write " + files[1]);
    }
    const uint8_t* stored = &file[file.size() - 4];
    std::printf("%s: kind %u, %zu blocks of %lu bytes, %zu bytes, CRC-32 %02X%02X%02X%02X, "
                "MD5 %s\n",
                files[1].c_str(), unsigned(layout.Kind), blockCount, blockSize, file.size(),
                stored[3], stored[2], stored[1], stored[0], FileMd5Hex(files[1]).c_str());
    return 0;
}
