#include "package/Crc32.h"
#include "package/PackageWriter.h"

#include <gtest/gtest.h>

namespace {

TEST(PackageWriter, LayoutOfAWellFormedFile) {
    PackageSpec spec;
    spec.Filler.fill(0x77);
    spec.Kind = 0x10;
    spec.BlockSize = 0x0108;
    spec.BlockCount = 0x0002;
    spec.EndParam1 = {1, 2, 3, 4};
    spec.EndParam2 = {5, 6, 7, 8};
    spec.InfoText = "版本";
    const std::vector<uint8_t> f = BuildPackage(spec);
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
    EXPECT_EQ(PackageSpecProblem(spec), "");
}

TEST(PackageWriter, InfoTextThatCannotBeStored) {
    PackageSpec spec;
    std::string error;
    spec.InfoText = std::string(65, 'a');
    EXPECT_TRUE(BuildPackage(spec, &error).empty());
    EXPECT_NE(error.find("64"), std::string::npos);
    spec.InfoText = std::string(64, 'a'); // fills the field, no NUL needed
    EXPECT_EQ(BuildPackage(spec).size(), 113u);
    spec.InfoText = "\xF0\x9F\x98\x80"; // an emoji has no GBK form
    EXPECT_TRUE(BuildPackage(spec, &error).empty());
    EXPECT_FALSE(PackageSpecProblem(spec).empty());
    spec.InfoText.assign(1, char(0xC3)); // cut-off UTF-8
    EXPECT_TRUE(BuildPackage(spec).empty());
}

} // namespace
