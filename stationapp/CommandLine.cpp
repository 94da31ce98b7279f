#include "stationapp/CommandLine.h"

#include "tools/cli/LineModeOption.h"

#include <CLI/CLI.hpp>

namespace stationapp {

namespace {

void AddText(CLI::App& app, const std::string& name, std::optional<std::string>& value,
             const std::string& description, const char* shown) {
    app.add_option_function<std::string>(
           name, [&value](const std::string& text) { value = text; }, description)
        ->option_text(shown);
}

void Define(CLI::App& app, CommandLine& out) {
    RunOverrides& o = out.Overrides;
    AddText(app, "--package", o.Package, "the firmware package (*.enc2)", "FILE");
    app.add_option_function<std::vector<std::string>>(
           "--slot",
           [&o](const std::vector<std::string>& texts) {
               o.Slots.emplace();
               for (const std::string& text : texts) {
                   station::SlotSetup slot;
                   if (!station::ParseSlot(text, slot))
                       throw CLI::ValidationError("--slot", "not [NAME=]PORT: " + text);
                   o.Slots->push_back(slot);
               }
           },
           "a slot: COM<n> or a device path, with a name before '=' (repeatable)")
        ->option_text("[NAME=]PORT")
        ->allow_extra_args(false);
    AddText(app, "--log", o.LogPath, "the record log (JSON Lines)", "FILE");
    AddText(app, "--expect-version", o.ExpectVersion,
            "a unit passes only when its new version contains TEXT", "TEXT");
    AddText(app, "--lot", o.Lot, "the lot written into every record", "TEXT");
    AddText(app, "--operator", o.Operator, "the operator written into every record", "TEXT");
    cli::AddLineMode(app, "--working", o.Working, "the device's working mode, e.g. 115200,none");
    cli::AddLineMode(app, "--loader", o.Loader, "the loader's mode, e.g. 115200,even");
    app.add_option("--settings", out.SettingsFile, "another Station.ini")->option_text("FILE");
    app.add_flag("--start", o.Start, "start at once when a valid package and a slot are given");
    app.add_flag("--version", out.Version, "print the version and end");
}

} // namespace

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error) {
    CLI::App app("The production station window.", "tolvane-station");
    Define(app, out);
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        out.Help = true;
    } catch (const CLI::ParseError& e) {
        error = e.what();
        return false;
    }
    return true;
}

std::string Usage() {
    CommandLine ignored;
    CLI::App app("The production station window.", "tolvane-station");
    Define(app, ignored);
    return app.help();
}

} // namespace stationapp
