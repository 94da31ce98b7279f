#pragma once
// A maker's side of package signatures: a new key pair and a signature, in the forms Signature.h
// checks and OpenSSL reads (PKCS#8 PEM private key, SubjectPublicKeyInfo PEM public key, DER
// ECDSA P-256 signature over SHA-256).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A new EC P-256 key pair as PEM texts; false with the reason.
bool MakeKeyPair(std::string& privatePem, std::string& publicPem, std::string& problem);

// The signature of `data` with the private key in `privatePem`; false with the reason (not a
// P-256 private key, damaged PEM, an encrypted key).
bool SignBytes(const std::string& privatePem, const uint8_t* data, size_t size,
               std::vector<uint8_t>& signature, std::string& problem);
