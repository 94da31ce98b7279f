#include "tests/support/dialogue/FakeDialogue.h"

#include <cstring>

namespace tolvane::test {

void FillPackage(FirmwarePackageData& package, uint8_t kind, uint16_t blockSize,
                 uint16_t blockCount) {
    std::memset(package.Header, 0, sizeof package.Header);
    package.Header[32] = kind;
    package.Header[33] = uint8_t(blockSize);
    package.Header[34] = uint8_t(blockSize >> 8);
    package.Header[35] = uint8_t(blockCount);
    package.Header[36] = uint8_t(blockCount >> 8);
    const uint8_t end1[4] = {0x11, 0x12, 0x13, 0x14};
    const uint8_t end2[4] = {0x21, 0x22, 0x23, 0x24};
    std::memcpy(package.Header + 37, end1, 4);
    std::memcpy(package.Header + 41, end2, 4);
    for (size_t i = 0; i < sizeof package.BlockData; ++i)
        package.BlockData[i] = uint8_t(i * 7 + i / 251);
}

FakeDialogue::FakeDialogue()
    : Package(std::make_unique<FirmwarePackageData>()),
      Talk(DialogueSeams{&Port, &Timer, &Wait, &Modes, &View, Package.get()}) {
    std::memset(Package.get(), 0, sizeof *Package);
    Wait.Bind(Talk);
}

} // namespace tolvane::test
