#include "tools/flash/FlashOptions.h"

#include "Version.h"
#include "app/IniProfile.h"
#include "app/SettingsKeys.h"
#include "serial/DecimalNumber.h"
#include "station/UtcTime.h"

#include <CLI/CLI.hpp>

#include <cmath>

namespace flash {

namespace {

const char kDescription[] =
    "Upgrades the firmware of devices on serial ports with a \".enc2\" package, exactly as the\n"
    "window's \"开始升级\" does on the wire.\n";

const char kExitStatuses[] =
    "Every option may be given before or after the command (those of one command only: after\n"
    "it).\n"
    "\n"
    "Exit status: 0 every port succeeded, 1 an upgrade failed, 2 bad command line, 3 package\n"
    "refused, 4 a port could not be opened, 5 no answer to block 0, 130 interrupted.";

// The command list names each command's operands: "info PACKAGE".
class CommandFormatter : public CLI::Formatter {
  public:
    std::string make_subcommand(const CLI::App* sub) const override {
        std::string name = sub->get_name();
        for (const CLI::Option* operand :
             sub->get_options([](const CLI::Option* option) { return option->get_positional(); }))
            name += " " + operand->get_name();
        std::stringstream out;
        CLI::detail::format_help(out, name, sub->get_description(), get_column_width());
        return out.str();
    }
};

// A BAUD,PARITY option: checked as it is read, so the message names the option.
void AddLineMode(CLI::App& app, const std::string& name, std::optional<LineMode>& mode,
                 const std::string& description) {
    app.add_option_function<std::string>(
           name,
           [&mode, name](const std::string& text) {
               LineMode parsed;
               if (!ParseLineMode(text, parsed))
                   throw CLI::ValidationError(name, "not BAUD,PARITY (e.g. 115200,none): " + text);
               mode = parsed;
           },
           description)
        ->option_text("BAUD,PARITY");
}

// A number of seconds above 0 and at most a million (about eleven days).
std::string SecondsProblem(const std::string& text) {
    double value = 0;
    if (CLI::detail::lexical_cast(text, value) && std::isfinite(value) && value > 0 && value <= 1e6)
        return {};
    return "not a number of seconds above 0: " + text;
}

// The program's options. Every command takes all of them, and so does the program before the
// command: they may stand anywhere, as they always could.
void AddOptions(CLI::App& app, FlashOptions& out) {
    app.add_option_function<std::vector<std::string>>(
           "--port",
           [&out](const std::vector<std::string>& ports) {
               out.Ports.insert(out.Ports.end(), ports.begin(), ports.end());
           },
           "COM<n> (as the window lists it) or a device path; flash takes\n"
           "several, one --port each")
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->type_name("PORT")
        ->option_text("PORT");
    AddLineMode(app, "--working", out.Working,
                "the device's working mode, e.g. 115200,none (parity none, odd,\n"
                "even or n, o, e); default: as saved in Config.ini");
    AddLineMode(app, "--loader", out.Loader,
                "the loader's mode, e.g. 115200,even; default: Config.ini");
    app.add_flag("--json", out.Json, "JSON Lines on standard output");
    app.add_flag("-q,--quiet", out.Quiet, "only the result lines");
    app.add_flag("-v,--verbose", out.Verbose, "also the status texts as they happen");
    app.add_option("--trace", out.TracePath,
                   "every byte sent and received, with time stamps, into FILE")
        ->type_name("FILE")
        ->option_text("FILE");
    app.add_option("--timeout", out.TimeoutSeconds, "give up a run that takes longer")
        ->check(CLI::Validator(SecondsProblem, ""))
        ->type_name("SECONDS")
        ->option_text("SECONDS");
    app.add_flag("--prompt-replies", out.PromptReplies,
                 "take a complete binary reply as soon as it has arrived");
    app.add_option_function<std::vector<std::string>>(
           "--trust",
           [&out](const std::vector<std::string>& keys) {
               out.Trust.insert(out.Trust.end(), keys.begin(), keys.end());
           },
           "trust this public key (PEM) too, besides the settings folder's\n"
           "trusted-keys: a package is then used only when signed by one;\n"
           "one --trust each")
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->type_name("KEY.pem")
        ->option_text("KEY.pem");
}

// Seconds from 0 (off) to a million.
std::string SecondsOrZeroProblem(const std::string& text) {
    double value = 0;
    if (CLI::detail::lexical_cast(text, value) && std::isfinite(value) && value >= 0 &&
        value <= 1e6)
        return {};
    return "not a number of seconds from 0: " + text;
}

std::string CountProblem(const std::string& text) {
    uint64_t value = 0;
    return ParseDecimal(text, 1000000, value) ? std::string() : "not a count from 0: " + text;
}

void AddFlashRecordOptions(CLI::App& flash, FlashOptions& out) {
    flash
        .add_option("--log", out.LogPath,
                    "append each port's record (as the station writes it) to FILE")
        ->type_name("FILE")
        ->option_text("FILE");
    flash
        .add_option("--reconnect", out.ReconnectSeconds,
                    "a port that vanishes during the transfer is awaited this\n"
                    "long, opened again and the block sent again (default 0: off)")
        ->check(CLI::Validator(SecondsOrZeroProblem, ""))
        ->option_text("SECONDS");
}

void AddStationOptions(CLI::App& station, StationOptions& out) {
    station
        .add_option_function<std::vector<std::string>>(
            "--slot",
            [&out](const std::vector<std::string>& slots) {
                for (const std::string& text : slots) {
                    station::SlotSetup slot;
                    if (!ParseSlot(text, slot))
                        throw CLI::ValidationError("--slot", "not [NAME=]PORT: " + text);
                    out.Slots.push_back(slot);
                }
            },
            "a slot of the fixture: COM<n> or a device path (for USB\n"
            "adapters /dev/serial/by-path/...), named NAME on the screen\n"
            "and in the records; one --slot each")
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->required()
        ->option_text("[NAME=]PORT");
    station
        .add_option("--expect-version", out.ExpectVersion,
                    "a unit passes only when its version after contains TEXT")
        ->option_text("TEXT");
    station
        .add_option("--id-command", out.IdCommand,
                    "the identity command (default AT+CGSN; \\r, \\n understood),\n"
                    "or none")
        ->option_text("TEXT|none");
    station.add_option("--log", out.LogPath, "the records (default tolvane-records.jsonl)")
        ->option_text("FILE");
    station.add_option("--trace-dir", out.TraceDir, "one byte trace per unit in DIR")
        ->option_text("DIR");
    station.add_option("--lot", out.Lot, "the production lot, kept in every record")
        ->option_text("TEXT");
    station.add_option("--operator", out.Operator, "the operator, kept in every record")
        ->option_text("TEXT");
    station
        .add_option_function<std::string>(
            "--max-slot-failures",
            [&out](const std::string& text) {
                uint64_t value = 0;
                ParseDecimal(text, 1000000, value);
                out.MaxSlotFailures = int(value);
            },
            "failed units in a row before a slot goes out of service\n"
            "(default 3, 0: never)")
        ->check(CLI::Validator(CountProblem, ""))
        ->option_text("N");
    station
        .add_option("--boot-timeout", out.BootTimeoutSeconds,
                    "how long the new firmware may take to answer (default 60)")
        ->check(CLI::Validator(SecondsProblem, ""))
        ->option_text("SECONDS");
    station
        .add_option("--reconnect", out.ReconnectSeconds,
                    "a port that vanishes during the transfer is awaited this\n"
                    "long (default 10, 0: off)")
        ->check(CLI::Validator(SecondsOrZeroProblem, ""))
        ->option_text("SECONDS");
    station.add_flag("--window-timing", out.WindowTiming,
                     "the window's reply timing instead of prompt replies");
    station.add_flag("--once", out.Once,
                     "each slot upgrades one unit, then the station ends with\n"
                     "flash's exit statuses");
}

void AddHistoryOptions(CLI::App& history, HistoryOptions& out) {
    history.add_option("--log", out.Log, "the records (default tolvane-records.jsonl)")
        ->option_text("FILE");
    history.add_option("--id", out.Filter.Id, "only this unit")->option_text("TEXT");
    history.add_option("--slot", out.Filter.Slot, "only this slot")->option_text("NAME");
    history
        .add_option_function<std::string>(
            "--since",
            [&out](const std::string& text) {
                if (!station::NormaliseIsoTime(text, out.Filter.Since))
                    throw CLI::ValidationError("--since",
                                               "not a date or date and time (UTC): " + text);
            },
            "only units started at or after TIME (UTC: 2026-12-09 or\n"
            "2026-12-09T14:30)")
        ->option_text("TIME");
    history.add_flag("--failed", out.Filter.FailedOnly, "only failed units");
    history.add_flag_function(
        "--csv", [&out](int64_t) { out.Form = HistoryForm::Csv; },
        "one header line and a row per record (RFC 4180)");
}

void Define(CLI::App& app, FlashOptions& out) {
    app.description(kDescription);
    app.footer(kExitStatuses);
    app.allow_windows_style_options(false); // "/dev/..." and "/x.enc2" are never options
    app.require_subcommand(1);
    app.formatter(std::make_shared<CommandFormatter>());
    app.get_formatter()->column_width(26);
    app.get_formatter()->label("SUBCOMMAND", "COMMAND");
    app.set_help_flag("-h,--help", "this text");
    app.set_version_flag("--version", std::string("tolvane-flash ") + TOLVANE_VERSION,
                         "the program's version");
    AddOptions(app, out);

    const auto command = [&](const char* name, const char* description) {
        CLI::App* sub = app.add_subcommand(name, description);
        sub->group("Commands");
        sub->set_help_flag(); // its --help is the program's: the one text tells all
        sub->fallthrough();
        AddOptions(*sub, out);
        return sub;
    };
    command("info", "checks and describes PACKAGE as the window does")
        ->add_option("PACKAGE", out.Package, "the \".enc2\" package")
        ->required();
    command("ports", "lists every COM number present with the device it opens");
    command("version", "asks the device on the one --port for its version (working mode)");
    CLI::App* flash = command("flash", "upgrades the device on every --port with PACKAGE");
    flash->add_option("PACKAGE", out.Package, "the \".enc2\" package")->required();
    AddFlashRecordOptions(*flash, out);
    CLI::App* station =
        command("station", "a production station: every --slot upgrades one unit after\n"
                           "another with PACKAGE, each verified and recorded");
    station->add_option("PACKAGE", out.Package, "the \".enc2\" package")->required();
    AddStationOptions(*station, out.Station);
    AddHistoryOptions(*command("history", "the unit records of a log: a table, --json or --csv"),
                      out.History);
}

// The rules between the command and --port, which CLI11 cannot state for options that stand
// before the command.
bool CheckPorts(const std::string& command, const FlashOptions& out, std::string& error) {
    const bool needsPort = out.Action == Command::QueryVersion || out.Action == Command::Flash;
    if (needsPort && out.Ports.empty())
        error = command + " needs --port PORT";
    else if (out.Action == Command::QueryVersion && out.Ports.size() > 1)
        error = "version takes one --port";
    else if (!needsPort && !out.Ports.empty())
        error = command + " takes no --port";
    return error.empty();
}

} // namespace

std::string FlashUsage() {
    FlashOptions unused;
    CLI::App app("", "tolvane-flash");
    Define(app, unused);
    std::string text = app.help();
    // The options only one command takes, under that command's name.
    std::string own;
    CommandFormatter format;
    format.column_width(26);
    for (const CLI::App* sub : app.get_subcommands({})) {
        std::string lines;
        for (const CLI::Option* option : sub->get_options()) {
            if (option->get_positional() || app.get_option_no_throw(option->get_name())) continue;
            lines += format.make_option(option, false);
        }
        if (!lines.empty()) own += "\nOptions of " + sub->get_name() + ":\n" + lines;
    }
    const size_t footer = text.rfind("\nEvery option may be given");
    if (footer != std::string::npos) text.insert(footer, own);
    return text;
}

bool ParseFlashOptions(const std::vector<std::string>& args, FlashOptions& out,
                       std::string& error) {
    CLI::App app("", "tolvane-flash");
    Define(app, out);
    std::vector<std::string> reversed(args.rbegin(), args.rend()); // CLI11 takes them last first
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        out.Action = Command::Help;
        return true;
    } catch (const CLI::CallForVersion&) {
        out.Action = Command::Version;
        return true;
    } catch (const CLI::ParseError& e) {
        error = e.what();
        if (app.get_subcommands().empty() && dynamic_cast<const CLI::RequiredError*>(&e)) {
            // What stood where the command belongs, if anything.
            const std::vector<std::string> rest = app.remaining();
            error = rest.empty()                                        ? "no command given"
                    : rest.front().size() > 1 && rest.front()[0] == '-' ? "unknown option "
                                                                        : "unknown command ";
            if (!rest.empty()) error += rest.front();
            error += " (commands: info, ports, version, flash, station, history)";
        }
        return false;
    }
    const std::vector<CLI::App*> given = app.get_subcommands();
    const std::string command = given.front()->get_name();
    out.Action = command == "info"      ? Command::Info
                 : command == "ports"   ? Command::Ports
                 : command == "version" ? Command::QueryVersion
                 : command == "station" ? Command::Station
                 : command == "history" ? Command::History
                                        : Command::Flash;
    if (out.Action == Command::History) {
        if (out.Json && out.History.Form == HistoryForm::Csv) {
            error = "history takes --json or --csv, not both";
            return false;
        }
        if (out.Json) out.History.Form = HistoryForm::Json;
        if (out.History.Log.empty()) out.History.Log = StationOptions().LogPath;
    }
    if (out.Action == Command::Station) {
        for (size_t i = 0; i < out.Station.Slots.size(); ++i)
            for (size_t j = 0; j < i; ++j)
                if (out.Station.Slots[i].Name == out.Station.Slots[j].Name) {
                    error = "--slot: two slots named " + out.Station.Slots[i].Name;
                    return false;
                }
        out.Station.Package = out.Package;
        out.Station.Json = out.Json;
        out.Station.Quiet = out.Quiet;
    }
    return CheckPorts(command, out, error);
}

void TakeModesFromSettings(const std::string& iniPath, FlashOptions& options) {
    const IniProfile ini(iniPath);
    const std::vector<std::string> rates = SplitItems(BaudRateItems);
    const int parities = int(SplitItems(ParityItems).size());
    auto read = [&](const char* baudKey, const char* parityKey, std::optional<LineMode>& mode) {
        if (mode) return;
        const int baud = ini.ReadInteger(settings_keys::Section, baudKey, -1);
        const int parity = ini.ReadInteger(settings_keys::Section, parityKey, -1);
        if (baud < 0 || baud >= int(rates.size()) || parity < 0 || parity >= parities) return;
        mode = LineMode{uint32_t(BaudRateOfItem(rates[size_t(baud)])), uint8_t(parity)};
    };
    read(settings_keys::WorkingBaudRate, settings_keys::WorkingParity, options.Working);
    read(settings_keys::LoaderBaudRate, settings_keys::LoaderParity, options.Loader);
}

} // namespace flash
