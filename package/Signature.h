#pragma once
// Detached package signatures: PACKAGE.sig beside PACKAGE holds an ECDSA P-256 signature (DER)
// over SHA-256 of the whole package file, as `openssl dgst -sha256 -sign` writes it. Trusted
// keys are PEM public keys (SubjectPublicKeyInfo). Verifying, signing and key decoding are done
// by the platform's cryptography (OpenSSL's libcrypto, or CNG and crypt32 on Windows).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The folder of trusted keys inside the settings folder (beside Config.ini).
inline constexpr const char* kTrustedKeysFolderName = "trusted-keys";

struct TrustedKey {
    std::string Name;         // the key file's name, e.g. "maker.pem"
    std::string Fingerprint;  // SHA-256 of Der, its first 16 hex digits (lower case)
    std::vector<uint8_t> Der; // SubjectPublicKeyInfo of an EC P-256 key
};

// A key file that cannot be used, and why.
struct KeyProblem {
    std::string File;
    std::string Reason;
};

struct TrustedKeys {
    // True once any key file was offered (a *.pem in the folder, or a file given by name), good
    // or not: a user who meant to trust a key never silently gets unchecked packages.
    bool Configured = false;
    std::vector<TrustedKey> Keys;
    std::vector<KeyProblem> Problems;
};

// Reads one PEM public key file; false with the reason when it is not an EC P-256 public key.
bool ReadPublicKey(const std::string& path, TrustedKey& key, std::string& problem);

// Every *.pem in `folder` (in name order; a missing folder holds none), then every file in
// `files`. A bad file is listed in Problems and the others are still used.
TrustedKeys LoadTrustedKeys(const std::string& folder, const std::vector<std::string>& files);

// The fingerprint of a key's DER, as TrustedKey::Fingerprint.
std::string KeyFingerprint(const std::vector<uint8_t>& der);

enum class SignatureOutcome {
    NotChecked,   // no key is configured
    Valid,        // a trusted key's signature over these exact bytes
    NoSignature,  // no PACKAGE.sig
    BadSignature, // the signature is not a well-formed ECDSA signature (empty, truncated, not DER)
    UntrustedKey, // well formed, but no trusted key verifies it over these bytes (another key
                  // signed, or the package changed after signing), or no key could be used
    Unreadable    // PACKAGE.sig exists but cannot be read
};

struct SignatureCheck {
    SignatureOutcome Outcome = SignatureOutcome::NotChecked;
    std::string KeyName, Fingerprint; // the key that verified (Valid only)
    std::string Detail;               // what was wrong, in a few English words; empty when Valid
};

// The signature file of a package: PACKAGE.sig.
inline std::string SignaturePath(const std::string& packagePath) {
    return packagePath + ".sig";
}

// Checks the bytes of a signature file over `data` against the trusted keys.
SignatureCheck CheckSignature(const uint8_t* data, size_t size,
                              const std::vector<uint8_t>& signature, const TrustedKeys& keys);

// Reads PACKAGE.sig and checks it over `data`, the package's bytes as they were read for loading
// (the package file itself is not read again). NotChecked without reading anything when no key
// is configured.
SignatureCheck CheckPackageSignature(const std::string& packagePath, const uint8_t* data,
                                     size_t size, const TrustedKeys& keys);
