#pragma once
// tolvane-pack keygen, sign and verify, and the signature that --sign writes beside a package.
#include <cstdint>
#include <string>
#include <vector>

namespace pack {

// True when `command` names one of keygen, sign, verify.
bool IsSignCommand(const std::string& command);

// Runs keygen, sign or verify; args start with the command. The exit status: 0 done (or a valid
// signature), 1 a signature that does not verify, 2 usage or file error.
int RunSignCommand(const std::vector<std::string>& args);

// Writes PACKAGE.sig for the package bytes just written; false with the reason.
bool WriteSignature(const std::string& privateKeyPath, const std::string& packagePath,
                    const std::vector<uint8_t>& bytes, std::string& problem);

} // namespace pack
