#include "tools/flash/FlashOptions.h"

#include "Version.h"
#include "serial/DecimalNumber.h"
#include "settings/IniProfile.h"
#include "settings/SettingsKeys.h"
#include "station/UtcTime.h"
#include "tools/cli/LineModeOption.h"
#include "tools/cli/UnknownOption.h"

#include <CLI/CLI.hpp>

#include <cmath>

namespace flash {

namespace {

const char kDescription[] =
    "Upgrades the firmware of devices on serial ports with a \".enc2\" package, exactly as the\n"
    "window's \"开始升级\" does on the wire.\n";

const char kOptionPlaces[] =
    "Every option may be given before or after the command (those of one command only: after\n"
    "it). \"tolvane-flash COMMAND --help\" shows one command's usage and options.";

const char kExitStatus[] =
    "Exit status: 0 every port succeeded, 1 an upgrade failed, 2 bad command line, 3 package\n"
    "refused, 4 a port could not be opened, 5 no answer to block 0, 130 interrupted.";

// The group of the program-wide options a command makes no use of (a CLI11 option without a
// group would lose its name in error messages too).
const char kUnusedGroup[] = "Unused";

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
    // An operand's line without its type: "PACKAGE", not "PACKAGE TEXT REQUIRED".
    std::string make_option_opts(const CLI::Option* option) const override {
        return option->get_positional() ? "" : CLI::Formatter::make_option_opts(option);
    }
    // The options a command does not use stay out of its help, and leave no blank line there.
    std::string make_group(std::string group, bool isPositional,
                           std::vector<const CLI::Option*> options) const override {
        if (group == kUnusedGroup) return {};
        return CLI::Formatter::make_group(std::move(group), isPositional, std::move(options));
    }
    std::string make_help(const CLI::App* app, std::string name,
                          CLI::AppFormatMode mode) const override {
        std::string text = CLI::Formatter::make_help(app, std::move(name), mode);
        for (size_t at; (at = text.find("\n\n\n")) != std::string::npos;)
            text.erase(at, 1);
        return text;
    }
};

// A number of seconds above 0 and at most a million (about eleven days).
std::string SecondsProblem(const std::string& text) {
    double value = 0;
    if (CLI::detail::lexical_cast(text, value) && std::isfinite(value) && value > 0 && value <= 1e6)
        return {};
    return "not a number of seconds above 0: " + text;
}

// The program-wide options, as bits: what a command's own help lists of them.
enum Shared : unsigned {
    PortOption = 1,
    WorkingOption = 2,
    LoaderOption = 4,
    JsonOption = 8,
    QuietOption = 16,
    VerboseOption = 32,
    TraceOption = 64,
    TimeoutOption = 128,
    PromptOption = 256,
    TrustOption = 512,
    EveryOption = 1023,
};

// The program's options. Every command takes all of them, and so does the program before the
// command: they may stand anywhere, as they always could. Those a command makes no use of are
// left out of its help.
void AddOptions(CLI::App& app, FlashOptions& out, unsigned shown) {
    const auto group = [&app, shown](CLI::Option* option, unsigned bit) {
        option->group((shown & bit) != 0 ? app.option_defaults()->get_group() : kUnusedGroup);
    };
    group(app.add_option_function<std::vector<std::string>>(
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
              ->option_text("PORT"),
          PortOption);
    group(cli::AddLineMode(app, "--working", out.Working,
                           "the device's working mode, e.g. 115200,none (parity none, odd,\n"
                           "even or n, o, e); default: as saved in Config.ini"),
          WorkingOption);
    group(cli::AddLineMode(app, "--loader", out.Loader,
                           "the loader's mode, e.g. 115200,even; default: Config.ini"),
          LoaderOption);
    group(app.add_flag("--json", out.Json, "JSON Lines on standard output"), JsonOption);
    group(app.add_flag("-q,--quiet", out.Quiet, "only the result lines"), QuietOption);
    group(app.add_flag("-v,--verbose", out.Verbose, "also the status texts as they happen"),
          VerboseOption);
    group(app.add_option("--trace", out.TracePath,
                         "every byte sent and received, with time stamps, into FILE")
              ->type_name("FILE")
              ->option_text("FILE"),
          TraceOption);
    group(app.add_option("--timeout", out.TimeoutSeconds, "give up a run that takes longer")
              ->check(CLI::Validator(SecondsProblem, ""))
              ->type_name("SECONDS")
              ->option_text("SECONDS"),
          TimeoutOption);
    group(app.add_flag("--prompt-replies", out.PromptReplies,
                       "take a complete binary reply as soon as it has arrived"),
          PromptOption);
    group(app.add_option_function<std::vector<std::string>>(
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
              ->option_text("KEY.pem"),
          TrustOption);
}

// Seconds from 0 (off) to a million.
std::string SecondsOrZeroProblem(const std::string& text) {
    double value = 0;
    if (CLI::detail::lexical_cast(text, value) && std::isfinite(value) && value >= 0 &&
        value <= 1e6)
        return {};
    return "not a number of seconds from 0: " + text;
}

// A connection string the driver manager can read; the password is never repeated.
std::string ConnectionProblem(const std::string& text) {
    std::string why;
    return station::WellFormedConnection(text, why) ? std::string() : why;
}

CLI::Option* AddDbOption(CLI::App& app, std::string& out, const char* what) {
    return app.add_option("--db", out, what)
        ->check(CLI::Validator(ConnectionProblem, ""))
        ->option_text("CONNECTION");
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
    AddDbOption(flash, out.Db,
                "also send each record to this database (an ODBC connection\n"
                "string: DSN=NAME or Driver={...};Server=...); needs --log");
}

void AddStationOptions(CLI::App& station, StationOptions& out) {
    station
        .add_option_function<std::vector<std::string>>(
            "--slot",
            [&out](const std::vector<std::string>& slots) {
                for (const std::string& text : slots) {
                    station::SlotSetup slot;
                    if (!station::ParseSlot(text, slot))
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
                    "the identity command (default AT+CGSN; \\r, \\n, \\t, \\\\,\n"
                    "\\xHH understood), or none")
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
    AddDbOption(station, out.Db,
                "also send each record to this database (an ODBC connection\n"
                "string: DSN=NAME or Driver={...};Server=...), from the log,\n"
                "in the background");
    station.add_flag("--window-timing", out.WindowTiming,
                     "the window's reply timing instead of prompt replies");
    station.add_flag("--once", out.Once,
                     "each slot upgrades one unit, then the station ends with\n"
                     "flash's exit statuses");
}

void AddHistoryOptions(CLI::App& history, HistoryOptions& out) {
    history.add_option("--log", out.Log, "the records (default tolvane-records.jsonl)")
        ->option_text("FILE");
    AddDbOption(history, out.Db, "read the records of every station from this database");
    history.add_option("--id", out.Filter.Id, "only this unit")->option_text("TEXT");
    history.add_option("--host", out.Filter.Host, "only this station's machine")
        ->option_text("NAME");
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

void AddRecordsOptions(CLI::App& records, RecordsOptions& out) {
    records.add_option("ACTION", out.Action, "init: make the table; push: send a log")
        ->required()
        ->check(CLI::IsMember({"init", "push"}));
    AddDbOption(records, out.Db, "the database (an ODBC connection string)");
    records.add_option("--log", out.Log, "push: the records to send")->option_text("FILE");
    records.add_flag("--print", out.Print, "init: write the SQL instead of running it");
    records
        .add_option("--dbms", out.Dbms,
                    "init --print without a connection: postgresql, sqlserver,\n"
                    "mysql or sqlite")
        ->check(CLI::IsMember({"postgresql", "sqlserver", "mysql", "mariadb", "sqlite"}))
        ->option_text("NAME");
}

// A command's own help flag comes last in its help, after the program-wide options it uses.
void FinishCommand(CLI::App& sub, FlashOptions& out, unsigned shown) {
    AddOptions(sub, out, shown);
    sub.set_help_flag("-h,--help", "this command's usage and options");
    sub.footer(kExitStatus);
}

void Define(CLI::App& app, FlashOptions& out) {
    app.description(kDescription);
    app.footer(std::string(kOptionPlaces) + "\n\n" + kExitStatus);
    app.allow_windows_style_options(false); // "/dev/..." and "/x.enc2" are never options
    app.require_subcommand(1);
    app.formatter(std::make_shared<CommandFormatter>());
    app.get_formatter()->column_width(26);
    app.get_formatter()->label("SUBCOMMAND", "COMMAND");
    app.get_formatter()->label("Positionals", "Operands");
    app.set_help_flag("-h,--help", "this text");
    app.set_version_flag("--version", std::string("tolvane-flash ") + TOLVANE_VERSION,
                         "the program's version");
    AddOptions(app, out, EveryOption);

    const auto command = [&](const char* name, const char* description) {
        CLI::App* sub = app.add_subcommand(name, description);
        sub->group("Commands");
        sub->set_help_flag(); // set again by FinishCommand, to stand last
        sub->fallthrough();
        return sub;
    };
    CLI::App* info = command("info", "checks and describes PACKAGE as the window does");
    info->add_option("PACKAGE", out.Package, "the \".enc2\" package")->required();
    FinishCommand(*info, out, JsonOption | TrustOption);
    FinishCommand(*command("ports", "lists every COM number present with the device it opens"), out,
                  JsonOption);
    FinishCommand(
        *command("version", "asks the device on the one --port for its version (working mode)"),
        out, PortOption | WorkingOption | JsonOption | VerboseOption);
    CLI::App* flash = command("flash", "upgrades the device on every --port with PACKAGE");
    flash->add_option("PACKAGE", out.Package, "the \".enc2\" package")->required();
    AddFlashRecordOptions(*flash, out);
    FinishCommand(*flash, out, EveryOption);
    CLI::App* station =
        command("station", "a production station: every --slot upgrades one unit after\n"
                           "another with PACKAGE, each verified and recorded");
    station->add_option("PACKAGE", out.Package, "the \".enc2\" package")->required();
    AddStationOptions(*station, out.Station);
    FinishCommand(*station, out,
                  WorkingOption | LoaderOption | JsonOption | QuietOption | TrustOption);
    CLI::App* history = command("history", "the unit records of a log: a table, --json or --csv");
    AddHistoryOptions(*history, out.History);
    FinishCommand(*history, out, JsonOption);
    CLI::App* records = command("records", "the records in the factory's database: init makes\n"
                                           "the table, push sends a log");
    AddRecordsOptions(*records, out.Records);
    FinishCommand(*records, out, 0);
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

// What a refused command line is told: an unknown option first; where the command belongs,
// what stood there.
std::string RefusalText(const CLI::App& app, const CLI::ParseError& e) {
    const std::string unknown = cli::FirstUnknownOption(app);
    if (!unknown.empty()) return "unknown option " + unknown;
    if (!app.get_subcommands().empty() || !dynamic_cast<const CLI::RequiredError*>(&e))
        return e.what();
    const std::vector<std::string> rest = app.remaining();
    return (rest.empty() ? "no command given" : "unknown command " + rest.front()) +
           " (commands: info, ports, version, flash, station, history, records)";
}

// records ACTION: which options each action needs.
bool RecordsRules(FlashOptions& out, std::string& error) {
    const RecordsOptions& r = out.Records;
    if (r.Action == "push") {
        out.Action = Command::RecordsPush;
        if (r.Db.empty() || r.Log.empty())
            error = "records push needs --log FILE and --db CONNECTION";
        else if (r.Print || !r.Dbms.empty())
            error = "records push takes no --print or --dbms";
    } else if (!r.Dbms.empty() && !r.Print) {
        error = "records init --dbms goes with --print";
    } else if (!r.Dbms.empty() && !r.Db.empty()) {
        error = "records init takes --db or --dbms, not both";
    } else if (r.Dbms.empty() && r.Db.empty()) {
        error = "records init needs --db CONNECTION (or --print --dbms NAME)";
    } else if (!r.Log.empty()) {
        error = "records init takes no --log";
    }
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
            if (option->get_positional() || option->get_group() == kUnusedGroup ||
                app.get_option_no_throw(option->get_name()))
                continue;
            lines += format.make_option(option, false);
        }
        if (!lines.empty()) own += "\nOptions of " + sub->get_name() + ":\n" + lines;
    }
    const size_t footer = text.rfind("\nEvery option may be given");
    if (footer != std::string::npos) text.insert(footer, own);
    return text;
}

std::string CommandUsage(const std::string& command) {
    FlashOptions unused;
    CLI::App app("", "tolvane-flash");
    Define(app, unused);
    for (const CLI::App* sub : app.get_subcommands({}))
        if (sub->get_name() == command) return sub->help(app.get_name());
    return {};
}

bool ParseFlashOptions(const std::vector<std::string>& args, FlashOptions& out,
                       std::string& error) {
    CLI::App app("", "tolvane-flash");
    Define(app, out);
    std::vector<std::string> reversed(args.rbegin(), args.rend()); // CLI11 takes them last first
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        // "flash --help" and "--help flash" alike: the help of the command given, if any.
        out.Action = Command::Help;
        const std::vector<CLI::App*> given = app.get_subcommands();
        if (!given.empty()) out.HelpCommand = given.front()->get_name();
        return true;
    } catch (const CLI::CallForVersion&) {
        out.Action = Command::Version;
        return true;
    } catch (const CLI::ParseError& e) {
        error = RefusalText(app, e);
        return false;
    }
    const std::vector<CLI::App*> given = app.get_subcommands();
    const std::string command = given.front()->get_name();
    out.Action = command == "info"      ? Command::Info
                 : command == "ports"   ? Command::Ports
                 : command == "version" ? Command::QueryVersion
                 : command == "station" ? Command::Station
                 : command == "history" ? Command::History
                 : command == "records" ? Command::RecordsInit
                                        : Command::Flash;
    if (out.Action == Command::History) {
        if (out.Json && out.History.Form == HistoryForm::Csv) {
            error = "history takes --json or --csv, not both";
            return false;
        }
        if (out.Json) out.History.Form = HistoryForm::Json;
        if (out.History.Log.empty()) out.History.Log = StationOptions().LogPath;
    }
    if (out.Action == Command::RecordsInit && !RecordsRules(out, error)) return false;
    if (out.Action == Command::Flash && !out.Db.empty() && out.LogPath.empty()) {
        error = "flash --db needs --log FILE: the records go to the database from the log";
        return false;
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
        out.Station.Verbose = out.Verbose;
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
