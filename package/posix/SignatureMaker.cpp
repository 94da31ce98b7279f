// Keys and signatures made with OpenSSL's libcrypto.
#include "package/SignatureMaker.h"

#include <openssl/bio.h>
#include <openssl/buffer.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>

namespace {

struct FreeKey {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct FreeBio {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct FreeDigest {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Key = std::unique_ptr<EVP_PKEY, FreeKey>;
using Bio = std::unique_ptr<BIO, FreeBio>;

std::string BioText(BIO* bio) {
    BUF_MEM* memory = nullptr;
    BIO_get_mem_ptr(bio, &memory);
    return memory ? std::string(memory->data, memory->length) : std::string();
}

bool IsP256(EVP_PKEY* key) {
    char group[80] = {};
    size_t length = 0;
    return EVP_PKEY_get_base_id(key) == EVP_PKEY_EC &&
           EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                          &length) == 1 &&
           std::string(group) == "prime256v1";
}

// No passphrase prompt: an encrypted key simply does not decode.
int NoPassphrase(char*, int, int, void*) {
    return 0;
}

} // namespace

bool MakeKeyPair(std::string& privatePem, std::string& publicPem, std::string& problem) {
    Key key(EVP_EC_gen("P-256"));
    Bio priv(BIO_new(BIO_s_mem())), pub(BIO_new(BIO_s_mem()));
    if (!key || !priv || !pub ||
        PEM_write_bio_PrivateKey(priv.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) !=
            1 ||
        PEM_write_bio_PUBKEY(pub.get(), key.get()) != 1) {
        ERR_clear_error();
        problem = "the key pair could not be made";
        return false;
    }
    privatePem = BioText(priv.get());
    publicPem = BioText(pub.get());
    return true;
}

bool SignBytes(const std::string& privatePem, const uint8_t* data, size_t size,
               std::vector<uint8_t>& signature, std::string& problem) {
    Bio bio(BIO_new_mem_buf(privatePem.data(), int(privatePem.size())));
    Key key(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, NoPassphrase, nullptr) : nullptr);
    ERR_clear_error();
    if (!key) {
        problem = "not a PEM private key without passphrase";
        return false;
    }
    if (!IsP256(key.get())) {
        problem = "not an EC P-256 private key";
        return false;
    }
    std::unique_ptr<EVP_MD_CTX, FreeDigest> context(EVP_MD_CTX_new());
    size_t length = 0;
    bool ok = context &&
              EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1 &&
              EVP_DigestSign(context.get(), nullptr, &length, data, size) == 1;
    if (ok) {
        signature.resize(length);
        ok = EVP_DigestSign(context.get(), signature.data(), &length, data, size) == 1;
        signature.resize(length);
    }
    ERR_clear_error();
    if (!ok) problem = "the signature could not be made";
    return ok;
}
