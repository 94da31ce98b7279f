#include "package/Crc32.h"
#include "package/PackageWriter.h"

#include <gtest/gtest.h>

namespace {

TEST(PackageWriter, LayoutOfAWellFormedFile) {
    PackageLayout layout;
    layout.Filler.fill(0x77);
    layout.Kind = 0x10;
    layout.BlockSize = 0x0108;
    layout.BlockCount = 0x0002;
    layout.EndParam1 = {1, 2, 3, 4};
    layout.EndParam2 = {5, 6, 7, 8};
    layout.InfoText = "版本";
    const std::vector<uint8_t> f = BuildPackage(layout);
    ASSERT_EQ(f.size(), 113u + 0x108 * 2);
    EXPECT_EQ(f[31], 0x77);
    EXPECT_EQ(f[32], 0x10);
    EXPECT_EQ(f[33], 0x08);
    EXPECT_EQ(f[34], 0x01);
    EXPECT_EQ(f[35], 0x02);
    EXPECT_EQ(f[36], 0x00);
    EXPECT_EQ(f[37], 1);
    EXPECT_EQ(f[44], 8);
    // "版本" in GBK is B0 E6 B1 BE, then NULs.
    EXPECT_EQ(f[45], 0xB0);
    EXPECT_EQ(f[48], 0xBE);
    EXPECT_EQ(f[49], 0);
    EXPECT_EQ(f[109], PackagePatternByte(0));
    EXPECT_EQ(f[109 + 300], PackagePatternByte(300));
    const uint32_t crc = Crc32(f.data(), int32_t(f.size() - 4));
    EXPECT_EQ(f[f.size() - 4], uint8_t(crc));
    EXPECT_EQ(f[f.size() - 1], uint8_t(crc >> 24));
    EXPECT_EQ(PackageLayoutProblem(layout), "");
}

TEST(PackageWriter, InfoTextThatCannotBeStored) {
    PackageLayout layout;
    std::string error;
    layout.InfoText = std::string(65, 'a');
    EXPECT_TRUE(BuildPackage(layout, &error).empty());
    EXPECT_NE(error.find("64"), std::string::npos);
    layout.InfoText = std::string(64, 'a'); // fills the field, no NUL needed
    EXPECT_EQ(BuildPackage(layout).size(), 113u);
    layout.InfoText = "\xF0\x9F\x98\x80"; // an emoji has no GBK form
    EXPECT_TRUE(BuildPackage(layout, &error).empty());
    EXPECT_FALSE(PackageLayoutProblem(layout).empty());
    layout.InfoText.assign(1, char(0xC3)); // cut-off UTF-8
    EXPECT_TRUE(BuildPackage(layout).empty());
}

} // namespace
