#pragma once
// The program's own words for a package check, one copy for the window and the flasher: the
// refusal texts and the lines that describe a loaded package.
#include "package/FirmwarePackage.h"

#include <string>
#include <vector>

// The text of a refusal ("升级文件格式错误！" and so on); empty for None.
std::string RefusalText(PackageRefusal refusal);

// A loaded package described: the product line (kind 16 only), the digest line and the
// information line (only when there is information text), and the signer's line when a trusted
// key's signature was checked. Empty unless loaded.
std::vector<std::string> PackageDescription(const PackageCheck& check);
