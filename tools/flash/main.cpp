// tolvane-flash: the upgrade of "开始升级" from the command line, on one port or several at once.
#include "Version.h"
#include "base/FileAccess.h"
#include "base/GbkText.h"
#include "base/PlainText.h"
#include "dialogue/Dialogue.h"
#include "package/FirmwarePackage.h"
#include "package/PackageText.h"
#include "serial/PortMap.h"
#include "serial/PortName.h"
#include "session/PortSession.h"
#include "settings/SettingsLocation.h"
#include "station/RecordForwarder.h"
#include "station/RepeatLookup.h"
#include "tools/flash/DatabaseCommand.h"
#include "tools/flash/FlashOptions.h"
#include "tools/flash/FlashRecords.h"
#include "tools/flash/Interrupts.h"
#include "tools/flash/PackageTrust.h"
#include "tools/flash/Reporter.h"
#include "tools/flash/Terminal.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace flash;
using namespace session;
using namespace station;

namespace {

// The sessions Ctrl-C must reach; the flag for those not made yet.
std::mutex SessionsLock;
std::vector<PortSession*> Sessions;
bool InterruptSeen = false;

// Where the modes left out on the command line are read from.
std::string SettingsFile;
// The keys a package must be signed with (none configured: signatures are not looked at).
TrustedKeys Trust;

void InterruptAll() {
    if (InterruptStation()) return; // a station stops in two steps of its own
    std::lock_guard<std::mutex> guard(SessionsLock);
    InterruptSeen = true;
    for (PortSession* session : Sessions)
        session->Interrupt();
}

void Enlist(PortSession* session) {
    std::lock_guard<std::mutex> guard(SessionsLock);
    Sessions.push_back(session);
    if (InterruptSeen) session->Interrupt();
}

ExitStatus Usage(const std::string& error) {
    std::fprintf(stderr,
                 "tolvane-flash: %s\nRun \"tolvane-flash --help\" for the commands and options.\n",
                 error.c_str());
    return ExitStatus::BadCommandLine;
}

ExitStatus Refuse(const std::string& path, const PackageCheck& check, Reporter& reporter,
                  bool json) {
    const std::string message = RefusalMessage(check);
    if (json)
        reporter.JsonObject({{"event", "info"},
                             {"ok", false},
                             {"code", StatusCode(ExitStatus::PackageRefused)},
                             {"package", path},
                             {"message", message}});
    reporter.Error("tolvane-flash: " + path + ": " + message);
    return ExitStatus::PackageRefused;
}

// Loads and checks the package as the window's package choice does; a package that fails a
// check is refused here, one that loaded is described by the caller.
ExitStatus LoadChecked(const std::string& path, FirmwarePackageData& package, PackageCheck& check,
                       Reporter& reporter, bool json) {
    check = LoadPackage(path, package, &Trust);
    if (check.Outcome == PackageLoadOutcome::Loaded) return ExitStatus::Succeeded;
    return Refuse(path, check, reporter, json);
}

// A package whose file passed is described, also when its signature is refused (then with
// status 3 and the reason).
ExitStatus Info(const FlashOptions& options, Reporter& reporter) {
    auto package = std::make_unique<FirmwarePackageData>();
    const PackageCheck check = LoadPackage(options.Package, *package, &Trust);
    const bool refused = check.Outcome == PackageLoadOutcome::SignatureRefused;
    if (check.Outcome != PackageLoadOutcome::Loaded && !refused)
        return Refuse(options.Package, check, reporter, options.Json);
    const std::vector<std::string> lines = PackageDescription(check);
    if (options.Json) {
        JsonFields object = {{"event", "info"}, {"ok", !refused}};
        if (refused) object["code"] = StatusCode(ExitStatus::PackageRefused);
        object.update(JsonFields{{"package", options.Package},
                                 {"kind", check.Kind},
                                 {"md5", check.Md5},
                                 {"block_size", check.BlockSize},
                                 {"blocks", check.BlockCount},
                                 {"file_size", check.FileSize},
                                 {"lines", lines},
                                 {"signature", SignatureJson(check.Signature)}});
        if (refused) object["message"] = RefusalMessage(check);
        reporter.JsonObject(object);
        return refused ? ExitStatus::PackageRefused : ExitStatus::Succeeded;
    }
    for (const std::string& line : lines)
        reporter.Print(line);
    reporter.Print("block size: " + std::to_string(check.BlockSize) + " bytes");
    reporter.Print("blocks: " + std::to_string(check.BlockCount));
    reporter.Print("file size: " + std::to_string(check.FileSize) + " bytes");
    if (RefusalOf(check) == PackageRefusal::NotSendable)
        reporter.Print("kind 0: " + RefusalText(PackageRefusal::NotSendable) + " (cannot be sent)");
    reporter.Print(SignatureLine(check.Signature));
    if (!refused) return ExitStatus::Succeeded;
    reporter.Error("tolvane-flash: " + options.Package + ": " + RefusalMessage(check));
    return ExitStatus::PackageRefused;
}

ExitStatus Ports(const FlashOptions& options, Reporter& reporter) {
    JsonFields list = JsonFields::array();
    for (int number : PresentPortNumbers()) {
        const std::string name = ComPortName(number);
        const std::string device = PortDevicePath(number);
        if (options.Json)
            list.push_back({{"port", name}, {"device", device}});
        else
            reporter.Print(name + "\t" + device);
    }
    if (options.Json) reporter.JsonObject({{"event", "ports"}, {"ports", list}});
    return ExitStatus::Succeeded;
}

bool NeedModes(const FlashOptions& options, bool loaderToo) {
    const char* missing = !options.Working               ? "--working"
                          : loaderToo && !options.Loader ? "--loader"
                                                         : nullptr;
    if (!missing) return true;
    std::fprintf(stderr, "tolvane-flash: no %s BAUD,PARITY given and none saved in %s\n", missing,
                 SettingsFile.c_str());
    return false;
}

ExitStatus QueryVersion(const FlashOptions& options, Reporter& reporter) {
    if (!NeedModes(options, false)) return ExitStatus::BadCommandLine;
    PortTarget target;
    std::string error;
    if (!ResolvePort(options.Ports[0], target, error)) return Usage(error);
    SessionSettings settings;
    settings.Working = *options.Working;
    settings.Loader = *options.Working;
    PortSession session(target, settings, &FirmwarePackage, reporter, nullptr);
    Enlist(&session);
    std::string text;
    const RunReport report = session.QueryVersion(text);
    if (options.Json) {
        reporter.JsonEvent(target.Name, "version",
                           {{"ok", report.Ok},
                            {"code", StatusCode(report.Code)},
                            {"version", DeviceTextToUtf8(text)},
                            {"message", report.Message}});
    } else if (report.Ok) {
        reporter.Print(WithoutLineEnds(DeviceTextToUtf8(text)));
    } else {
        reporter.Error(target.Name + ": " + report.Message);
    }
    return report.Code;
}

ExitStatus Flash(const FlashOptions& options, Reporter& reporter, Trace* trace) {
    if (!NeedModes(options, true)) return ExitStatus::BadCommandLine;
    std::vector<PortTarget> targets;
    for (const std::string& name : options.Ports) {
        PortTarget target;
        std::string error;
        if (!ResolvePort(name, target, error)) return Usage(error);
        targets.push_back(target);
    }
    auto package = std::make_unique<FirmwarePackageData>();
    PackageCheck result;
    const ExitStatus loaded = LoadChecked(options.Package, *package, result, reporter, false);
    if (loaded != ExitStatus::Succeeded) return loaded;
    if (const PackageRefusal refusal = RefusalOf(result); refusal != PackageRefusal::None) {
        reporter.Error("tolvane-flash: " + options.Package + ": " + RefusalMessage(result));
        return ExitStatus::PackageRefused;
    }

    SessionSettings settings;
    settings.Working = *options.Working;
    settings.Loader = *options.Loader;
    settings.PromptReplies = options.PromptReplies;
    settings.TimeoutSeconds = options.TimeoutSeconds;
    settings.ReconnectSeconds = options.ReconnectSeconds;

    // A database that can never answer refuses the run before anything is opened.
    std::unique_ptr<Database> db;
    if (!options.Db.empty()) {
        const ExitStatus opened = OpenAtStart(options.Db, db, stderr);
        if (opened != ExitStatus::Succeeded) return opened;
    }
    // With --log every port's run is recorded before its result is shown; a log that cannot
    // be written refuses the run.
    RecordLog log;
    std::unique_ptr<RecordForwarder> forwarder;
    std::unique_ptr<RepeatLookup> repeats;
    if (!options.LogPath.empty()) {
        std::string error;
        if (!log.Open(options.LogPath, error)) {
            reporter.Error("tolvane-flash: the log " + options.LogPath +
                           " cannot be written: " + error);
            return ExitStatus::UpgradeFailed;
        }
    }
    if (db) {
        ForwarderSettings forwarding;
        forwarding.LogPath = options.LogPath;
        forwarding.Connection = options.Db;
        // -v tells every change of what waits for the database.
        forwarder =
            std::make_unique<RecordForwarder>(forwarding, [&reporter](const ForwardStatus& status) {
                reporter.Verbose(DatabaseText(status));
            });
        log.OnAppended([f = forwarder.get()] { f->Notify(); });
        repeats = std::make_unique<RepeatLookup>(options.Db);
        log.AlsoAsk([r = repeats.get()](const std::string& id, const std::string& md5) {
            return r->PassedElsewhere(id, md5);
        });
        forwarder->Start(std::move(db));
    }
    std::vector<std::unique_ptr<RecordingEvents>> recorders;
    std::vector<std::unique_ptr<PortSession>> sessions;
    for (const PortTarget& target : targets) {
        reporter.AddPort(target.Name);
        SessionEvents* events = &reporter;
        if (!options.LogPath.empty()) {
            recorders.push_back(std::make_unique<RecordingEvents>(
                reporter, log,
                RecordingEvents::Run{options.Package, result.Md5, options.TracePath,
                                     SignerOf(result)}));
            events = recorders.back().get();
        }
        sessions.push_back(
            std::make_unique<PortSession>(target, settings, package.get(), *events, trace));
        Enlist(sessions.back().get());
    }
    std::vector<RunReport> reports(sessions.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < sessions.size(); ++i)
        threads.emplace_back([&, i] {
            if (!recorders.empty()) recorders[i]->Begin(*sessions[i]);
            reports[i] = sessions[i]->Flash(options.Package, result.Md5);
        });
    for (std::thread& thread : threads)
        thread.join();
    {
        std::lock_guard<std::mutex> guard(SessionsLock);
        Sessions.clear();
    }
    if (forwarder) FinishForwarding(*forwarder, stderr);
    for (const RunReport& report : reports)
        if (report.Code != ExitStatus::Succeeded) return report.Code;
    for (const auto& recorder : recorders)
        if (!recorder->LogError().empty()) return ExitStatus::UpgradeFailed;
    return ExitStatus::Succeeded;
}

ExitStatus StationCommand(FlashOptions& options) {
    if (!NeedModes(options, true)) return ExitStatus::BadCommandLine;
    if (ModemManagerRunning())
        std::fprintf(stderr, "tolvane-flash: warning: ModemManager is running and may probe the "
                             "slots' ports with AT commands of its own; see the README on how to "
                             "keep it away from them\n");
    options.Station.Working = *options.Working;
    options.Station.Loader = *options.Loader;
    for (const station::SlotSetup& slot : options.Station.Slots) {
        PortTarget target;
        std::string error;
        if (!ResolvePort(slot.Port, target, error)) return Usage("--slot " + error);
    }
    return RunStation(options.Station, Trust);
}

ExitStatus Run(FlashOptions& options, Reporter& reporter, Trace* trace) {
    if (options.Action == Command::Info || options.Action == Command::Flash ||
        options.Action == Command::Station)
        Trust = LoadFlasherKeys(SettingsFolder(ExecutableFolder()), options.Trust, stderr);
    switch (options.Action) {
    case Command::Info:
        return Info(options, reporter);
    case Command::Ports:
        return Ports(options, reporter);
    case Command::QueryVersion:
        return QueryVersion(options, reporter);
    case Command::Flash:
        return Flash(options, reporter, trace);
    case Command::Station:
        return StationCommand(options);
    case Command::History:
        return RunHistory(options.History, stdout, stderr);
    case Command::RecordsInit:
        return RunRecordsInit(options.Records, stdout, stderr);
    case Command::RecordsPush:
        return RunRecordsPush(options.Records, stdout, stderr, IsTerminal(stderr));
    case Command::Help:
    case Command::Version:
        break;
    }
    return ExitStatus::Succeeded;
}

} // namespace

