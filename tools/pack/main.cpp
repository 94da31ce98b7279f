// tolvane-pack: wraps a binary block area into a ".enc2" firmware package.
#include "Version.h"
#include "base/FileAccess.h"
#include "package/FirmwarePackage.h"
#include "package/Md5.h"
#include "package/PackageWriter.h"
#include "tools/cli/UnknownOption.h"
#include "tools/pack/SignCommands.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr int kExitInvalid = 1; // the input cannot become a valid package
constexpr int kExitUsage = 2;   // bad command line or file trouble

const char kDescription[] =
    "Wraps the binary block area INPUT into the firmware package OUTPUT (\".enc2\").\n"
    "Signing: tolvane-pack keygen PRIVATE.pem PUBLIC.pem, tolvane-pack sign --key PRIVATE.pem\n"
    "PACKAGE (writes PACKAGE.sig), tolvane-pack verify --key PUBLIC.pem PACKAGE.\n";

const char kFooter[] =
    "Numbers take decimal or 0x-prefixed hex. Exit status: 0 written, 1 the input cannot make\n"
    "a valid package (nothing written), 2 usage or file error.";

// Option names without the default a flag takes ("--pad", not "--pad{FF}"), operands without
// their type.
class PackFormatter : public CLI::Formatter {
  public:
    std::string make_option_name(const CLI::Option* option, bool operand) const override {
        const std::string name = CLI::Formatter::make_option_name(option, operand);
        return name.substr(0, name.find('{'));
    }
    std::string make_option_opts(const CLI::Option* option) const override {
        return option->get_positional() ? "" : CLI::Formatter::make_option_opts(option);
    }
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Two hex digits as one byte.
bool ParseHexByte(const std::string& text, uint8_t& out) {
    if (text.size() != 2 || HexDigit(text[0]) < 0 || HexDigit(text[1]) < 0) return false;
    out = uint8_t(HexDigit(text[0]) * 16 + HexDigit(text[1]));
    return true;
}

// --pad=HEX: one or two hex digits.
bool ParsePadByte(const std::string& text, uint8_t& out) {
    return ParseHexByte(text.size() == 1 ? "0" + text : text, out);
}

// 8 hex digits (0x in front allowed), the 4 bytes in file order.
bool ParseFourBytes(const std::string& text, std::array<uint8_t, 4>& out) {
    std::string digits = text;
    if (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0) digits = digits.substr(2);
    std::array<uint8_t, 4> bytes;
    if (digits.size() != 8) return false;
    for (size_t i = 0; i < 4; ++i)
        if (!ParseHexByte(digits.substr(2 * i, 2), bytes[i])) return false;
    out = bytes;
    return true;
}

int Usage(const std::string& problem) {
    std::fprintf(stderr, "tolvane-pack: %s\nRun \"tolvane-pack --help\" for the options.\n",
                 problem.c_str());
    return kExitUsage;
}

int FileError(const std::string& problem) {
    std::fprintf(stderr, "tolvane-pack: %s\n", problem.c_str());
    return kExitUsage;
}

int Refuse(const std::string& problem) {
    std::fprintf(stderr, "tolvane-pack: cannot make a valid package: %s\n", problem.c_str());
    return kExitInvalid;
}

// The command line as given; checked by CLI11 as it is read.
struct PackOptions {
    unsigned Kind = kPackageKindK46;
    unsigned long BlockSize = 1024;
    std::string End1, End2, Info;
    std::string Pad; // empty: no padding
    std::string Input, Output;
    std::string SignKey; // empty: no signature
};

void DefineOptions(CLI::App& app, PackOptions& out) {
    app.footer(kFooter);
    app.allow_windows_style_options(false); // "/x.bin" is a file
    app.formatter(std::make_shared<PackFormatter>());
    app.get_formatter()->column_width(20);
    app.set_help_flag("-h,--help", "this text");
    app.set_version_flag("--version", "tolvane-pack " TOLVANE_VERSION, "the program's version");
    app.add_option("--kind", out.Kind,
                   "package kind (default 16, the K46 line; 0 makes a package\n"
                   "the tool lists but will not send)")
        ->check(CLI::Range(0, 255))
        ->type_name("N")
        ->option_text("N");
    app.add_option("--block-size", out.BlockSize,
                   "bytes per block: a multiple of 8, at most 4083 (default 1024)")
        ->check(CLI::Range(0, 65535))
        ->type_name("N")
        ->option_text("N");
    const auto fourBytes = [](const std::string& text) {
        std::array<uint8_t, 4> unused;
        return ParseFourBytes(text, unused) ? std::string()
                                            : "needs 8 hex digits, e.g. 0A1B2C3D: " + text;
    };
    app.add_option("--end1", out.End1,
                   "the 4 bytes of the first end parameter, 8 hex digits in file order\n"
                   "(default 00000000)")
        ->check(CLI::Validator(fourBytes, ""))
        ->type_name("HEX")
        ->option_text("HEX");
    app.add_option("--end2", out.End2, "the same for the second end parameter")
        ->check(CLI::Validator(fourBytes, ""))
        ->type_name("HEX")
        ->option_text("HEX");
    app.add_option("--info", out.Info,
                   "information text (UTF-8 here, stored as GBK, at most 64 bytes)")
        ->type_name("TEXT")
        ->option_text("TEXT");
    app.add_flag("--pad{FF}", out.Pad,
                 "fill a short last block with this byte (default FF) instead of\n"
                 "refusing an input that is not a whole number of blocks")
        ->check(CLI::Validator(
            [](const std::string& text) {
                uint8_t unused;
                return ParsePadByte(text, unused) ? std::string()
                                                  : "needs one byte in hex, e.g. --pad=00: " + text;
            },
            ""))
        ->option_text("[=HEX]");
    app.add_option("--sign", out.SignKey,
                   "also sign the package with this private key (PEM) into\n"
                   "OUTPUT.sig")
        ->type_name("KEY.pem")
        ->option_text("KEY.pem");
    app.add_option("INPUT", out.Input, "the blocks, one after another")->required();
    app.add_option("OUTPUT", out.Output, "the package to write")->required();
}

// The block area checked against the block size and padded when asked; a refusal's text, or
// empty.
std::string ShapeArea(std::vector<uint8_t>& area, unsigned long blockSize, const PackOptions& o) {
    // Checked before the padding so a silly block size gets its own message.
    if (blockSize % 8 != 0)
        return "block size " + std::to_string(blockSize) + " is not a multiple of 8";
    if (blockSize > unsigned(kPackageMaxBlockSize))
        return "block size " + std::to_string(blockSize) + " is above " +
               std::to_string(kPackageMaxBlockSize) + ", too large for one frame";
    if (blockSize == 0 && !area.empty()) return "block size 0 can only wrap an empty input";
    if (blockSize != 0 && area.size() % blockSize != 0) {
        if (o.Pad.empty())
            return "input has " + std::to_string(area.size()) + " bytes, not a whole number of " +
                   std::to_string(blockSize) + "-byte blocks (use --pad to fill the last block)";
        uint8_t padByte = 0xFF;
        ParsePadByte(o.Pad, padByte);
        area.resize(area.size() + blockSize - area.size() % blockSize, padByte);
    }
    if (area.size() + 113 > size_t(kPackageMaxFileSize))
        return "package would take " + std::to_string(area.size() + 113) + " bytes; at most " +
               std::to_string(kPackageMaxFileSize) +
               " are allowed (block area at most 65422 bytes)";
    return {};
}

// The parsed command line, or an exit status to end with.
bool ParseArguments(int argc, char** argv, CLI::App& app, int& status) {
    std::vector<std::string> args = Utf8Arguments(argc, argv);
    if (!args.empty()) args.erase(args.begin()); // the program's name
    if (!args.empty() && pack::IsSignCommand(args.front())) return pack::RunSignCommand(args);
    std::reverse(args.begin(), args.end());      // CLI11 takes them last first
    try {
        app.parse(args);
    } catch (const CLI::Success& e) {
        status = app.exit(e);
        return false;
    } catch (const CLI::ParseError& e) {
        status = Usage(cli::RefusalMessage(app, e));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app(kDescription, "tolvane-pack");
    PackOptions options;
    DefineOptions(app, options);
    if (int status = 0; !ParseArguments(argc, argv, app, status)) return status;
    PackageLayout layout;
    layout.Kind = uint8_t(options.Kind);
    layout.InfoText = options.Info;
    if (!options.End1.empty()) ParseFourBytes(options.End1, layout.EndParam1);
    if (!options.End2.empty()) ParseFourBytes(options.End2, layout.EndParam2);
    const unsigned long blockSize = options.BlockSize;
    const std::vector<std::string> files = {options.Input, options.Output};

    std::ifstream in(PathFromUtf8(files[0]), std::ios::binary);
    if (!in) return FileError("cannot read " + files[0] + ": " + std::strerror(errno));
    std::vector<uint8_t> area((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    if (in.bad()) return FileError("cannot read " + files[0]);
    if (const std::string problem = ShapeArea(area, blockSize, options); !problem.empty())
        return Refuse(problem);
    const size_t blockCount = blockSize == 0 ? 0 : area.size() / blockSize;

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
        if (!out.flush()) return FileError("cannot write " + files[1]);
    }
    // Signed from the bytes in memory: the signature is of exactly what was written.
    if (std::string problem;
        !options.SignKey.empty() && !pack::WriteSignature(options.SignKey, files[1], file, problem))
        return FileError(problem);
    const uint8_t* stored = &file[file.size() - 4];
    std::printf("%s: kind %u, %zu blocks of %lu bytes, %zu bytes, CRC-32 %02X%02X%02X%02X, "
                "MD5 %s\n",
                files[1].c_str(), unsigned(layout.Kind), blockCount, blockSize, file.size(),
                stored[3], stored[2], stored[1], stored[0], FileMd5Hex(files[1]).c_str());
    return 0;
}
