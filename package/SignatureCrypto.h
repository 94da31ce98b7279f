#pragma once
// The platform's cryptography behind Signature.h and SignatureMaker.h: package/posix (OpenSSL's
// libcrypto) and package/win32 (CNG and crypt32). Not for use outside package/.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace signature_crypto {

using Digest = std::array<uint8_t, 32>;

Digest Sha256(const uint8_t* data, size_t size);

// The DER (SubjectPublicKeyInfo) of the key in a PEM "PUBLIC KEY" text; false with the reason
// when it does not decode or is not an EC key on P-256.
bool DecodeP256PublicKey(const std::string& pem, std::vector<uint8_t>& der, std::string& problem);

enum class Verdict { Valid, Invalid, Malformed };

// A DER ECDSA signature checked over a SHA-256 digest with a key from DecodeP256PublicKey.
Verdict VerifyP256(const std::vector<uint8_t>& keyDer, const Digest& digest,
                   const std::vector<uint8_t>& signature);

} // namespace signature_crypto