int main(int argc, char** argv) {
    // Before any thread exists, so that every thread leaves the signals to the watcher.
    WatchInterrupts(InterruptAll);

    FlashOptions options;
    std::string error;
    // On Windows the wide command line: the ANSI code page cannot hold every path.
    const std::vector<std::string> args = Utf8Arguments(argc, argv);
    if (!ParseFlashOptions({args.begin() + (args.empty() ? 0 : 1), args.end()}, options, error))
        return StatusCode(Usage(error));
    if (options.Action == Command::Help) {
        const std::string help =
            options.HelpCommand.empty() ? FlashUsage() : CommandUsage(options.HelpCommand);
        std::fputs(help.c_str(), stdout);
        return StatusCode(ExitStatus::Succeeded);
    }
    if (options.Action == Command::Version) {
        std::printf("tolvane-flash %s\n", TOLVANE_VERSION);
        return StatusCode(ExitStatus::Succeeded);
    }
    // The settings and port map the window uses: beside the program, or the user's own for an
    // installed copy.
    SetPortMapFolder(PortMapFolderFor(ExecutableFolder()));
    SettingsFile = ConfigIniFile(ExecutableFolder());
    TakeModesFromSettings(SettingsFile, options);

    ReporterMode mode;
    mode.Json = options.Json;
    mode.Quiet = options.Quiet;
    mode.Verbose = options.Verbose;
    mode.Terminal = IsTerminal(stderr);
    Reporter reporter(mode, stdout, stderr);

    Trace trace;
    if (!options.TracePath.empty() && !trace.Open(options.TracePath)) {
        std::fprintf(stderr, "tolvane-flash: cannot write the trace %s\n",
                     options.TracePath.c_str());
        return StatusCode(ExitStatus::BadCommandLine);
    }
    return StatusCode(Run(options, reporter, trace.IsOpen() ? &trace : nullptr));
}
