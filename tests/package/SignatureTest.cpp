// Package signatures against keys and signatures that openssl made (tests/package/signing), and
// the other way round where the openssl command exists.
#include "package/Signature.h"
#include "package/Crc32.h"
#include "package/FirmwarePackage.h"
#include "package/PackageText.h"
#include "package/SignatureMaker.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>

namespace {

const std::string kFixtures = TOLVANE_SIGNING_FIXTURES;
// SHA-256 of maker.pem's DER, as `openssl pkey -pubin -outform DER | openssl dgst -sha256` shows.
const std::string kMakerFingerprint = "92a2dc17e8e941e0";

std::vector<uint8_t> Fixture(const std::string& name) {
    std::ifstream in(PathFromUtf8(kFixtures + "/" + name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TrustedKeys Trust(const std::vector<std::string>& names) {
    std::vector<std::string> files;
    for (const std::string& name : names)
        files.push_back(kFixtures + "/" + name);
    return LoadTrustedKeys({}, files);
}

TEST(SignatureTest, OpensslSignatureVerifiesWithFingerprint) {
    const std::vector<uint8_t> package = Fixture("fw.enc2");
    const SignatureCheck check = CheckSignature(package.data(), package.size(),
                                                Fixture("fw.enc2.sig"), Trust({"maker.pem"}));
    EXPECT_EQ(check.Outcome, SignatureOutcome::Valid) << check.Detail;
    EXPECT_EQ(check.KeyName, "maker.pem");
    EXPECT_EQ(check.Fingerprint, kMakerFingerprint);
}

TEST(SignatureTest, BadSignaturesAreRefused) {
    const std::vector<uint8_t> package = Fixture("fw.enc2");
    const std::vector<uint8_t> good = Fixture("fw.enc2.sig");
    std::vector<uint8_t> changed = package;
    changed[200] ^= 1;
    std::vector<uint8_t> truncated(good.begin(), good.end() - 3);
    std::vector<uint8_t> flipped = good; // still DER, another r
    flipped[6] ^= 0x40;
    std::vector<uint8_t> trailing = good;
    trailing.push_back(0);
    const std::vector<uint8_t> otherFile = Fixture("maker.pem");
    struct Case {
        const char* name;
        std::vector<uint8_t> data, signature;
        std::vector<std::string> keys;
        SignatureOutcome outcome;
    };
    const std::vector<Case> cases = {
        {"empty", package, {}, {"maker.pem"}, SignatureOutcome::BadSignature},
        {"truncated", package, truncated, {"maker.pem"}, SignatureOutcome::BadSignature},
        {"not DER", package, otherFile, {"maker.pem"}, SignatureOutcome::BadSignature},
        {"bytes after the DER", package, trailing, {"maker.pem"}, SignatureOutcome::BadSignature},
        {"another signature value",
         package,
         flipped,
         {"maker.pem"},
         SignatureOutcome::UntrustedKey},
        {"package changed by one byte",
         changed,
         good,
         {"maker.pem"},
         SignatureOutcome::UntrustedKey},
        {"signed by a key not trusted",
         package,
         good,
         {"other.pem"},
         SignatureOutcome::UntrustedKey},
        {"no usable key", package, good, {"rsa.pem"}, SignatureOutcome::UntrustedKey},
        {"one of two keys", package, good, {"other.pem", "maker.pem"}, SignatureOutcome::Valid},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SignatureCheck check =
            CheckSignature(c.data.data(), c.data.size(), c.signature, Trust(c.keys));
        EXPECT_EQ(check.Outcome, c.outcome) << check.Detail;
        EXPECT_EQ(check.Detail.empty(), c.outcome == SignatureOutcome::Valid);
    }
}

TEST(SignatureTest, BadKeyFilesAreNamedAndTheGoodOnesKept) {
    TempDir dir;
    std::vector<uint8_t> damaged = Fixture("maker.pem");
    damaged[40] = '*'; // not base64
    dir.Write("damaged.pem", damaged);
    dir.Write("private.pem", Fixture("maker-private.pem"));
    dir.Write("empty.pem", {});
    dir.Write("good.pem", Fixture("maker.pem"));
    dir.Write("notes.txt", {'x'}); // not a .pem: not looked at
    for (const char* name : {"p384.pem", "rsa.pem", "ed25519.pem"})
        dir.Write(name, Fixture(name));
    const TrustedKeys keys = LoadTrustedKeys(dir.path(), {dir.File("missing.pem")});
    EXPECT_TRUE(keys.Configured);
    ASSERT_EQ(keys.Keys.size(), 1u);
    EXPECT_EQ(keys.Keys[0].Name, "good.pem");
    EXPECT_EQ(keys.Keys[0].Fingerprint, kMakerFingerprint);
    ASSERT_EQ(keys.Problems.size(), 7u);
    for (const KeyProblem& problem : keys.Problems) {
        SCOPED_TRACE(problem.File);
        EXPECT_FALSE(problem.Reason.empty());
    }
    EXPECT_FALSE(LoadTrustedKeys(dir.File("no-such-folder"), {}).Configured);
}

class SignedLoadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        package_ = std::make_unique<FirmwarePackageData>();
        path_ = dir_.Write("fw.enc2", Fixture("fw.enc2"));
    }
    TempDir dir_;
    std::string path_;
    std::unique_ptr<FirmwarePackageData> package_;
};

TEST_F(SignedLoadTest, SignedPackageLoadsWithTheSignerLine) {
    dir_.Write("fw.enc2.sig", Fixture("fw.enc2.sig"));
    const TrustedKeys keys = Trust({"maker.pem"});
    const PackageCheck check = LoadPackage(path_, *package_, &keys);
    EXPECT_EQ(check.Outcome, PackageLoadOutcome::Loaded);
    EXPECT_EQ(RefusalOf(check), PackageRefusal::None);
    EXPECT_EQ(package_->Kind(), 16);
    EXPECT_EQ(PackageDescription(check).back(), "签名：maker.pem（" + kMakerFingerprint + "）");
}

// A package changed after signing, with its CRC made right again, and one without signature.
TEST_F(SignedLoadTest, RefusedSignatureLoadsNothing) {
    std::vector<uint8_t> tampered = Fixture("fw.enc2");
    tampered[150] ^= 0xFF;
    const uint32_t crc = Crc32(tampered.data(), int32_t(tampered.size() - 4));
    for (int i = 0; i < 4; ++i)
        tampered[tampered.size() - 4 + i] = uint8_t(crc >> (8 * i));
    const TrustedKeys keys = Trust({"maker.pem"});
    for (const bool signed_ : {false, true}) {
        SCOPED_TRACE(signed_);
        if (signed_) dir_.Write("fw.enc2.sig", Fixture("fw.enc2.sig"));
        dir_.Write("fw.enc2", signed_ ? tampered : Fixture("fw.enc2"));
        package_->Header[32] = 16;
        const PackageCheck check = LoadPackage(path_, *package_, &keys);
        EXPECT_EQ(check.Outcome, PackageLoadOutcome::SignatureRefused);
        EXPECT_EQ(RefusalOf(check), PackageRefusal::Signature);
        EXPECT_EQ(check.Signature.Outcome,
                  signed_ ? SignatureOutcome::UntrustedKey : SignatureOutcome::NoSignature);
        EXPECT_EQ(package_->Kind(), 0);
    }
}

TEST_F(SignedLoadTest, WithoutKeysNothingIsRead) {
    dir_.Write("fw.enc2.sig", {1, 2, 3});
    const TrustedKeys none;
    const PackageCheck check = LoadPackage(path_, *package_, &none);
    EXPECT_EQ(check.Outcome, PackageLoadOutcome::Loaded);
    EXPECT_EQ(check.Signature.Outcome, SignatureOutcome::NotChecked);
    EXPECT_EQ(PackageDescription(check).size(), 3u); // no signer line
}

#ifndef _WIN32
// Our signatures and keys as openssl reads them.
TEST(SignatureTest, OpensslVerifiesOurSignatures) {
    if (std::system("openssl version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no openssl";
    TempDir dir;
    std::string privatePem, publicPem, problem;
    ASSERT_TRUE(MakeKeyPair(privatePem, publicPem, problem)) << problem;
    const std::vector<uint8_t> package = Fixture("fw.enc2");
    std::vector<uint8_t> signature;
    ASSERT_TRUE(SignBytes(privatePem, package.data(), package.size(), signature, problem));
    const std::string pub = dir.Write("pub.pem", {publicPem.begin(), publicPem.end()});
    const std::string pkg = dir.Write("fw.enc2", package);
    dir.Write("fw.enc2.sig", signature);
    EXPECT_EQ(std::system(("openssl dgst -sha256 -verify " + pub + " -signature " + pkg + ".sig " +
                           pkg + " >/dev/null")
                              .c_str()),
              0);
    std::vector<uint8_t> own;
    const std::vector<uint8_t> makerKey = Fixture("maker-private.pem");
    ASSERT_TRUE(SignBytes(std::string(makerKey.begin(), makerKey.end()), package.data(),
                          package.size(), own, problem));
    EXPECT_EQ(CheckSignature(package.data(), package.size(), own, Trust({"maker.pem"})).Outcome,
              SignatureOutcome::Valid);
}
#endif

} // namespace
