#include "tools/devsim/CommandLine.h"

#include "base/PlainText.h"
#include "serial/LineSettings.h"
#include "tools/cli/UnknownOption.h"
#include "tools/devsim/HelpLayout.h"

#include <algorithm>
#include <functional>
#include <memory>

namespace devsim {

namespace {

const char kDescription[] =
    "A virtual modem on a pseudo-terminal. Prints the device path (one line) and serves until\n"
    "SIGINT/SIGTERM. In its working mode it answers \"AT+VERSION=?\\r\\n\" and \"AT+RESET\\r\"\n"
    "(then starts its loader); the loader answers the handshake ping and takes the package\n"
    "block by block, naming the block it wants next, and returns to working mode after the\n"
    "closing frame. A request is understood only at the baud rate of the current mode.\n";

const char kFooter[] = "K is a block index, the block count naming the closing frame; N how many\n"
                       "replies to spoil, default 1, 0 for all.";

const char kLineGroup[] = "Line and port";
const char kFaultGroup[] = "Faults";
const char kUnitGroup[] = "Units, as a production station sees them";

// The one place a number is read: CLI11's conversion, then the range.
bool ToInt(const std::string& text, long long min, long long max, int& out) {
    long long value = 0;
    if (!CLI::detail::lexical_cast(text, value) || value < min || value > max) return false;
    out = int(value);
    return true;
}

// A check whose message says what the option needs; CLI11 puts the option's name in front.
CLI::Validator Needs(std::function<bool(const std::string&)> accepts, std::string need) {
    return CLI::Validator([accepts = std::move(accepts), need = std::move(need)](
                              std::string& text) { return accepts(text) ? std::string() : need; },
                          "");
}

CLI::Validator IntIn(long long min, long long max, std::string need) {
    return Needs(
        [min, max](const std::string& text) {
            int ignored;
            return ToInt(text, min, max, ignored);
        },
        std::move(need));
}

CLI::Validator NotEmpty(std::string need) {
    return Needs([](const std::string& text) { return !text.empty(); }, std::move(need));
}

bool ParseBlockFault(const std::string& text, BlockFault& out) {
    const size_t colon = text.find(':');
    if (!ToInt(text.substr(0, colon), 0, 65535, out.Block)) return false;
    out.Times = 1;
    return colon == std::string::npos || ToInt(text.substr(colon + 1), 0, 1000000, out.Times);
}

// "K:MS": the block, then how long the port is away.
bool ParseDrop(const std::string& text, PortDrop& out) {
    const size_t colon = text.find(':');
    return colon != std::string::npos && ToInt(text.substr(0, colon), 0, 65535, out.Block) &&
           ToInt(text.substr(colon + 1), 0, 600000, out.Ms);
}

// A command as the device compares it: from "AT" to before the "\r" ("AT+CGSN\r\n" or
// "AT+CGSN" are both AT+CGSN).
bool ParseCommand(const std::string& text, std::string& out) {
    const std::string command = WithoutLineEnds(UnescapeText(text));
    if (command.rfind("AT", 0) != 0 || command.find_first_of("\r\n") != std::string::npos)
        return false;
    out = command;
    return true;
}

// "reverse", or block indexes such as "2,0,1".
bool ParseOrder(const std::string& text, Faults& out) {
    if (text == "reverse") {
        out.Reverse = true;
        return true;
    }
    std::vector<int> order;
    for (size_t start = 0;;) {
        const size_t comma = text.find(',', start);
        int block;
        if (!ToInt(text.substr(start, comma - start), 0, 65535, block)) return false;
        order.push_back(block);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    out.Order.insert(out.Order.end(), order.begin(), order.end());
    return true;
}

// An option that may be given more than once, each value on its own.
CLI::Option* AddRepeatable(CLI::App& app, const std::string& name,
                           std::function<void(const std::string&)> take, const std::string& help) {
    return app.add_option(name, help)
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->each(std::move(take));
}

void AddBlockFault(CLI::App& app, const std::string& name, std::vector<BlockFault>& list,
                   const std::string& help) {
    AddRepeatable(
        app, name,
        [&list](const std::string& text) {
            BlockFault fault;
            ParseBlockFault(text, fault);
            list.push_back(fault);
        },
        help)
        ->check(Needs(
            [](const std::string& text) {
                BlockFault ignored;
                return ParseBlockFault(text, ignored);
            },
            "needs BLOCK or BLOCK:TIMES"))
        ->option_text(" K[:N]")
        ->group(kFaultGroup);
}

void AddLineMode(CLI::App& app, const std::string& name, LineMode& mode, const std::string& help) {
    app.add_option_function<std::string>(
           name, [&mode](const std::string& text) { ParseLineMode(text, mode); }, help)
        ->check(Needs(
            [](const std::string& text) {
                LineMode ignored;
                return ParseLineMode(text, ignored);
            },
            "needs BAUD,PARITY such as 115200,none or 9600,even"))
        ->type_name("BAUD,PAR");
}

void AddLineOptions(CLI::App& app, CommandLine& out) {
    app.option_defaults()->group(kLineGroup);
    app.add_option("--com", out.ComNumber,
                   "register as COM<N> (link ports/COM<N>, removed on exit)")
        ->type_name("N")
        ->check(IntIn(1, 256, "needs a port number from 1 to 256"));
    app.add_option("--ports", out.PortsFolder,
                   "port map folder (default: the window's, beside tolvane-devsim or,\n"
                   "when installed, in ~/.config/tolvane)")
        ->type_name("DIR")
        ->check(NotEmpty("needs a folder"));
    AddLineMode(app, "--working", out.Device.Working,
                "working-mode settings (default 115200,none); PAR none|odd|even");
    AddLineMode(app, "--loader", out.Device.Loader, "loader settings (default 115200,even)");
    app.add_option_function<std::string>(
           "--version-text",
           [&out](const std::string& text) { out.Device.VersionText = UnescapeText(text); },
           "version reply after \"\\r\\n\" (default \"VERSION:2.1\\r\\n\";\n"
           "\\r, \\n, \\t, \\\\, \\xHH are understood)")
        ->type_name("TEXT");
    app.add_option("--image", out.Device.ImagePath,
                   "write the received block area here after each transfer")
        ->type_name("PATH")
        ->check(NotEmpty("needs a file name"));
    app.add_option("--kind", out.Device.ExpectedKind,
                   "accept data frames of this kind only (default: any but 0)")
        ->type_name("N")
        ->check(IntIn(1, 254, "needs a kind from 1 to 254"));
    app.add_flag("--start-in-loader", out.Device.StartInLoader,
                 "start in the loader, as if reset before");
    app.add_flag("--pace", out.Device.Pace,
                 "take the wire time of every byte (start, data, parity, stop bits\n"
                 "at the current settings) when reading requests and sending replies");
    app.add_flag("-v,--verbose", out.Verbose, "log what is received and sent to stderr");
    app.set_help_flag("-h,--help", "this text")->group(kLineGroup);
    app.add_flag("--version", out.Version, "the program's version");
}

void AddStrayByte(CLI::App& app, Faults& faults) {
    const auto hexByte = [](const std::string& text, int& byte) {
        return ToInt("0x" + text, 0, 255, byte);
    };
    app.add_flag("--stray-byte{FF}")
        ->description("put one byte (default FF) in front of every reply")
        ->option_text("[=HEX]")
        ->check(Needs(
            [hexByte](const std::string& text) {
                int ignored;
                return hexByte(text, ignored);
            },
            "takes one byte in hex, e.g. --stray-byte=00"))
        ->each([&faults, hexByte](const std::string& text) {
            int byte = 0xFF;
            hexByte(text, byte);
            faults.StrayByte = true;
            faults.StrayValue = uint8_t(byte);
        });
}

void AddFaultOptions(CLI::App& app, Faults& faults) {
    app.option_defaults()->group(kFaultGroup);
    app.add_flag("--silent", faults.Silent, "answer nothing at all");
    app.add_flag("--reset-error", faults.ResetError,
                 "answer the reset with \"\\r\\nERROR\\r\\n\" and stay in working mode");
    app.add_flag("--ignore-pings", faults.IgnorePings, "never answer the handshake ping");
    AddBlockFault(app, "--corrupt-crc", faults.CorruptCrc,
                  "spoil the checksum of the reply to block K (repeatable)");
    AddBlockFault(app, "--wrong-kind", faults.WrongKind,
                  "answer block K with another kind (repeatable)");
    AddBlockFault(app, "--beyond", faults.Beyond,
                  "answer block K with block count + 2 (repeatable)");
    app.add_option("--repeat-block", faults.RepeatBlock, "once block K arrived, ask for it forever")
        ->type_name("K")
        ->check(IntIn(0, 65535, "needs a block index"));
    AddRepeatable(
        app, "--order", [&faults](const std::string& text) { ParseOrder(text, faults); },
        "ask for the blocks last to first, or these first and the\nrest ascending")
        ->option_text(" reverse|K,K,...")
        ->check(Needs(
            [](const std::string& text) {
                Faults ignored;
                return ParseOrder(text, ignored);
            },
            "needs reverse or a list of block indexes such as 2,0,1"));
    app.add_option("--split-reply", faults.SplitMs,
                   "send every reply in two bursts, MS milliseconds apart")
        ->type_name("MS")
        ->check(IntIn(0, 60000, "needs a pause in milliseconds"));
    AddStrayByte(app, faults);
    app.add_option("--delay", faults.DelayMs, "send every reply MS milliseconds late")
        ->type_name("MS")
        ->check(IntIn(0, 600000, "needs a delay in milliseconds"));
    AddRepeatable(
        app, "--drop-at",
        [&faults](const std::string& text) {
            PortDrop drop;
            ParseDrop(text, drop);
            faults.Drops.push_back(drop);
        },
        "on receiving block K the port drops, without a reply, and comes\n"
        "back MS milliseconds later under the same name (a new pseudo-\n"
        "terminal), the loader's state kept; once per unit (repeatable)")
        ->check(Needs(
            [](const std::string& text) {
                PortDrop ignored;
                return ParseDrop(text, ignored);
            },
            "needs BLOCK:MILLISECONDS such as 3:500"))
        ->option_text(" K:MS");
    app.add_option("--vanish-after", faults.VanishAfter,
                   "close the line on receiving block K, without a reply, and exit")
        ->type_name("K")
        ->check(IntIn(0, 65535, "needs a block index"));
}

void AddIdentityOptions(CLI::App& app, DeviceOptions& device) {
    app.option_defaults()->group(kUnitGroup);
    CLI::Option* ids =
        AddRepeatable(
            app, "--id", [&device](const std::string& text) { device.Ids.push_back(text); },
            "identity answered to the identity command, as \"\\r\\n<id>\\r\\n\\r\\nOK\\r\\n\";\n"
            "repeated: of unit 1, 2, ... in turn, a unit past the list has\n"
            "none. Without one the command is answered \"\\r\\nERROR\\r\\n\"")
            ->type_name("TEXT");
    app.add_option("--id-pattern", device.IdPattern,
                   "identity of unit N: TEXT with its run of # replaced by N,\n"
                   "zero-padded (8600000000#### gives 86000000000001, ...)")
        ->type_name("TEXT")
        ->check(Needs([](const std::string& text) { return text.find('#') != std::string::npos; },
                      "needs a run of # for the unit number, such as 8600000000####"))
        ->excludes(ids);
    app.add_option_function<std::string>(
           "--id-command",
           [&device](const std::string& text) { ParseCommand(text, device.IdCommand); },
           "the identity command (default \"AT+CGSN\\r\\n\")")
        ->type_name("TEXT")
        ->check(Needs(
            [](const std::string& text) {
                std::string ignored;
                return ParseCommand(text, ignored);
            },
            "needs an AT command such as AT+CGSN"));
}

void AddUnitOptions(CLI::App& app, DeviceOptions& device) {
    AddIdentityOptions(app, device);
    app.add_option_function<std::string>(
           "--version-after",
           [&device](const std::string& text) { device.VersionAfter = UnescapeText(text); },
           "version reply after a complete transfer, written as --version-text\n"
           "(default: the version text, unchanged)")
        ->type_name("TEXT");
    app.add_option("--boot-delay", device.BootDelayMs,
                   "after a complete transfer the new firmware starts: nothing is\n"
                   "heard or answered for MS milliseconds (default 0)")
        ->type_name("MS")
        ->check(IntIn(0, 600000, "needs a time in milliseconds"));
    app.add_option_function<int>(
           "--units", [&device](int units) { device.Units = units == 0 ? kEndlessUnits : units; },
           "N units one after another on the port (0: no end). Each is taken\n"
           "away (its port vanishes) half a second after its version has\n"
           "been asked following its upgrade; the next arrives --absent later\n"
           "under the same name, with its own identity and the old version.\n"
           "The program ends after the last. Default: one unit that stays")
        ->type_name("N")
        ->check(IntIn(0, 1000000, "needs a number of units (0: no end)"));
    app.add_option("--absent", device.AbsentMs,
                   "how long the port is away between two units (default 1000)")
        ->type_name("MS")
        ->check(IntIn(0, 600000, "needs a time in milliseconds"));
}

std::unique_ptr<CLI::App> MakeApp(CommandLine& out) {
    auto app = std::make_unique<CLI::App>(kDescription, "tolvane-devsim");
    app->formatter(std::make_shared<HelpLayout>());
    app->get_formatter()->column_width(25);
    // As before: a value given twice counts the last time, unless the option repeats.
    app->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app->footer(kFooter);
    AddLineOptions(*app, out);
    AddUnitOptions(*app, out.Device);
    AddFaultOptions(*app, out.Device.Fault);
    return app;
}

} // namespace

std::string UsageText() {
    CommandLine ignored;
    return MakeApp(ignored)->help();
}

bool ParseLineMode(const std::string& text, LineMode& out) {
    ::LineMode mode;
    if (!::ParseLineMode(text, mode)) return false;
    out.Baud = mode.Baud;
    out.LineParity = Parity(mode.Parity);
    return true;
}

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error) {
    const std::unique_ptr<CLI::App> app = MakeApp(out);
    std::vector<std::string> reversed(args.rbegin(), args.rend()); // CLI11 takes them last first
    try {
        app->parse(reversed);
    } catch (const CLI::CallForHelp&) {
        out.Help = true;
    } catch (const CLI::ParseError& e) {
        error = cli::RefusalMessage(*app, e);
        return false;
    }
    return true;
}

} // namespace devsim
