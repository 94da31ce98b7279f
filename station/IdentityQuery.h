#pragma once
// The unit's identity: the command that asks for it and what is kept of the reply.
#include <string>

namespace station {

// The modem's usual serial-number query.
inline constexpr const char* DefaultIdCommand = "AT+CGSN\r\n";

// A command as written on a command line (UnescapeText's rule), and a command that does not
// end in CR or LF gets CR LF.
std::string CommandFromOption(const std::string& option);

// The identity in a text reply (without its leading CR LF): trimmed of CR, LF, spaces and a
// trailing "OK"; empty when the reply is "ERROR" (or ends with it).
std::string IdentityFromReply(const std::string& reply);

} // namespace station
