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

std::string Reason(const SignatureCheck& signature) {
    switch (signature.Outcome) {
    case SignatureOutcome::NoSignature:
        return "not signed: " + signature.Detail;
    case SignatureOutcome::BadSignature:
        return "damaged signature: " + signature.Detail;
    case SignatureOutcome::UntrustedKey:
        return "not signed by a trusted key: " + signature.Detail;
    case SignatureOutcome::Unreadable:
        return "unreadable signature: " + signature.Detail;
    case SignatureOutcome::NotChecked:
    case SignatureOutcome::Valid:
        break;
    }
    return {};
}

} // namespace

TrustedKeys LoadFlasherKeys(const std::string& settingsFolder,
                            const std::vector<std::string>& trust, std::FILE* warnings) {
    TrustedKeys keys = LoadTrustedKeys(settingsFolder + "/" + kTrustedKeysFolderName, trust);
    for (const KeyProblem& problem : keys.Problems)
        std::fprintf(warnings, "tolvane-flash: warning: the key %s is not trusted: %s\n",
                     problem.File.c_str(), problem.Reason.c_str());
    if (keys.Configured && keys.Keys.empty())
        std::fprintf(warnings, "tolvane-flash: warning: no trusted key can be used, so every "
                               "package is refused\n");
    return keys;
}

std::string RefusalMessage(const PackageCheck& check) {
    const PackageRefusal refusal = RefusalOf(check);
    std::string message = RefusalText(refusal);
    if (refusal == PackageRefusal::Signature) message += " (" + Reason(check.Signature) + ")";
    return message;
}

std::string SignatureLine(const SignatureCheck& signature) {
    switch (signature.Outcome) {
    case SignatureOutcome::NotChecked:
        return "signature: not checked (no trusted key)";
    case SignatureOutcome::Valid:
        return "signature: valid, by " + signature.KeyName + " (" + signature.Fingerprint + ")";
    default:
        return "signature: refused, " + Reason(signature);
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
        value["reason"] = Reason(signature);
    }
    return value;
}

std::optional<std::string> SignerOf(const PackageCheck& check) {
    if (check.Signature.Outcome == SignatureOutcome::NotChecked) return std::nullopt;
    return check.Signature.Fingerprint;
}

} // namespace flash
