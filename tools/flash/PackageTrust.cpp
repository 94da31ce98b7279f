#include "tools/flash/PackageTrust.h"

#include "package/PackageText.h"

namespace flash {

namespace {

const char* OutcomeName(SignatureOutcome outcome) {
    switch (outcome) {
    case SignatureOutcome::NotChecked:
        return "not_checked";
    case SignatureOutcome::Valid:
        return "valid";
    case SignatureOutcome::NoSignature:
        return "no_signature";
    case SignatureOutcome::BadSignature:
        return "bad_signature";
    case SignatureOutcome::UntrustedKey:
        return "untrusted_key";
    case SignatureOutcome::Unreadable:
        return "unreadable";
    }
    return "";
}

} // namespace

TrustedKeys LoadFlasherKeys(const std::string& settingsFolder,
                            const std::vector<std::string>& trust, std::FILE* warnings) {
    TrustedKeys keys = LoadTrustedKeys(settingsFolder + "/" + kTrustedKeysFolderName, trust);
    for (const std::string& warning : KeyWarnings(keys))
        std::fprintf(warnings, "tolvane-flash: warning: %s\n", warning.c_str());
    return keys;
}

std::string SignatureLine(const SignatureCheck& signature) {
    switch (signature.Outcome) {
    case SignatureOutcome::NotChecked:
        return "signature: not checked (no trusted key)";
    case SignatureOutcome::Valid:
        return "signature: valid, by " + signature.KeyName + " (" + signature.Fingerprint + ")";
    default:
        return "signature: refused, " + SignatureReason(signature);
    }
}

nlohmann::ordered_json SignatureJson(const SignatureCheck& signature) {
    if (signature.Outcome == SignatureOutcome::NotChecked) return nullptr;
    nlohmann::ordered_json value = {{"ok", signature.Outcome == SignatureOutcome::Valid},
                                    {"outcome", OutcomeName(signature.Outcome)}};
    if (signature.Outcome == SignatureOutcome::Valid) {
        value["key"] = signature.KeyName;
        value["fingerprint"] = signature.Fingerprint;
    } else {
        value["reason"] = SignatureReason(signature);
    }
    return value;
}

} // namespace flash
