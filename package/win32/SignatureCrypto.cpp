// Signatures with the system's CNG (bcrypt) and crypt32, so the programs need no extra DLL.
#include "package/SignatureCrypto.h"

#include <windows.h>
// After windows.h, which they need.
#include <bcrypt.h>
#include <wincrypt.h>

#include <cstring>

namespace signature_crypto {

namespace {

// The DER of the named curve P-256's object identifier (1.2.840.10045.3.1.7), and of P-384's.
constexpr uint8_t kP256[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
constexpr uint8_t kP384[] = {0x06, 0x05, 0x2B, 0x81, 0x04, 0x00, 0x22};

bool Same(const CRYPT_OBJID_BLOB& blob, const uint8_t* bytes, size_t size) {
    return blob.cbData == size && std::memcmp(blob.pbData, bytes, size) == 0;
}

// The decoded SubjectPublicKeyInfo (LocalFree it), or null.
CERT_PUBLIC_KEY_INFO* DecodeKeyInfo(const std::vector<uint8_t>& der) {
    CERT_PUBLIC_KEY_INFO* info = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, der.data(), DWORD(der.size()),
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &info, &size))
        return nullptr;
    return info;
}

std::string KindProblem(const CERT_PUBLIC_KEY_INFO& info) {
    const std::string algorithm = info.Algorithm.pszObjId ? info.Algorithm.pszObjId : "";
    if (algorithm == szOID_RSA_RSA) return "an RSA key, not EC P-256";
    if (algorithm == "1.3.101.112") return "an ED25519 key, not EC P-256";
    if (algorithm != szOID_ECC_PUBLIC_KEY) return "a key of kind " + algorithm + ", not EC P-256";
    if (Same(info.Algorithm.Parameters, kP384, sizeof kP384))
        return "an EC key on secp384r1, not P-256";
    if (!Same(info.Algorithm.Parameters, kP256, sizeof kP256))
        return "an EC key on another curve, not P-256";
    return {};
}

// A little-endian integer from crypt32 as one 32-byte big-endian half of r||s.
bool PutHalf(const CRYPT_UINT_BLOB& value, uint8_t* half) {
    for (DWORD i = 32; i < value.cbData; ++i)
        if (value.pbData[i] != 0) return false;
    for (DWORD i = 0; i < value.cbData && i < 32; ++i)
        half[31 - i] = value.pbData[i];
    return true;
}

} // namespace

Digest Sha256(const uint8_t* data, size_t size) {
    Digest digest{};
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0)
        return digest;
    if (BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0) {
        for (size_t done = 0; done < size;) {
            const ULONG piece = ULONG(size - done < (1u << 30) ? size - done : (1u << 30));
            BCryptHashData(hash, const_cast<PUCHAR>(data + done), piece, 0);
            done += piece;
        }
        BCryptFinishHash(hash, digest.data(), ULONG(digest.size()), 0);
        BCryptDestroyHash(hash);
    }
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return digest;
}

bool DecodeP256PublicKey(const std::string& pem, std::vector<uint8_t>& der, std::string& problem) {
    problem = "the PEM public key does not decode (damaged base64 or not a key)";
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.data(), DWORD(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                              &size, nullptr, nullptr))
        return false;
    std::vector<uint8_t> bytes(size);
    if (!CryptStringToBinaryA(pem.data(), DWORD(pem.size()), CRYPT_STRING_BASE64HEADER,
                              bytes.data(), &size, nullptr, nullptr))
        return false;
    bytes.resize(size);
    CERT_PUBLIC_KEY_INFO* info = DecodeKeyInfo(bytes);
    if (!info) return false;
    problem = KindProblem(*info);
    BCRYPT_KEY_HANDLE key = nullptr;
    if (problem.empty() && !CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, info, 0, nullptr, &key))
        problem = "the EC P-256 key cannot be imported";
    if (key) BCryptDestroyKey(key);
    LocalFree(info);
    if (!problem.empty()) return false;
    der = std::move(bytes);
    return true;
}

Verdict VerifyP256(const std::vector<uint8_t>& keyDer, const Digest& digest,
                   const std::vector<uint8_t>& signature) {
    CERT_ECC_SIGNATURE* decoded = nullptr;
    DWORD size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ECC_SIGNATURE, signature.data(),
                             DWORD(signature.size()), CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded,
                             &size))
        return Verdict::Malformed;
    uint8_t rs[64] = {};
    const bool fits = PutHalf(decoded->r, rs) && PutHalf(decoded->s, rs + 32);
    LocalFree(decoded);
    if (!fits) return Verdict::Malformed;

    CERT_PUBLIC_KEY_INFO* info = DecodeKeyInfo(keyDer);
    if (!info) return Verdict::Invalid;
    BCRYPT_KEY_HANDLE key = nullptr;
    const bool imported = CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, info, 0, nullptr, &key);
    LocalFree(info);
    if (!imported) return Verdict::Invalid;
    const NTSTATUS status = BCryptVerifySignature(key, nullptr, const_cast<PUCHAR>(digest.data()),
                                                  ULONG(digest.size()), rs, sizeof rs, 0);
    BCryptDestroyKey(key);
    return status == 0 ? Verdict::Valid : Verdict::Invalid;
}

} // namespace signature_crypto
