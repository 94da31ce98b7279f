// The Windows build verifies signatures but does not make them: keys and signatures are made
// where the packages are built (the Linux tolvane-pack, or openssl anywhere).
#include "package/SignatureMaker.h"

namespace {
const char kNotHere[] =
    "the Windows build does not make keys or signatures: use the Linux tolvane-pack or openssl";
}

bool MakeKeyPair(std::string&, std::string&, std::string& problem) {
    problem = kNotHere;
    return false;
}

bool SignBytes(const std::string&, const uint8_t*, size_t, std::vector<uint8_t>&,
               std::string& problem) {
    problem = kNotHere;
    return false;
}
