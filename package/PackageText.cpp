#include "package/PackageText.h"

std::string RefusalText(PackageRefusal refusal) {
    switch (refusal) {
    case PackageRefusal::None:
        break;
    case PackageRefusal::TooLarge:
        return "文件大小超过限制！";
    case PackageRefusal::SizeError:
        return "文件大小错误！";
    case PackageRefusal::FormatError:
        return "升级文件格式错误！";
    case PackageRefusal::ChecksumError:
        return "升级文件校验错误！";
    case PackageRefusal::NotSendable:
        return "无效的升级文件!";
    case PackageRefusal::Signature:
        return "固件包签名无效或不是受信任的密钥签署，已拒绝";
    }
    return {};
}

std::vector<std::string> PackageDescription(const PackageCheck& check) {
    std::vector<std::string> lines;
    if (check.Outcome != PackageLoadOutcome::Loaded) return lines;
    if (check.Kind == kPackageKindK46) lines.push_back("K46方案Modem升级");
    lines.push_back("文件MD5:" + check.Md5);
    if (!check.InfoText.empty()) lines.push_back("升级文件信息:" + check.InfoText);
    if (check.Signature.Outcome == SignatureOutcome::Valid)
        lines.push_back("签名：" + check.Signature.KeyName + "（" + check.Signature.Fingerprint +
                        "）");
    return lines;
}

std::string SignatureReason(const SignatureCheck& signature) {
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

std::string RefusalMessage(const PackageCheck& check) {
    const PackageRefusal refusal = RefusalOf(check);
    std::string message = RefusalText(refusal);
    if (refusal == PackageRefusal::Signature)
        message += " (" + SignatureReason(check.Signature) + ")";
    return message;
}

std::optional<std::string> SignerOf(const PackageCheck& check) {
    if (check.Signature.Outcome == SignatureOutcome::NotChecked) return std::nullopt;
    return check.Signature.Fingerprint;
}

std::vector<std::string> KeyWarnings(const TrustedKeys& keys) {
    std::vector<std::string> warnings;
    for (const KeyProblem& problem : keys.Problems)
        warnings.push_back("the key " + problem.File + " is not trusted: " + problem.Reason);
    if (keys.Configured && keys.Keys.empty())
        warnings.push_back("no trusted key can be used, so every package is refused");
    return warnings;
}
