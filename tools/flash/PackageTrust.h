#pragma once
// The flasher's side of package signatures: which keys it trusts, and how it words a signature.
#include "package/FirmwarePackage.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>
#include <vector>

namespace flash {

// The keys in the settings folder's trusted-keys and the --trust files; each file that cannot
// be used is named on `warnings`, and the rest are still trusted.
TrustedKeys LoadFlasherKeys(const std::string& settingsFolder,
                            const std::vector<std::string>& trust, std::FILE* warnings);

// info's line about the signature, and its JSON value (null when no key is configured).
std::string SignatureLine(const SignatureCheck& signature);
nlohmann::ordered_json SignatureJson(const SignatureCheck& signature);

} // namespace flash
