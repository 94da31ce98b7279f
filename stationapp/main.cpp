// tolvane-station: the production station's window.
#include "base/ExecutableFolder.h"
#include "base/FileAccess.h"
#include "settings/SettingsLocation.h"
#include "stationapp/CommandLine.h"
#include "toolkit/Toolkit.h"

#include <cstdio>
#include <filesystem>

namespace {

void ShowEscaped() {
    try {
        throw;
    } catch (const std::exception& e) {
        tk::ExceptionBox(e.what());
    } catch (...) {
        tk::ExceptionBox("");
    }
}

} // namespace

int main(int argc, char** argv) {
    stationapp::CommandLine line;
    std::string error;
    // On Windows the wide command line: the ANSI code page cannot hold a Chinese operator's name.
    const std::vector<std::string> args = Utf8Arguments(argc, argv);
    if (!stationapp::ParseCommandLine({args.begin() + (args.empty() ? 0 : 1), args.end()}, line,
                                      error)) {
        std::fprintf(stderr, "tolvane-station: %s\n", error.c_str());
        return 2;
    }
    if (line.Help) {
        std::fputs(stationapp::Usage().c_str(), stdout);
        return 0;
    }
    // Before the application object: the version needs no display.
    if (line.Version) {
        std::printf("tolvane-station %s\n", tk::ProgramVersion().c_str());
        return 0;
    }
    auto application = tk::MakeApplication(argc, argv);
    tk::SetApplicationTitle("Tolvane 工作站");
    tk::SetExceptionSink(ShowEscaped);
    const std::string exe = ExecutableFolder();
    stationapp::WindowFiles files;
    files.StationIni =
        line.SettingsFile.empty() ? stationapp::StationIniFile(exe) : line.SettingsFile;
    files.ConfigIni = ConfigIniFile(exe);
    files.DefaultLog =
        (std::filesystem::path(SettingsFolder(exe)) / "tolvane-records.jsonl").string();
    stationapp::StationWindow window(files, line.Overrides);
    window.Show();
    application->Run();
    return 0;
}
