#include "tools/devsim/CommandLine.h"

#include "serial/LineSettings.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace devsim {

namespace {

const char kUsage[] =
    "Usage: tolvane-devsim [options]\n"
    "A virtual modem on a pseudo-terminal. Prints the device path (one line) and serves until\n"
    "SIGINT/SIGTERM. In its working mode it answers \"AT+VERSION=?\\r\\n\" and \"AT+RESET\\r\"\n"
    "(then starts its loader); the loader answers the handshake ping and takes the package\n"
    "block by block, naming the block it wants next, and returns to working mode after the\n"
    "closing frame. A request is understood only at the baud rate of the current mode.\n"
    "\n"
    "Line and port:\n"
    "  --com N              register as COM<N> (link ports/COM<N>, removed on exit)\n"
    "  --ports DIR          port map folder (default: ports beside tolvane-devsim)\n"
    "  --working BAUD,PAR   working-mode settings (default 115200,none); PAR none|odd|even\n"
    "  --loader BAUD,PAR    loader settings (default 115200,even)\n"
    "  --version-text TEXT  version reply after \"\\r\\n\" (default \"VERSION:2.1\\r\\n\";\n"
    "                       \\r, \\n, \\\\ are understood)\n"
    "  --image PATH         write the received block area here after each transfer\n"
    "  --kind N             accept data frames of this kind only (default: any but 0)\n"
    "  --start-in-loader    start in the loader, as if reset before\n"
    "  --pace               take the wire time of every byte (start, data, parity, stop bits\n"
    "                       at the current settings) when reading requests and sending replies\n"
    "  -v, --verbose        log what is received and sent to stderr\n"
    "  -h, --help           this text\n"
    "\n"
    "Faults (K is a block index, the block count naming the closing frame; N how many\n"
    "replies to spoil, default 1, 0 for all):\n"
    "  --silent             answer nothing at all\n"
    "  --reset-error        answer the reset with \"\\r\\nERROR\\r\\n\" and stay in working mode\n"
    "  --ignore-pings       never answer the handshake ping\n"
    "  --corrupt-crc K[:N]  spoil the checksum of the reply to block K (repeatable)\n"
    "  --wrong-kind K[:N]   answer block K with another kind (repeatable)\n"
    "  --beyond K[:N]       answer block K with block count + 2 (repeatable)\n"
    "  --repeat-block K     once block K arrived, ask for it forever\n"
    "  --order reverse|K,K,...  ask for the blocks last to first, or these first and the\n"
    "                       rest ascending\n"
    "  --split-reply MS     send every reply in two bursts, MS milliseconds apart\n"
    "  --stray-byte[=HEX]   put one byte (default FF) in front of every reply\n"
    "  --delay MS           send every reply MS milliseconds late\n"
    "  --vanish-after K     close the line on receiving block K, without a reply, and exit\n";

bool ParseInt(const std::string& text, long min, long max, int& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value < min || value > max) return false;
    out = int(value);
    return true;
}

bool ParseBlockFault(const std::string& text, BlockFault& out) {
    const size_t colon = text.find(':');
    if (!ParseInt(text.substr(0, colon), 0, 65535, out.Block)) return false;
    out.Times = 1;
    return colon == std::string::npos || ParseInt(text.substr(colon + 1), 0, 1000000, out.Times);
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char c = text[++i];
            out += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

const char* UsageText() {
    return kUsage;
}

bool ParseLineMode(const std::string& text, LineMode& out) {
    ::LineMode mode;
    if (!::ParseLineMode(text, mode)) return false;
    out.Baud = mode.Baud;
    out.LineParity = Parity(mode.Parity);
    return true;
}

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error) {
    Faults& faults = out.Device.Fault;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        const size_t equals = name.find('=');
        if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            hasValue = true;
        }
        auto need = [&]() {
            if (!hasValue) {
                if (i + 1 >= args.size()) return false;
                value = args[++i];
                hasValue = true;
            }
            return true;
        };
        auto bad = [&](const std::string& what) {
            error = name + " " + what;
            return false;
        };

        if (name == "-h" || name == "--help") {
            out.Help = true;
        } else if (name == "-v" || name == "--verbose") {
            out.Verbose = true;
        } else if (name == "--com") {
            if (!need() || !ParseInt(value, 1, 256, out.ComNumber))
                return bad("needs a port number from 1 to 256");
        } else if (name == "--ports") {
            if (!need() || value.empty()) return bad("needs a folder");
            out.PortsFolder = value;
        } else if (name == "--working" || name == "--loader") {
            if (!need() ||
                !ParseLineMode(value, name == "--working" ? out.Device.Working : out.Device.Loader))
                return bad("needs BAUD,PARITY such as 115200,none or 9600,even");
        } else if (name == "--version-text") {
            if (!need()) return bad("needs a text");
            out.Device.VersionText = Unescape(value);
        } else if (name == "--image") {
            if (!need() || value.empty()) return bad("needs a file name");
            out.Device.ImagePath = value;
        } else if (name == "--kind") {
            if (!need() || !ParseInt(value, 1, 254, out.Device.ExpectedKind))
                return bad("needs a kind from 1 to 254");
        } else if (name == "--start-in-loader") {
            out.Device.StartInLoader = true;
        } else if (name == "--pace") {
            out.Device.Pace = true;
        } else if (name == "--silent") {
            faults.Silent = true;
        } else if (name == "--reset-error") {
            faults.ResetError = true;
        } else if (name == "--ignore-pings") {
            faults.IgnorePings = true;
        } else if (name == "--corrupt-crc" || name == "--wrong-kind" || name == "--beyond") {
            BlockFault fault;
            if (!need() || !ParseBlockFault(value, fault)) return bad("needs BLOCK or BLOCK:TIMES");
            (name == "--corrupt-crc"  ? faults.CorruptCrc
             : name == "--wrong-kind" ? faults.WrongKind
                                      : faults.Beyond)
                .push_back(fault);
        } else if (name == "--repeat-block") {
            if (!need() || !ParseInt(value, 0, 65535, faults.RepeatBlock))
                return bad("needs a block index");
        } else if (name == "--order") {
            if (!need()) return bad("needs reverse or a list of block indexes");
            if (value == "reverse") {
                faults.Reverse = true;
            } else {
                size_t start = 0;
                for (;;) {
                    const size_t comma = value.find(',', start);
                    int block;
                    if (!ParseInt(value.substr(start, comma - start), 0, 65535, block))
                        return bad("needs reverse or a list of block indexes such as 2,0,1");
                    faults.Order.push_back(block);
                    if (comma == std::string::npos) break;
                    start = comma + 1;
                }
            }
        } else if (name == "--split-reply") {
            if (!need() || !ParseInt(value, 0, 60000, faults.SplitMs))
                return bad("needs a pause in milliseconds");
        } else if (name == "--stray-byte") {
            faults.StrayByte = true;
            int byte = 0xFF;
            if (hasValue && !ParseInt("0x" + value, 0, 255, byte))
                return bad("takes one byte in hex, e.g. --stray-byte=00");
            faults.StrayValue = uint8_t(byte);
        } else if (name == "--delay") {
            if (!need() || !ParseInt(value, 0, 600000, faults.DelayMs))
                return bad("needs a delay in milliseconds");
        } else if (name == "--vanish-after") {
            if (!need() || !ParseInt(value, 0, 65535, faults.VanishAfter))
                return bad("needs a block index");
        } else {
            error = "unknown option " + args[i];
            return false;
        }
    }
    return true;
}

} // namespace devsim
