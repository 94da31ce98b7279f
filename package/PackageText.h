#pragma once
// The program's own words for a package check, one copy for the window and the flasher: the
// refusal texts and the lines that describe a loaded package.
#include "package/FirmwarePackage.h"

#include <optional>
#include <string>
#include <vector>

// The text of a refusal ("升级文件格式错误！" and so on); empty for None.
std::string RefusalText(PackageRefusal refusal);

// A loaded package described: the product line (kind 16 only), the digest line and the
// information line (only when there is information text), and the signer's line when a trusted
// key's signature was checked. Empty unless loaded.
std::vector<std::string> PackageDescription(const PackageCheck& check);

// Why a signature was refused, in words ("not signed: ..."); empty for NotChecked and Valid.
std::string SignatureReason(const SignatureCheck& signature);

// Why a package is refused: the refusal's text, with the signature's reason for a signature.
std::string RefusalMessage(const PackageCheck& check);

// A record's signer: the key's fingerprint, nothing when no key is configured.
std::optional<std::string> SignerOf(const PackageCheck& check);

// What a program warns about its trusted keys, without its name: each file that cannot be used,
// and that every package is refused when keys were offered and none can be used.
std::vector<std::string> KeyWarnings(const TrustedKeys& keys);
