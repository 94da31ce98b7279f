#include "tools/flash/StationCommand.h"

#include "base/GbkText.h"
#include "package/FirmwarePackage.h"
#include "package/PackageText.h"
#include "station/RepeatLookup.h"
#include "tools/flash/DatabaseCommand.h"
#include "tools/flash/PackageTrust.h"
#include "tools/flash/StationScreen.h"
#include "tools/flash/Terminal.h"

#include <cstdio>
#include <memory>
#include <mutex>

namespace flash {

namespace {

std::mutex RunningLock;
station::Station* Running = nullptr;
StationScreen* RunningScreen = nullptr;
int Interrupts = 0;

class Enlisted {
  public:
    Enlisted(station::Station& station, StationScreen& screen) {
        std::lock_guard<std::mutex> guard(RunningLock);
        Running = &station;
        RunningScreen = &screen;
        Interrupts = 0;
    }
    ~Enlisted() {
        std::lock_guard<std::mutex> guard(RunningLock);
        Running = nullptr;
        RunningScreen = nullptr;
    }
    Enlisted(const Enlisted&) = delete;
    Enlisted& operator=(const Enlisted&) = delete;
};

} // namespace

bool InterruptStation() {
    std::lock_guard<std::mutex> guard(RunningLock);
    if (!Running) return false;
    if (++Interrupts == 1) {
        RunningScreen->Note("tolvane-flash: stopping: no new unit is taken, upgrades under way "
                            "finish (Ctrl-C again ends everything at once)");
        Running->Stop();
    } else {
        Running->Abort();
    }
    return true;
}

session::ExitStatus RunStation(const StationOptions& options, const TrustedKeys& trust) {
    auto package = std::make_unique<FirmwarePackageData>();
    const PackageCheck loaded = LoadPackage(options.Package, *package, &trust);
    // The rule flash applies, so a station takes no package that flash refuses.
    if (const PackageRefusal refusal = RefusalOf(loaded); refusal != PackageRefusal::None) {
        std::fprintf(stderr, "tolvane-flash: %s: %s\n", options.Package.c_str(),
                     RefusalMessage(loaded).c_str());
        return session::ExitStatus::PackageRefused;
    }

    // A database that can never answer refuses the start before the log or a port is opened.
    std::unique_ptr<station::Database> db;
    if (!options.Db.empty()) {
        const session::ExitStatus opened = OpenAtStart(options.Db, db, stderr);
        if (opened != session::ExitStatus::Succeeded) return opened;
    }

    station::RecordLog log;
    std::string error;
    if (!log.Open(options.LogPath, error)) {
        // Never upgrade a unit that cannot be recorded.
        std::fprintf(stderr, "tolvane-flash: the log %s cannot be written: %s\n",
                     options.LogPath.c_str(), error.c_str());
        return session::ExitStatus::UpgradeFailed;
    }

    station::StationSettings settings;
    settings.Working = options.Working;
    settings.Loader = options.Loader;
    settings.PromptReplies = !options.WindowTiming;
    settings.IdCommand =
        options.IdCommand == "none" ? std::string() : station::CommandFromOption(options.IdCommand);
    settings.ExpectVersion = options.ExpectVersion;
    settings.MaxSlotFailures = options.MaxSlotFailures;
    settings.BootTimeoutSeconds = options.BootTimeoutSeconds;
    settings.ReconnectSeconds = options.ReconnectSeconds;
    settings.Once = options.Once;
    settings.PackagePath = options.Package;
    settings.Md5 = loaded.Md5;
    settings.Signer = SignerOf(loaded);
    settings.TraceDir = options.TraceDir;
    settings.Lot = options.Lot;
    settings.Operator = options.Operator;

    std::vector<std::string> names;
    for (const station::SlotSetup& slot : options.Slots)
        names.push_back(slot.Name);
    const ScreenKind kind = options.Json                           ? ScreenKind::Json
                            : !options.Quiet && IsTerminal(stdout) ? ScreenKind::Terminal
                                                                   : ScreenKind::Lines;
    const std::string info = package->InfoText();
    StationScreen screen(kind, stdout, stderr, names,
                         {options.Package, loaded.Md5, loaded.InfoText});
    if (options.Quiet) screen.ResultsOnly();
    if (options.Verbose) screen.VerboseDatabase();
    std::unique_ptr<station::RecordForwarder> forwarder;
    std::unique_ptr<station::RepeatLookup> repeats;
    if (db) {
        station::ForwarderSettings forwarding;
        forwarding.LogPath = options.LogPath;
        forwarding.Connection = options.Db;
        forwarder = std::make_unique<station::RecordForwarder>(
            forwarding,
            [&screen](const station::ForwardStatus& status) { screen.DatabaseStatus(status); });
        log.OnAppended([f = forwarder.get()] { f->Notify(); });
        repeats = std::make_unique<station::RepeatLookup>(options.Db);
        log.AlsoAsk([r = repeats.get()](const std::string& id, const std::string& md5) {
            return r->PassedElsewhere(id, md5);
        });
        screen.DatabaseStatus({});
    }
    station::Station station(settings, options.Slots, *package, log, screen);
    Enlisted enlisted(station, screen);
    screen.Begin();
    if (forwarder) forwarder->Start(std::move(db));
    const station::StationSummary summary = station.Run();
    if (forwarder) FinishForwarding(*forwarder, stderr);
    screen.Summary(summary.Passed, summary.Failed, summary.Units, summary.FirstPassYield);
    if (!summary.LogError.empty())
        std::fprintf(stderr, "tolvane-flash: stopped taking units: the log cannot be written: %s\n",
                     summary.LogError.c_str());
    return summary.Code;
}

} // namespace flash
