#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Describes a package file to build. By default the result is well formed; the options marked
// "malformed" exist to build deliberately broken files for tests.
struct PackageLayout {
    std::array<uint8_t, 32> Filler{}; // the first 32 bytes, which the loader does not interpret
    uint8_t Kind = 16;
    uint16_t BlockSize = 8;  // written as is, even when not a multiple of 8
    uint16_t BlockCount = 0; // written as is
    // The block area written after the header. When absent, BlockSize x BlockCount bytes of a
    // fixed pattern are made up. A length that does not match the header makes a malformed file.
    std::optional<std::vector<uint8_t>> BlockArea;
    std::array<uint8_t, 4> EndParam1{};
    std::array<uint8_t, 4> EndParam2{};
    // Information text in UTF-8, stored as GBK and padded with NULs (64 bytes at most, a NUL is
    // then not needed).
    std::string InfoText;
    // When present, the 64 bytes stored as the information text, as they are (overrides InfoText).
    std::optional<std::array<uint8_t, 64>> InfoRaw;

    enum class Checksum { Correct, MostSignificantFirst, Wrong };
    Checksum ChecksumStyle = Checksum::Correct; // malformed unless Correct
    std::optional<size_t> TruncateTo;           // malformed: cut the finished file to this size
};

// The pattern used for made-up block areas: byte i of the area.
uint8_t PackagePatternByte(size_t index);

// Builds the file bytes. Returns an empty vector (and the reason in *error) when the
// information text cannot be stored: not GBK-encodable, or longer than 64 GBK bytes.
std::vector<uint8_t> BuildPackage(const PackageLayout& layout, std::string* error = nullptr);

// Why the layout would not make a package the loader accepts (malformed options included);
// empty when it would.
std::string PackageLayoutProblem(const PackageLayout& layout);
