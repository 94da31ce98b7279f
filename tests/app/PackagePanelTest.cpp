// Choosing a package with "选择": what the window shows for each outcome.
#include "WindowFixture.h"

#include <QFile>
#include <filesystem>

#include "package/FirmwarePackage.h"
#include "package/PackageWriter.h"

namespace {

class PackagePanelTest : public WindowTest {
  protected:
    QString Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return QString::fromStdString(path);
    }
    void Choose(const QString& path) {
        openFileAnswer = path;
        Q(form->RzButton1)->click();
    }
    QStringList MemoLines() const {
        const QString text = Q(form->RzMemo1)->toPlainText();
        return text.isEmpty() ? QStringList() : text.split(u'\n');
    }
};

TEST_F(PackagePanelTest, ALoadedPackageIsDescribedAndKeptUntilTheNextChoice) {
    Create();
    PackageLayout layout;
    layout.Kind = 16;
    layout.BlockSize = 16;
    layout.BlockCount = 3;
    layout.InfoText = "测试版 V1";
    const QString path = Write("good.enc2", BuildPackage(layout));
    Choose(path);
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(Q(form->RzEdit1)->text(), path);
    EXPECT_EQ(Q(form->RzStatusPane3)->text(), QStringLiteral("选取文件：") + path);
    const QStringList lines = MemoLines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], QStringLiteral("K46方案Modem升级"));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("文件MD5:")));
    EXPECT_EQ(lines[1].size(), 6 + 32);
    EXPECT_EQ(lines[1], lines[1].toUpper());
    EXPECT_EQ(lines[2], QStringLiteral("升级文件信息:测试版 V1"));
    EXPECT_EQ(FirmwarePackage.Kind(), 16);
    EXPECT_EQ(FirmwarePackage.BlockCount(), 3);

    // Cancelling changes nothing, not even the package; hand-typed paths are not loaded.
    Q(form->RzEdit1)->setText(QStringLiteral("typed"));
    Choose(QString());
    EXPECT_EQ(Q(form->RzEdit1)->text(), QStringLiteral("typed"));
    EXPECT_EQ(MemoLines(), lines);
    EXPECT_EQ(FirmwarePackage.Kind(), 16);
}

TEST_F(PackagePanelTest, FailuresShowTheirMessageAndLeaveNoValidPackage) {
    Create();
    PackageLayout good;
    good.Kind = 17;
    const std::vector<uint8_t> goodBytes = BuildPackage(good);
    PackageLayout badCrc = good;
    badCrc.ChecksumStyle = PackageLayout::Checksum::MostSignificantFirst;
    badCrc.BlockCount = 2;
    PackageLayout badSize = good;
    badSize.BlockSize = 12;
    badSize.BlockCount = 1;

    const struct {
        const char* name;
        std::vector<uint8_t> bytes; // empty: the file does not exist
        const char* message;        // message box, or null
        const char* memo;           // the memo's only line, or null when it is left as it was
    } cases[] = {
        {"small.enc2", std::vector<uint8_t>(108, 1), "文件大小错误！", nullptr},
        {"huge.enc2", std::vector<uint8_t>(65536, 1), "文件大小超过限制！", nullptr},
        {"missing.enc2", {}, "文件大小错误！", nullptr},
        {"short.enc2", std::vector<uint8_t>(110, 0), nullptr, "升级文件格式错误！"},
        {"block12.enc2", BuildPackage(badSize), nullptr, "升级文件格式错误！"},
        {"crc.enc2", BuildPackage(badCrc), nullptr, "升级文件校验错误！"},
    };
    for (const auto& c : cases) {
        // Start from a loaded package with its memo lines.
        Choose(Write("good.enc2", goodBytes));
        ASSERT_EQ(FirmwarePackage.Kind(), 17);
        const QStringList before = MemoLines();
        ASSERT_EQ(before.size(), 1);
        messages.clear();

        const QString path =
            c.bytes.empty() ? QString::fromStdString(dir + "/" + c.name) : Write(c.name, c.bytes);
        Choose(path);
        EXPECT_EQ(FirmwarePackage.Kind(), 0) << c.name;
        EXPECT_EQ(Q(form->RzStatusPane3)->text(), QStringLiteral("选取文件：") + path) << c.name;
        if (c.message) {
            EXPECT_EQ(messages, QStringList{QString::fromUtf8(c.message)}) << c.name;
            EXPECT_TRUE(Q(form->RzEdit1)->text().isEmpty()) << c.name;
            EXPECT_EQ(MemoLines(), before) << c.name;
        } else {
            EXPECT_TRUE(messages.isEmpty()) << c.name;
            EXPECT_EQ(Q(form->RzEdit1)->text(), path) << c.name;
            EXPECT_EQ(MemoLines(), QStringList{QString::fromUtf8(c.memo)}) << c.name;
        }
    }
}

// With a key in trusted-keys beside Config.ini: a signed package gets the signer's line; one
// without a trusted signature is refused, loads nothing and the upgrade will not start.
TEST_F(PackagePanelTest, TrustedKeysAddTheSignerOrRefuseThePackage) {
    const std::filesystem::path fixtures = TOLVANE_SIGNING_FIXTURES;
    std::filesystem::create_directories(dir + "/trusted-keys");
    std::filesystem::copy_file(fixtures / "maker.pem", dir + "/trusted-keys/maker.pem");
    std::filesystem::copy_file(fixtures / "fw.enc2", dir + "/fw.enc2");
    std::filesystem::copy_file(fixtures / "fw.enc2.sig", dir + "/fw.enc2.sig");
    std::filesystem::copy_file(fixtures / "fw.enc2", dir + "/unsigned.enc2");
    Create();
    Choose(QString::fromStdString(dir + "/fw.enc2"));
    EXPECT_TRUE(messages.isEmpty());
    QStringList lines = MemoLines();
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[3], QStringLiteral("签名：maker.pem（92a2dc17e8e941e0）"));
    EXPECT_EQ(FirmwarePackage.Kind(), 16);

    const QString refused = QStringLiteral("固件包签名无效或不是受信任的密钥签署，已拒绝");
    const QString path = QString::fromStdString(dir + "/unsigned.enc2");
    Choose(path);
    EXPECT_EQ(messages, QStringList{refused});
    EXPECT_EQ(Q(form->RzEdit1)->text(), path);
    EXPECT_EQ(MemoLines(), QStringList{refused});
    EXPECT_EQ(FirmwarePackage.Kind(), 0);
    Q(form->RzButton3)->click();
    EXPECT_EQ(messages.last(), QStringLiteral("无效的升级文件!"));
}

} // namespace
