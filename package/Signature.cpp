#include "package/Signature.h"

#include "base/FileAccess.h"
#include "package/SignatureCrypto.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace {

namespace fs = std::filesystem;

// Far above any real key or signature file; a bigger one is not read at all.
constexpr int64_t kMaxKeyFileSize = 64 * 1024;
constexpr int64_t kMaxSignatureFileSize = 4096;

// The whole file, when it is a readable plain file of at most `limit` bytes.
bool ReadSmallFile(const std::string& path, int64_t limit, std::vector<uint8_t>& out) {
    ReadOnlyFile file(path);
    if (!file.IsOpen() || file.Size() > limit) return false;
    out.assign(size_t(file.Size()) + 1, 0);
    int64_t total = 0;
    for (;;) {
        const int64_t got = file.Read(out.data() + total, out.size() - size_t(total));
        if (got < 0) return false;
        if (got == 0) break;
        total += got;
        if (total == int64_t(out.size())) return false; // grew past its size since opening
    }
    out.resize(size_t(total));
    return true;
}

// The label of the first PEM block ("PUBLIC KEY" in "-----BEGIN PUBLIC KEY-----"); empty when
// the text has none.
std::string PemLabel(const std::string& text) {
    const std::string begin = "-----BEGIN ";
    const size_t start = text.find(begin);
    if (start == std::string::npos) return {};
    const size_t end = text.find("-----", start + begin.size());
    if (end == std::string::npos) return {};
    return text.substr(start + begin.size(), end - start - begin.size());
}

// One DER INTEGER of an ECDSA signature at `p`: positive, minimally encoded, at most 33 bytes.
bool SkipSignatureInteger(const uint8_t*& p, const uint8_t* end) {
    if (end - p < 3 || p[0] != 0x02) return false;
    const size_t length = p[1];
    if (length == 0 || length > 33 || size_t(end - p - 2) < length) return false;
    const uint8_t* value = p + 2;
    if (value[0] & 0x80) return false;                                   // negative
    if (length > 1 && value[0] == 0 && !(value[1] & 0x80)) return false; // not minimal
    p = value + length;
    return true;
}

// SEQUENCE { INTEGER r, INTEGER s } in DER and nothing after it. Both libraries decode the
// signature themselves; this only makes them agree on what counts as well formed.
bool WellFormedSignature(const std::vector<uint8_t>& der) {
    if (der.size() < 8 || der.size() > 72 || der[0] != 0x30 || der[1] >= 0x80 ||
        size_t(der[1]) + 2 != der.size())
        return false;
    const uint8_t* p = der.data() + 2;
    const uint8_t* end = der.data() + der.size();
    return SkipSignatureInteger(p, end) && SkipSignatureInteger(p, end) && p == end;
}

SignatureCheck Outcome(SignatureOutcome outcome, std::string detail) {
    SignatureCheck check;
    check.Outcome = outcome;
    check.Detail = std::move(detail);
    return check;
}

} // namespace

std::string KeyFingerprint(const std::vector<uint8_t>& der) {
    static const char kHex[] = "0123456789abcdef";
    const signature_crypto::Digest digest = signature_crypto::Sha256(der.data(), der.size());
    std::string hex;
    for (size_t i = 0; i < 8; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
    }
    return hex;
}

bool ReadPublicKey(const std::string& path, TrustedKey& key, std::string& problem) {
    std::vector<uint8_t> bytes;
    if (!ReadSmallFile(path, kMaxKeyFileSize, bytes)) {
        problem = "cannot be read as a key file";
        return false;
    }
    const std::string text(bytes.begin(), bytes.end());
    const std::string label = PemLabel(text);
    if (label.find("PRIVATE KEY") != std::string::npos) {
        problem = "a private key: trust the public one (openssl pkey -pubout)";
        return false;
    }
    if (label != "PUBLIC KEY") {
        problem = "not a PEM public key (no \"BEGIN PUBLIC KEY\")";
        return false;
    }
    std::vector<uint8_t> der;
    if (!signature_crypto::DecodeP256PublicKey(text, der, problem)) return false;
    const std::u8string name = PathFromUtf8(path).filename().u8string();
    key.Name.assign(name.begin(), name.end());
    key.Fingerprint = KeyFingerprint(der);
    key.Der = std::move(der);
    return true;
}

TrustedKeys LoadTrustedKeys(const std::string& folder, const std::vector<std::string>& files) {
    std::vector<std::string> offered;
    std::error_code error;
    if (!folder.empty() && fs::is_directory(PathFromUtf8(folder), error)) {
        for (const fs::directory_entry& entry :
             fs::directory_iterator(PathFromUtf8(folder), error)) {
            const std::u8string name = entry.path().filename().u8string();
            const std::u8string path = entry.path().u8string();
            if (name.size() > 4 && name.ends_with(u8".pem"))
                offered.emplace_back(path.begin(), path.end());
        }
        std::sort(offered.begin(), offered.end());
    }
    offered.insert(offered.end(), files.begin(), files.end());

    TrustedKeys keys;
    keys.Configured = !offered.empty();
    for (const std::string& path : offered) {
        TrustedKey key;
        std::string problem;
        if (ReadPublicKey(path, key, problem))
            keys.Keys.push_back(std::move(key));
        else
            keys.Problems.push_back({path, problem});
    }
    return keys;
}

SignatureCheck CheckSignature(const uint8_t* data, size_t size,
                              const std::vector<uint8_t>& signature, const TrustedKeys& keys) {
    using signature_crypto::Verdict;
    if (!keys.Configured) return {};
    if (signature.empty()) return Outcome(SignatureOutcome::BadSignature, "the signature is empty");
    if (!WellFormedSignature(signature))
        return Outcome(SignatureOutcome::BadSignature, "not a DER ECDSA signature");
    if (keys.Keys.empty())
        return Outcome(SignatureOutcome::UntrustedKey, "no trusted key could be used");
    const signature_crypto::Digest digest = signature_crypto::Sha256(data, size);
    for (const TrustedKey& key : keys.Keys) {
        const Verdict verdict = signature_crypto::VerifyP256(key.Der, digest, signature);
        if (verdict == Verdict::Malformed)
            return Outcome(SignatureOutcome::BadSignature, "not a valid ECDSA P-256 signature");
        if (verdict == Verdict::Valid) {
            SignatureCheck check;
            check.Outcome = SignatureOutcome::Valid;
            check.KeyName = key.Name;
            check.Fingerprint = key.Fingerprint;
            return check;
        }
    }
    return Outcome(SignatureOutcome::UntrustedKey,
                   "no trusted key signed these bytes (another key signed them, or the package "
                   "changed after signing)");
}

SignatureCheck CheckPackageSignature(const std::string& packagePath, const uint8_t* data,
                                     size_t size, const TrustedKeys& keys) {
    if (!keys.Configured) return {};
    const std::string path = SignaturePath(packagePath);
    std::error_code error;
    const fs::file_status status = fs::status(PathFromUtf8(path), error);
    if (status.type() == fs::file_type::not_found)
        return Outcome(SignatureOutcome::NoSignature, "no signature file " + path);
    std::vector<uint8_t> signature;
    if (!ReadSmallFile(path, kMaxSignatureFileSize, signature)) {
        if (status.type() == fs::file_type::regular &&
            fs::file_size(PathFromUtf8(path), error) > uintmax_t(kMaxSignatureFileSize))
            return Outcome(SignatureOutcome::BadSignature, "the signature file is far too large");
        return Outcome(SignatureOutcome::Unreadable, "cannot read " + path);
    }
    return CheckSignature(data, size, signature, keys);
}
