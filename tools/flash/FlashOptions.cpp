#include "tools/flash/FlashOptions.h"

#include "app/IniProfile.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace flash {

namespace {

const char kUsage[] =
    "Usage:\n"
    "  tolvane-flash info PACKAGE\n"
    "  tolvane-flash ports\n"
    "  tolvane-flash version --port PORT [--working BAUD,PARITY]\n"
    "  tolvane-flash flash PACKAGE --port PORT [--port PORT ...] [--working BAUD,PARITY]\n"
    "                [--loader BAUD,PARITY] [--json] [--quiet] [-v] [--trace FILE]\n"
    "                [--timeout SECONDS] [--prompt-replies]\n"
    "  tolvane-flash --help | --version\n"
    "\n"
    "Upgrades the firmware of devices on serial ports with a \".enc2\" package, exactly as the\n"
    "window's \"开始升级\" does on the wire.\n"
    "\n"
    "  PORT                 COM<n> (as the window lists it) or a device path\n"
    "  --working BAUD,PARITY  the device's working mode, e.g. 115200,none (parity none, odd,\n"
    "                       even or n, o, e); default: as saved in Config.ini\n"
    "  --loader BAUD,PARITY   the loader's mode, e.g. 115200,even; default: Config.ini\n"
    "  --json               JSON Lines on standard output\n"
    "  --quiet              only the result lines\n"
    "  -v, --verbose        also the status texts as they happen\n"
    "  --trace FILE         every byte sent and received, with time stamps, into FILE\n"
    "  --timeout SECONDS    give up a run that takes longer\n"
    "  --prompt-replies     take a complete binary reply as soon as it has arrived\n"
    "\n"
    "Exit status: 0 every port succeeded, 1 an upgrade failed, 2 bad command line, 3 package\n"
    "refused, 4 a port could not be opened, 5 no answer to block 0, 130 interrupted.\n";

bool ParseSeconds(const std::string& text, double& seconds) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != 0 || !std::isfinite(value) || value <= 0 || value > 1e6) return false;
    seconds = value;
    return true;
}

} // namespace

const char* FlashUsage() {
    return kUsage;
}

bool ParseFlashOptions(const std::vector<std::string>& args, FlashOptions& out,
                       std::string& error) {
    std::vector<std::string> operands;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size()) {
                error = name + " needs a value";
                return false;
            }
            into = args[++i];
            return true;
        };
        std::string text;
        if (name == "-h" || name == "--help") {
            out.Action = Command::Help;
            return true;
        } else if (name == "--version") {
            out.Action = Command::Version;
            return true;
        } else if (name == "--port") {
            if (!value(text)) return false;
            out.Ports.push_back(text);
        } else if (name == "--working" || name == "--loader") {
            if (!value(text)) return false;
            LineMode mode;
            if (!ParseLineMode(text, mode)) {
                error = name + ": not BAUD,PARITY (e.g. 115200,none): " + text;
                return false;
            }
            (name == "--working" ? out.Working : out.Loader) = mode;
        } else if (name == "--json") {
            out.Json = true;
        } else if (name == "--quiet" || name == "-q") {
            out.Quiet = true;
        } else if (name == "-v" || name == "--verbose") {
            out.Verbose = true;
        } else if (name == "--trace") {
            if (!value(out.TracePath)) return false;
        } else if (name == "--timeout") {
            if (!value(text)) return false;
            if (!ParseSeconds(text, out.TimeoutSeconds)) {
                error = "--timeout: not a number of seconds above 0: " + text;
                return false;
            }
        } else if (name == "--prompt-replies") {
            out.PromptReplies = true;
        } else if (name.size() > 1 && name[0] == '-') {
            error = "unknown option " + name;
            return false;
        } else {
            operands.push_back(name);
        }
    }

    if (operands.empty()) {
        error = "no command given";
        return false;
    }
    const std::string& command = operands[0];
    const size_t wanted = command == "info" || command == "flash" ? 2 : 1;
    if (command == "info")
        out.Action = Command::Info;
    else if (command == "ports")
        out.Action = Command::Ports;
    else if (command == "version")
        out.Action = Command::QueryVersion;
    else if (command == "flash")
        out.Action = Command::Flash;
    else {
        error = "unknown command " + command;
        return false;
    }
    if (operands.size() != wanted) {
        error = operands.size() < wanted ? command + " needs a PACKAGE"
                                         : "unexpected argument " + operands[wanted];
        return false;
    }
    if (wanted == 2) out.Package = operands[1];
    const bool needsPort = out.Action == Command::QueryVersion || out.Action == Command::Flash;
    if (needsPort && out.Ports.empty()) {
        error = command + " needs --port PORT";
        return false;
    }
    if (out.Action == Command::QueryVersion && out.Ports.size() > 1) {
        error = "version takes one --port";
        return false;
    }
    if (!needsPort && !out.Ports.empty()) {
        error = command + " takes no --port";
        return false;
    }
    return true;
}

void TakeModesFromSettings(const std::string& iniPath, FlashOptions& options) {
    const IniProfile ini(iniPath);
    const std::vector<std::string> rates = SplitItems(BaudRateItems);
    const int parities = int(SplitItems(ParityItems).size());
    auto read = [&](const char* baudKey, const char* parityKey, std::optional<LineMode>& mode) {
        if (mode) return;
        const int baud = ini.ReadInteger("COMPort1", baudKey, -1);
        const int parity = ini.ReadInteger("COMPort1", parityKey, -1);
        if (baud < 0 || baud >= int(rates.size()) || parity < 0 || parity >= parities) return;
        mode = LineMode{uint32_t(BaudRateOfItem(rates[size_t(baud)])), uint8_t(parity)};
    };
    read("BaudrateWk", "ParityWk", options.Working);
    read("BaudrateBt", "ParityBt", options.Loader);
}

} // namespace flash
