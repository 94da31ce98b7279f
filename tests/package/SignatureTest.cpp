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

// Keys we make sign what we verify, and so do openssl's private keys in both of its forms
// (PKCS#8, as `openssl genpkey` writes it, and SEC 1, as `openssl ec` does).
TEST(SignatureTest, OurKeysAndOpensslPrivateKeysSign) {
    TempDir dir;
    const std::vector<uint8_t> package = Fixture("fw.enc2");
    std::string privatePem, publicPem, problem;
    ASSERT_TRUE(MakeKeyPair(privatePem, publicPem, problem)) << problem;
    const std::string pub = dir.Write("pub.pem", {publicPem.begin(), publicPem.end()});
    std::vector<uint8_t> signature;
    ASSERT_TRUE(SignBytes(privatePem, package.data(), package.size(), signature, problem))
        << problem;
    const SignatureCheck ours =
        CheckSignature(package.data(), package.size(), signature, LoadTrustedKeys({}, {pub}));
    EXPECT_EQ(ours.Outcome, SignatureOutcome::Valid) << ours.Detail;
    std::string secondPrivate, secondPublic;
    ASSERT_TRUE(MakeKeyPair(secondPrivate, secondPublic, problem)) << problem;
    EXPECT_NE(secondPublic, publicPem); // a new key every time

    for (const char* name : {"maker-private.pem", "maker-sec1.pem"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> key = Fixture(name);
        std::vector<uint8_t> own;
        ASSERT_TRUE(SignBytes(std::string(key.begin(), key.end()), package.data(), package.size(),
                              own, problem))
            << problem;
        const SignatureCheck check =
            CheckSignature(package.data(), package.size(), own, Trust({"maker.pem"}));
        EXPECT_EQ(check.Outcome, SignatureOutcome::Valid) << check.Detail;
    }
}

TEST(SignatureTest, BadPrivateKeysAreRefused) {
    const std::vector<uint8_t> package = Fixture("fw.enc2");
    std::vector<uint8_t> damaged = Fixture("maker-private.pem");
    damaged[60] = '*'; // not base64
    std::vector<uint8_t> truncated = Fixture("maker-private.pem");
    truncated.erase(truncated.begin() + 40, truncated.begin() + 100);
    const struct {
        const char* name;
        std::vector<uint8_t> pem;
    } cases[] = {
        {"empty", {}},
        {"a public key", Fixture("maker.pem")},
        {"damaged base64", damaged},
        {"truncated", truncated},
        {"P-384", Fixture("p384-private.pem")},
        {"RSA", Fixture("rsa-private.pem")},
        {"encrypted", Fixture("encrypted-private.pem")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> signature;
        std::string problem;
        EXPECT_FALSE(SignBytes(std::string(c.pem.begin(), c.pem.end()), package.data(),
                               package.size(), signature, problem));
        EXPECT_FALSE(problem.empty());
    }
    // A private key without its public half: OpenSSL works the half out, CNG needs it given.
    const std::vector<uint8_t> bare = Fixture("maker-nopublic.pem");
    std::vector<uint8_t> signature;
    std::string problem;
    const bool signed_ = SignBytes(std::string(bare.begin(), bare.end()), package.data(),
                                   package.size(), signature, problem);
#ifdef _WIN32
    EXPECT_FALSE(signed_);
    EXPECT_NE(problem.find("does not hold its public key"), std::string::npos) << problem;
#else
    ASSERT_TRUE(signed_) << problem;
    EXPECT_EQ(
        CheckSignature(package.data(), package.size(), signature, Trust({"maker.pem"})).Outcome,
        SignatureOutcome::Valid);
#endif
}

// A private key's file: new, and only its owner may open it.
TEST(SignatureTest, OwnerOnlyFileIsNeverReplaced) {
    TempDir dir;
    const std::string path = dir.File("密钥.pem");
    ASSERT_TRUE(WriteOwnerOnlyFile(path, "secret"));
    EXPECT_FALSE(WriteOwnerOnlyFile(path, "other"));
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "secret");
#ifndef _WIN32
    EXPECT_EQ(std::filesystem::status(PathFromUtf8(path)).permissions() &
                  std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
#endif
    EXPECT_FALSE(WriteOwnerOnlyFile(dir.File("no-such-folder/key.pem"), "secret"));
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
