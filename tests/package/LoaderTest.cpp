#include "app/PackageView.h"
#include "package/FirmwarePackage.h"
#include "package/Md5.h"
#include "package/PackageWriter.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr const char* kDigestLine = "<digest>"; // stands for "文件MD5:" + the file's digest

PackageLayout Layout(uint8_t kind, uint16_t blockSize, uint16_t blockCount) {
    PackageLayout layout;
    layout.Kind = kind;
    layout.BlockSize = blockSize;
    layout.BlockCount = blockCount;
    return layout;
}

PackageLayout WithArea(PackageLayout layout, size_t areaBytes) {
    layout.BlockArea = std::vector<uint8_t>(areaBytes, 0x5A);
    return layout;
}

struct LoadCase {
    const char* name;
    std::function<PackageLayout()> make;
    size_t fileSize; // checked, so each case really has the size it is about
    PackageLoadOutcome outcome;
    uint8_t kindAfter;
    std::vector<std::string> memo; // empty with !replaceMemo means "memo untouched"
};

std::vector<LoadCase> Cases() {
    using O = PackageLoadOutcome;
    return {
        {"108 bytes",
         [] {
             auto s = Layout(16, 8, 0);
             s.TruncateTo = 108;
             return s;
         },
         108,
         O::SizeError,
         0,
         {}},
        {"109 bytes",
         [] {
             auto s = Layout(16, 8, 0);
             s.TruncateTo = 109;
             return s;
         },
         109,
         O::FormatError,
         0,
         {"升级文件格式错误！"}},
        {"112 bytes",
         [] {
             auto s = Layout(16, 8, 0);
             s.TruncateTo = 112;
             return s;
         },
         112,
         O::FormatError,
         0,
         {"升级文件格式错误！"}},
        {"113 bytes, no blocks",
         [] { return Layout(16, 8, 0); },
         113,
         O::Loaded,
         16,
         {"K46方案Modem升级", kDigestLine}},
        {"65529 bytes",
         [] { return Layout(16, 8, 8177); },
         65529,
         O::Loaded,
         16,
         {"K46方案Modem升级", kDigestLine}},
        {"65535 bytes",
         [] { return WithArea(Layout(16, 8, 8177), 65422); },
         65535,
         O::FormatError,
         0,
         {"升级文件格式错误！"}},
        {"65536 bytes",
         [] { return WithArea(Layout(16, 8, 8177), 65423); },
         65536,
         O::TooLarge,
         0,
         {}},
        {"block size 12 with matching size",
         [] { return Layout(16, 12, 2); },
         137,
         O::FormatError,
         0,
         {"升级文件格式错误！"}},
        {"block size 4088 cannot be framed",
         [] { return Layout(16, 4088, 1); },
         4201,
         O::FormatError,
         0,
         {"升级文件格式错误！"}},
        {"block size 4080 is the largest framed",
         [] { return Layout(16, 4080, 2); },
         8273,
         O::Loaded,
         16,
         {"K46方案Modem升级", kDigestLine}},
        {"count does not match size",
         [] { return WithArea(Layout(16, 8, 3), 16); },
         129,
         O::FormatError,
         0,
         {"升级文件格式错误！"}},
        {"checksum most significant byte first",
         [] {
             auto s = Layout(16, 16, 4);
             s.ChecksumStyle = PackageLayout::Checksum::MostSignificantFirst;
             return s;
         },
         177,
         O::ChecksumError,
         0,
         {"升级文件校验错误！"}},
        {"checksum wrong",
         [] {
             auto s = Layout(17, 16, 4);
             s.ChecksumStyle = PackageLayout::Checksum::Wrong;
             return s;
         },
         177,
         O::ChecksumError,
         0,
         {"升级文件校验错误！"}},
        {"kind 17 has no product line",
         [] { return Layout(17, 256, 3); },
         881,
         O::Loaded,
         17,
         {kDigestLine}},
        {"kind 0 loads but stays unusable",
         [] { return Layout(0, 256, 3); },
         881,
         O::Loaded,
         0,
         {kDigestLine}},
        {"GBK information text",
         [] {
             auto s = Layout(16, 8, 1);
             s.InfoText = "中文版本V1.0";
             return s;
         },
         121,
         O::Loaded,
         16,
         {"K46方案Modem升级", kDigestLine, "升级文件信息:中文版本V1.0"}},
        {"information text without NUL shows all 64 bytes",
         [] {
             auto s = Layout(17, 8, 1);
             std::array<uint8_t, 64> raw;
             raw.fill('A');
             raw[63] = 'Z';
             s.InfoRaw = raw;
             return s;
         },
         121,
         O::Loaded,
         17,
         {kDigestLine, "升级文件信息:" + std::string(63, 'A') + "Z"}},
        {"undecodable bytes are replaced, the rest kept",
         [] {
             auto s = Layout(17, 8, 1);
             std::array<uint8_t, 64> raw{};
             const uint8_t text[] = {'v', '1', 0xFF, '2', 0xD6}; // 0xFF invalid, 0xD6 cut off
             std::copy(std::begin(text), std::end(text), raw.begin());
             s.InfoRaw = raw;
             return s;
         },
         121,
         O::Loaded,
         17,
         {kDigestLine, "升级文件信息:v1\xEF\xBF\xBD"
                       "2\xEF\xBF\xBD"}},
        {"empty information text after bytes behind the NUL",
         [] {
             auto s = Layout(17, 8, 1);
             std::array<uint8_t, 64> raw{};
             raw[1] = 'x';
             s.InfoRaw = raw;
             return s;
         },
         121,
         O::Loaded,
         17,
         {kDigestLine}},
    };
}

class LoaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        package_ = std::make_unique<FirmwarePackageData>();
        std::memset(package_.get(), 0, sizeof *package_);
    }
    // A kind-16 package loaded before, so every case also shows Kind being cleared.
    void LoadPrevious() {
        const std::string path = dir_.Write("previous.enc2", BuildPackage(Layout(16, 8, 2)));
        ASSERT_EQ(LoadPackage(path, *package_).Outcome, PackageLoadOutcome::Loaded);
        ASSERT_EQ(package_->Kind(), 16);
    }
    TempDir dir_;
    std::unique_ptr<FirmwarePackageData> package_;
};

TEST_F(LoaderTest, Table) {
    for (const LoadCase& c : Cases()) {
        SCOPED_TRACE(c.name);
        LoadPrevious();
        const PackageLayout layout = c.make();
        const std::vector<uint8_t> bytes = BuildPackage(layout);
        ASSERT_EQ(bytes.size(), c.fileSize);
        const std::string path = dir_.Write("case.enc2", bytes);

        const PackageView r = ViewOfPackage(LoadPackage(path, *package_));
        EXPECT_EQ(r.Outcome, c.outcome);
        EXPECT_EQ(package_->Kind(), c.kindAfter);

        const bool sizeFailure =
            c.outcome == PackageLoadOutcome::TooLarge || c.outcome == PackageLoadOutcome::SizeError;
        EXPECT_EQ(r.ClearPath, sizeFailure);
        EXPECT_EQ(r.ReplaceMemo, !sizeFailure);
        EXPECT_EQ(r.MessageBoxText, c.outcome == PackageLoadOutcome::TooLarge ? "文件大小超过限制！"
                                    : sizeFailure ? "文件大小错误！"
                                                  : "");
        std::vector<std::string> expected = c.memo;
        for (std::string& line : expected)
            if (line == kDigestLine) {
                std::string digest = FileMd5Hex(path);
                std::transform(digest.begin(), digest.end(), digest.begin(), ::toupper);
                ASSERT_EQ(digest.size(), 32u);
                line = "文件MD5:" + digest;
            }
        EXPECT_EQ(r.MemoLines, expected);

        if (c.outcome == PackageLoadOutcome::Loaded) {
            const size_t area = size_t(layout.BlockSize) * layout.BlockCount;
            EXPECT_EQ(package_->BlockSize(), layout.BlockSize);
            EXPECT_EQ(package_->BlockCount(), layout.BlockCount);
            EXPECT_TRUE(std::equal(bytes.begin() + 109, bytes.begin() + 109 + long(area),
                                   package_->BlockData));
        }
    }
}

TEST_F(LoaderTest, UnopenablePathsAreSizeErrors) {
#ifdef _WIN32
    std::vector<std::string> paths = {dir_.File("missing.enc2"), dir_.path(), "NUL", ""};
#else
    std::vector<std::string> paths = {dir_.File("missing.enc2"), dir_.path(), "/dev/null", ""};
    if (::geteuid() != 0) { // root reads regardless of permissions
        const std::string locked = dir_.Write("locked.enc2", BuildPackage(Layout(16, 8, 1)));
        ::chmod(locked.c_str(), 0);
        paths.push_back(locked);
    }
#endif
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        LoadPrevious();
        const PackageView r = ViewOfPackage(LoadPackage(path, *package_));
        EXPECT_EQ(r.Outcome, PackageLoadOutcome::SizeError);
        EXPECT_EQ(r.MessageBoxText, "文件大小错误！");
        EXPECT_TRUE(r.ClearPath);
        EXPECT_FALSE(r.ReplaceMemo);
        EXPECT_EQ(package_->Kind(), 0);
    }
}

// Paths are UTF-8 everywhere, also where the platform's narrow encoding is another one.
TEST_F(LoaderTest, PathWithChineseNameLoads) {
    const std::string path = dir_.Write("固件 升级.enc2", BuildPackage(Layout(16, 8, 2)));
    EXPECT_EQ(LoadPackage(path, *package_).Outcome, PackageLoadOutcome::Loaded);
    EXPECT_EQ(FileMd5Hex(path).size(), 32u);
}

TEST_F(LoaderTest, FailedLoadKeepsEarlierBlocksButClearsKind) {
    LoadPrevious();
    const uint8_t firstBlockByte = package_->BlockData[0];
    PackageLayout broken = Layout(16, 8, 4);
    broken.ChecksumStyle = PackageLayout::Checksum::Wrong;
    broken.BlockArea = std::vector<uint8_t>(32, 0xEE);
    LoadPackage(dir_.Write("broken.enc2", BuildPackage(broken)), *package_);
    EXPECT_EQ(package_->Kind(), 0);
    EXPECT_EQ(package_->BlockData[0], firstBlockByte); // blocks copied only after every check
}

} // namespace
