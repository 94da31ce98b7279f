// Arbitrary bytes as a key file and as a signature: no crash, and nothing counts as valid that
// the trusted key did not sign. The first byte splits the input into the two.
#include "fuzz/FuzzCheck.h"
#include "package/Signature.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t split = 1 + std::min<size_t>(data[0], size - 1);
    const std::string key = ScratchFolder("signature_fuzz") + "/key.pem";
    std::ofstream(key, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data + 1), std::streamsize(split - 1));
    const TrustedKeys keys = LoadTrustedKeys({}, {key});
    Check(keys.Configured, "a key file offered configures signatures");
    Check(keys.Keys.size() + keys.Problems.size() == 1, "the file is a key or a problem");
    const std::vector<uint8_t> signature(data + split, data + size);
    const uint8_t package[] = {'f', 'u', 'z', 'z'};
    const SignatureCheck check = CheckSignature(package, sizeof package, signature, keys);
    Check(check.Outcome != SignatureOutcome::NotChecked, "checked once a key is offered");
    Check(check.Outcome != SignatureOutcome::Valid || !keys.Keys.empty(), "valid needs a key");
    return 0;
}
