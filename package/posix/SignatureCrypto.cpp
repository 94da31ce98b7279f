// Signatures with OpenSSL's libcrypto.
#include "package/SignatureCrypto.h"

#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

namespace signature_crypto {

namespace {

struct FreeKey {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct FreeContext {
    void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
struct FreeBio {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using Key = std::unique_ptr<EVP_PKEY, FreeKey>;

Key KeyFromDer(const std::vector<uint8_t>& der) {
    const unsigned char* p = der.data();
    return Key(d2i_PUBKEY(nullptr, &p, long(der.size())));
}

// "an RSA key" and the like, for a key that is not on P-256.
std::string KindProblem(EVP_PKEY* key) {
    if (EVP_PKEY_get_base_id(key) != EVP_PKEY_EC) {
        const char* name = EVP_PKEY_get0_type_name(key);
        return std::string("an ") + (name ? name : "unknown") + " key, not EC P-256";
    }
    char group[80] = {};
    size_t length = 0;
    if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                       &length) != 1)
        return "an EC key on an unnamed curve, not P-256";
    if (std::string(group) != "prime256v1")
        return std::string("an EC key on ") + group + ", not P-256";
    return {};
}

} // namespace

Digest Sha256(const uint8_t* data, size_t size) {
    Digest digest{};
    unsigned int length = 0;
    EVP_Digest(data, size, digest.data(), &length, EVP_sha256(), nullptr);
    return digest;
}

bool DecodeP256PublicKey(const std::string& pem, std::vector<uint8_t>& der, std::string& problem) {
    std::unique_ptr<BIO, FreeBio> bio(BIO_new_mem_buf(pem.data(), int(pem.size())));
    Key key(bio ? PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    ERR_clear_error(); // a failed decode leaves its reasons queued
    if (!key) {
        problem = "the PEM public key does not decode (damaged base64 or not a key)";
        return false;
    }
    problem = KindProblem(key.get());
    if (!problem.empty()) return false;
    unsigned char* out = nullptr;
    const int length = i2d_PUBKEY(key.get(), &out);
    if (length <= 0) {
        problem = "the key cannot be encoded";
        return false;
    }
    der.assign(out, out + length);
    OPENSSL_free(out);
    return true;
}

Verdict VerifyP256(const std::vector<uint8_t>& keyDer, const Digest& digest,
                   const std::vector<uint8_t>& signature) {
    // The signature is decoded on its own first, so a damaged one is told from a wrong one.
    const unsigned char* p = signature.data();
    ECDSA_SIG* decoded = d2i_ECDSA_SIG(nullptr, &p, long(signature.size()));
    const bool whole = decoded && p == signature.data() + signature.size();
    ECDSA_SIG_free(decoded);
    if (!whole) {
        ERR_clear_error();
        return Verdict::Malformed;
    }
    Key key = KeyFromDer(keyDer);
    if (!key) return Verdict::Invalid;
    std::unique_ptr<EVP_PKEY_CTX, FreeContext> context(EVP_PKEY_CTX_new(key.get(), nullptr));
    int result = -1;
    if (context && EVP_PKEY_verify_init(context.get()) == 1 &&
        EVP_PKEY_CTX_set_signature_md(context.get(), EVP_sha256()) == 1)
        result = EVP_PKEY_verify(context.get(), signature.data(), signature.size(), digest.data(),
                                 digest.size());
    ERR_clear_error();
    return result == 1 ? Verdict::Valid : Verdict::Invalid;
}

} // namespace signature_crypto
