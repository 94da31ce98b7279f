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
