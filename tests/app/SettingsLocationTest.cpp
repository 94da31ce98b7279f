#include "settings/SettingsLocation.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// Sets an environment variable for one test; an absent value unsets it. The old value returns.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old, had_ = true;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedEnv() { had_ ? setenv(name_, old_.c_str(), 1) : unsetenv(name_); }

  private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

TEST(SettingsLocation, PortableCopyKeepsItsFilesInstalledOneUsesTheUserFolder) {
    char pattern[] = "/tmp/tolvane-loc-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    const struct {
        const char* what;
        bool writable;
        bool holdsIni;
        const char* xdg;      // XDG_CONFIG_HOME, null for unset
        const char* expected; // relative to dir; "" for the executable's folder
    } cases[] = {
        {"writable folder", true, false, "/x", ""},
        {"read-only folder with Config.ini", false, true, "/x", ""},
        {"read-only folder", false, false, "xdg", "xdg/tolvane"},
        {"read-only folder, XDG_CONFIG_HOME unset", false, false, nullptr, "home/.config/tolvane"},
        {"read-only folder, relative XDG_CONFIG_HOME", false, false, "rel", "home/.config/tolvane"},
    };
    const ScopedEnv home("HOME", (dir + "/home").c_str());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string exe = dir + "/bin";
        fs::create_directory(exe);
        if (c.holdsIni) std::ofstream(exe + "/Config.ini") << "[COMPort1]\n";
        chmod(exe.c_str(), c.writable ? 0755 : 0555);
        const std::string xdgValue = !c.xdg ? std::string()
                                     : c.xdg[0] == '/' || c.xdg == std::string("rel")
                                         ? c.xdg
                                         : dir + "/" + c.xdg;
        const ScopedEnv xdg("XDG_CONFIG_HOME", c.xdg ? xdgValue.c_str() : nullptr);
        const std::string folder = *c.expected ? dir + "/" + c.expected : exe;
        EXPECT_EQ(SettingsFolder(exe), folder);
        EXPECT_EQ(PortMapFolderFor(exe), folder + "/ports");
        EXPECT_EQ(ConfigIniFile(exe), folder + "/Config.ini");
        EXPECT_TRUE(fs::is_directory(folder)); // made, so that the file can be written
        if (*c.expected) {
            EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
        }
        chmod(exe.c_str(), 0755);
        fs::remove_all(exe);
        fs::remove_all(dir + "/xdg");
        fs::remove_all(dir + "/home");
    }
    fs::remove_all(dir);
}

} // namespace
