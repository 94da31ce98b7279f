// tolvane-flash as a production line runs it: packages described and refused, the version, full
// upgrades against the virtual device, its failures and exit statuses, several ports at once,
// Ctrl-C, the frame limit and prompt replies. The flasher is copied into a folder of the test's
// own, so that its port map and Config.ini beside it are the test's.
#include "tests/package/TempDir.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/MockModemManager.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace tolvane::test {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The lines of a text that contain a piece.
int CountLines(const std::string& text, const std::string& piece) {
    std::istringstream lines(text);
    int n = 0;
    for (std::string line; std::getline(lines, line);)
        n += line.find(piece) != std::string::npos;
    return n;
}

// Every line of an output as a JSON object; a line that is no JSON object fails the test.
std::vector<nlohmann::json> JsonLines(const std::string& text) {
    std::vector<nlohmann::json> objects;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
        EXPECT_TRUE(object.is_object()) << "not a JSON object: " << line;
        if (object.is_object()) objects.push_back(std::move(object));
    }
    return objects;
}

class Flasher : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(Bin);
        fs::copy_file(TOLVANE_FLASH, Flash);
        // 16 blocks of 256 random bytes.
        std::vector<uint8_t> image(16 * 256);
        std::mt19937 random(7);
        for (auto& b : image)
            b = uint8_t(random());
        Image = Dir.Write("image.bin", image);
        ASSERT_EQ(
            RunProgram({TOLVANE_PACK, "--block-size", "256", "--info", "测试", Image, Package}), 0);
    }

    // A virtual device registered as COM<com> beside the flasher; returns its device path.
    std::string StartDevice(Child& device, int com, std::vector<std::string> options = {},
                            bool captureLog = false) {
        std::vector<std::string> args = {TOLVANE_DEVSIM, "--com",   std::to_string(com), "--ports",
                                         Ports,          "--image", Received(com)};
        args.insert(args.end(), options.begin(), options.end());
        EXPECT_TRUE(device.Start(args, captureLog));
        return device.ReadLine();
    }
    std::string Received(int com) const { return Dir.File("received" + std::to_string(com)); }

    int Run(std::vector<std::string> args, std::string* out = nullptr, std::string* err = nullptr) {
        args.insert(args.begin(), Flash);
        std::string ignored;
        return RunProgram(args, out, err ? err : &ignored);
    }
    std::vector<std::string> FlashArgs(std::vector<std::string> ports) const {
        std::vector<std::string> args = {"flash",    Package,    "--working",
                                         "115200,n", "--loader", "115200,e"};
        for (const std::string& port : ports) {
            args.push_back("--port");
            args.push_back(port);
        }
        return args;
    }

    TempDir Dir;
    const std::string Bin = Dir.File("bin");
    const std::string Flash = Bin + "/tolvane-flash";
    std::string Ports = Bin + "/ports"; // where the devices register
    const std::string Package = Dir.File("demo.enc2");
    std::string Image;
};

TEST_F(Flasher, InfoDescribesOrRefusesAsTheWindowDoes) {
    std::string out, err;
    ASSERT_EQ(Run({"info", Package}, &out), 0);
    EXPECT_NE(out.find("K46方案Modem升级\n文件MD5:"), std::string::npos) << out;
    EXPECT_NE(out.find("升级文件信息:测试\n"), std::string::npos);
    EXPECT_NE(out.find("blocks: 16\n"), std::string::npos);
    EXPECT_NE(out.find("file size: 4209 bytes"), std::string::npos);
    ASSERT_EQ(Run({"info", Package, "--json"}, &out), 0);
    std::vector<nlohmann::json> info = JsonLines(out);
    ASSERT_EQ(info.size(), 1u) << out;
    EXPECT_EQ(info[0]["event"], "info");
    EXPECT_EQ(info[0]["ok"], true);
    EXPECT_EQ(info[0]["package"], Package);
    EXPECT_EQ(info[0]["kind"], 16);
    EXPECT_EQ(info[0]["md5"].get<std::string>().size(), 32u);
    EXPECT_EQ(info[0]["block_size"], 256);
    EXPECT_EQ(info[0]["blocks"], 16);
    EXPECT_EQ(info[0]["file_size"], 4209);
    EXPECT_EQ(info[0]["lines"][0], "K46方案Modem升级");

    std::string bytes = Slurp(Package);
    const struct {
        const char* name;
        std::string content;
        const char* message;
    } refused[] = {
        {"short", "tiny", "文件大小错误！"},
        {"huge", std::string(70000, 'x'), "文件大小超过限制！"},
        {"layout", bytes.substr(0, bytes.size() - 8), "升级文件格式错误！"},
        {"checksum", bytes.substr(0, 200) + char(bytes[200] ^ 1) + bytes.substr(201),
         "升级文件校验错误！"},
    };
    for (const auto& c : refused) {
        const std::string path = Dir.File(c.name);
        std::ofstream(path, std::ios::binary) << c.content;
        EXPECT_EQ(Run({"info", path}, &out, &err), 3) << c.name;
        EXPECT_NE(err.find(c.message), std::string::npos) << c.name << ": " << err;
        EXPECT_EQ(Run({"info", path, "--json"}, &out), 3) << c.name;
        info = JsonLines(out);
        ASSERT_EQ(info.size(), 1u) << c.name << ": " << out;
        EXPECT_EQ(info[0]["ok"], false) << c.name;
        EXPECT_EQ(info[0]["code"], 3) << c.name;
        EXPECT_EQ(info[0]["message"], c.message) << c.name;
    }
    // A good package, but no device behind the port: the window's message, naming the port.
    EXPECT_EQ(Run(FlashArgs({"COM9"}), &out, &err), 4);
    EXPECT_NE(out.find("COM9: 无法打开串口 COM9，"), std::string::npos) << out;
}

TEST_F(Flasher, BadCommandLinesExitTwo) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"erase"},
        {"flash", Package},
        {"flash", Package, "--port", "COM1", "--working", "fast,n", "--loader", "9600,e"},
        {"flash", Package, "--port", "COM1", "--working", "9600,x", "--loader", "9600,e"},
        {"flash", Package, "--port", "COM1", "--working", "9600,n"}, // no loader mode anywhere
        {"flash", Package, "--port", "LPT1", "--working", "9600,n", "--loader", "9600,e"},
        {"flash", Package, "--port", "COM1", "--timeout", "-3"},
        {"info", Package, "--bogus"},
        {"version"},
    };
    for (const auto& args : bad) {
        std::string err;
        EXPECT_EQ(Run(args, nullptr, &err), 2) << (args.empty() ? "" : args[0]) << err;
    }
    std::string err;
    Run({"flash", Package, "--port", "COM1", "--working", "9600,n"}, nullptr, &err);
    EXPECT_NE(err.find("--loader"), std::string::npos) << err;
}

TEST_F(Flasher, VersionAndFullUpgradeWithModesFromConfigIni) {
    // The window's saved modes: item 9 of the baud-rate list (115200bps), parities none / even.
    std::ofstream(Bin + "/Config.ini")
        << "[COMPort1]\nBaudrateWk=9\nParityWk=0\nBaudrateBt=9\nParityBt=2\n";
    Child device;
    const std::string pts = StartDevice(device, 7);

    std::string out;
    ASSERT_EQ(Run({"ports"}, &out), 0);
    EXPECT_NE(out.find("COM7\t" + pts + "\n"), std::string::npos) << out;
    ASSERT_EQ(Run({"ports", "--json"}, &out), 0);
    std::vector<nlohmann::json> listed = JsonLines(out);
    ASSERT_EQ(listed.size(), 1u) << out;
    EXPECT_EQ(listed[0]["event"], "ports");
    EXPECT_NE(std::find(listed[0]["ports"].begin(), listed[0]["ports"].end(),
                        nlohmann::json{{"port", "COM7"}, {"device", pts}}),
              listed[0]["ports"].end())
        << out;
    ASSERT_EQ(Run({"version", "--port", "com7"}, &out), 0);
    EXPECT_EQ(out, "VERSION:2.1\n");
    ASSERT_EQ(Run({"version", "--port", "com7", "--json"}, &out), 0);
    // The exchange's status events, then the answer.
    listed = JsonLines(out);
    ASSERT_FALSE(listed.empty());
    for (const nlohmann::json& object : listed)
        EXPECT_EQ(object["port"], "com7");
    EXPECT_EQ(listed.back()["event"], "version");
    EXPECT_TRUE(listed.back()["t"].is_number());
    EXPECT_EQ(listed.back()["ok"], true);
    EXPECT_EQ(listed.back()["code"], 0);
    EXPECT_EQ(listed.back()["version"], "VERSION:2.1\r\n");

    ASSERT_EQ(
        Run({"flash", Package, "--port", "COM7", "--json", "--trace", Dir.File("trace")}, &out), 0);
    EXPECT_EQ(Slurp(Received(7)), Slurp(Image));
    // JSON Lines only: every line one object naming the port, the result last.
    const std::vector<nlohmann::json> objects = JsonLines(out);
    std::vector<std::string> events;
    for (const nlohmann::json& object : objects) {
        ASSERT_EQ(object["port"], "COM7") << object;
        ASSERT_TRUE(object["event"].is_string()) << object;
        ASSERT_TRUE(object["t"].is_number()) << object;
        events.push_back(object["event"]);
    }
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), "start");
    EXPECT_EQ(events.back(), "result");
    EXPECT_EQ(std::count(events.begin(), events.end(), "progress"), 16);
    const nlohmann::json& result = objects.back();
    EXPECT_EQ(result["ok"], true);
    EXPECT_EQ(result["code"], 0);
    EXPECT_EQ(result["message"], "升级成功");
    EXPECT_TRUE(result["seconds"].is_number());
    EXPECT_EQ(result["frames"], 17) << out;
    EXPECT_EQ(result["resends"], 0) << out;
    // The trace shows the reset at the working mode and the switch to the loader's.
    const std::string trace = Slurp(Dir.File("trace"));
    EXPECT_NE(trace.find("> 41 54 2B 52 45 53 45 54 0D"), std::string::npos);
    EXPECT_NE(trace.find("reopen 115200,even"), std::string::npos);
}

TEST_F(Flasher, InstalledCopyTakesTheUsersSettingsAndPorts) {
    // A folder the user cannot write, without Config.ini: the settings are the user's own.
    const std::string installed = Dir.File("usr-bin"), config = Dir.File("config");
    fs::create_directories(installed);
    fs::copy_file(TOLVANE_FLASH, installed + "/tolvane-flash");
    fs::permissions(installed,
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    fs::create_directories(config + "/tolvane");
    std::ofstream(config + "/tolvane/Config.ini")
        << "[COMPort1]\nBaudrateWk=9\nParityWk=0\nBaudrateBt=9\nParityBt=2\n";
    Ports = config + "/tolvane/ports";
    Child device;
    StartDevice(device, 11);
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    std::string out;
    const int status =
        RunProgram({installed + "/tolvane-flash", "flash", Package, "--port", "COM11"}, &out);
    ::unsetenv("XDG_CONFIG_HOME");
    fs::permissions(installed, fs::perms::owner_write, fs::perm_options::add);
    EXPECT_EQ(status, 0) << out;
    EXPECT_TRUE(Slurp(Received(11)) == Slurp(Image));
    EXPECT_FALSE(fs::exists(installed + "/Config.ini"));
}

TEST_F(Flasher, FailuresGiveTheirExitStatuses) {
    const struct {
        const char* name;
        std::vector<std::string> device;
        std::vector<std::string> flags;
        int status;
        const char* message;
    } cases[] = {
        {"three bad replies to block 2", {"--beyond", "2:3"}, {}, 1, "block 2 failed"},
        {"silent device", {"--silent"}, {}, 5, "no answer to block 0"},
        {"endless repeat", {"--repeat-block", "3"}, {}, 1, "more than 61 data frames"},
        // A stray byte in front of every reply is no reply, prompt or not; the run's own limit
        // ends it.
        {"stray byte", {"--stray-byte"}, {"--prompt-replies", "--timeout", "2"}, 1, "time limit"},
    };
    int com = 20; // a port of its own per case: a killed device leaves its entry behind
    for (const auto& c : cases) {
        Child device;
        StartDevice(device, ++com, c.device);
        const std::string port = "COM" + std::to_string(com);
        std::vector<std::string> args = FlashArgs({port});
        args.insert(args.end(), c.flags.begin(), c.flags.end());
        std::string out;
        EXPECT_EQ(Run(args, &out), c.status) << c.name;
        EXPECT_EQ(out.rfind(port + ": ", 0), 0u) << c.name << ": " << out;
        EXPECT_NE(out.find(c.message), std::string::npos) << c.name << ": " << out;
        EXPECT_FALSE(fs::exists(Received(com))) << c.name;
    }
}

TEST_F(Flasher, SeveralPortsAtOnceReportTheFirstFailure) {
    Child good, bad;
    StartDevice(good, 3);
    StartDevice(bad, 4, {"--beyond", "5:3"});
    std::string out;
    EXPECT_EQ(Run(FlashArgs({"COM4", "COM3"}), &out), 1);
    EXPECT_EQ(Slurp(Received(3)), Slurp(Image));
    EXPECT_EQ(CountLines(out, "COM3: 升级成功"), 1) << out;
    EXPECT_EQ(CountLines(out, "COM4: 升级失败"), 1) << out;
}

TEST_F(Flasher, PromptRepliesTakeASplitReplyWhole) {
    Child device;
    StartDevice(device, 5, {"--split-reply", "20"});
    std::vector<std::string> args = FlashArgs({"COM5"});
    args.push_back("--prompt-replies");
    std::string out;
    EXPECT_EQ(Run(args, &out), 0) << out;
    EXPECT_EQ(Slurp(Received(5)), Slurp(Image));
}

TEST_F(Flasher, InterruptEndsTheRunWithoutSendingMore) {
    // Every reply to block 1 is spoiled: without the interrupt the flasher would resend it.
    Child device;
    StartDevice(device, 6, {"-v", "--corrupt-crc", "1:0"}, true);
    Child flasher;
    std::vector<std::string> args = FlashArgs({"COM6"});
    args.insert(args.begin(), Flash);
    args.push_back("--json");
    ASSERT_TRUE(flasher.Start(args));
    for (std::string line;;) {
        line = flasher.ReadLine();
        ASSERT_FALSE(line.empty()) << "the flasher ended before block 1";
        const nlohmann::json event = nlohmann::json::parse(line, nullptr, false);
        ASSERT_TRUE(event.is_object()) << line;
        if (event["event"] == "progress" && event["block"] == 1) break;
    }
    flasher.Signal(SIGINT);
    EXPECT_EQ(flasher.Wait(2000), 130);
    const std::string rest = flasher.ReadAll();
    const std::vector<nlohmann::json> after = JsonLines(rest);
    ASSERT_FALSE(after.empty()) << rest;
    EXPECT_EQ(after.back()["event"], "result") << rest;
    EXPECT_EQ(after.back()["code"], 130) << rest;
    EXPECT_EQ(after.back()["message"], "stopped") << rest;
    // The port is free again at once, and block 1 went out once at most (the signal may come
    // before its frame).
    EXPECT_EQ(Run({"version", "--port", "COM6", "--working", "115200,n"}), 5);
    device.Signal(SIGTERM);
    EXPECT_EQ(device.Wait(), 0);
    const std::string log = device.ReadAllErrors();
    EXPECT_LE(CountLines(log, "<- 66 CC 10 10 00 01 00"), 1) << log;
}

// ModemManager on a private system bus. Where it holds the port (as it holds its modems' ports)
// the mock lets go only once the modem is inhibited, so an upgrade that succeeds there proves
// the inhibition came before the first byte.
TEST_F(Flasher, ModemManagerLeavesTheModemAloneForTheRun) {
    if (!MockModemManager::BusInstalled()) GTEST_SKIP() << "dbus-daemon is not installed";
    const std::string uid = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-4";
    const std::string warning = "tolvane-flash: warning: ModemManager is running";
    enum class Bus { None, Empty, WithManager };
    const struct {
        const char* name;
        Bus bus;
        bool listed, refuse, hold;
        int status;
        std::vector<std::string> calls;
    } cases[] = {
        {"inhibited", Bus::WithManager, true, false, true, 0, {uid + " True", uid + " False"}},
        {"refused", Bus::WithManager, true, true, false, 0, {uid + " True"}},
        {"port not listed", Bus::WithManager, false, false, false, 0, {}},
        {"held and not listed", Bus::WithManager, false, false, true, 4, {}},
        {"no ModemManager", Bus::Empty, false, false, false, 0, {}},
        {"no bus", Bus::None, false, false, false, 0, {}},
    };
    int com = 20;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ++com;
        Child device;
        const std::string pty = StartDevice(device, com);
        MockModemManager manager;
        if (c.bus != Bus::None) {
            ASSERT_TRUE(manager.StartBus()) << manager.Error();
        }
        if (c.bus == Bus::WithManager) {
            const MockModemManager::Modem modem{
                uid, {"/dev/ttyUSB9", c.listed ? pty : "/dev/ttyUSB8"}, c.hold ? pty : ""};
            ASSERT_TRUE(manager.StartManager({modem}, c.refuse)) << manager.Error();
        }
        const std::string port = "COM" + std::to_string(com);
        std::vector<std::string> args = FlashArgs({port});
        args.push_back("-v");
        std::string out, err;
        EXPECT_EQ(Run(args, &out, &err), c.status) << out << err;
        EXPECT_EQ(manager.InhibitCalls(), c.calls);
        EXPECT_EQ(CountLines(err, warning), c.refuse ? 1 : 0) << err;
        if (c.status == 0) {
            EXPECT_EQ(Slurp(Received(com)), Slurp(Image));
        }
        if (c.bus == Bus::WithManager) {
            EXPECT_GE(manager.ListCalls(), 1);
        }
        if (c.calls.size() != 2) continue;
        EXPECT_EQ(CountLines(err, port + ": ModemManager inhibited " + uid +
                                      " (modem /org/freedesktop/ModemManager1/Modem/0, port " +
                                      pty.substr(5) + ")"),
                  1)
            << err;
        EXPECT_EQ(CountLines(err, port + ": ModemManager inhibition of " + uid + " ended"), 1);
        // The version query likewise, and without -v nothing is said about it.
        EXPECT_EQ(Run({"version", "--port", port, "--working", "115200,n"}, &out, &err), 0);
        EXPECT_EQ(manager.InhibitCalls().size(), 4u);
        EXPECT_EQ(err.find("ModemManager"), std::string::npos) << err;
    }
}

// Every program refuses an option it does not know with status 2, naming it in its first line.
TEST(CommandLines, EveryProgramNamesAnUnknownOptionFirst) {
    const struct {
        std::vector<std::string> args;
        const char* first;
    } cases[] = {
        {{TOLVANE_PACK, "--no-such-option"}, "tolvane-pack: unknown option --no-such-option\n"},
        {{TOLVANE_PACK, "in.bin", "--kind", "300", "-k"}, "tolvane-pack: unknown option -k\n"},
        {{TOLVANE_DEVSIM, "--com", "0", "--bogus"}, "tolvane-devsim: unknown option --bogus\n"},
        {{TOLVANE_FLASH, "flash", "--no-such-option"},
         "tolvane-flash: unknown option --no-such-option\n"},
        {{TOLVANE_FLASH, "station", "--slot", "COM1", "--bogus"},
         "tolvane-flash: unknown option --bogus\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1]);
        std::string out, err;
        EXPECT_EQ(RunProgram(c.args, &out, &err), 2);
        EXPECT_EQ(err.substr(0, err.find('\n') + 1), c.first) << err;
        EXPECT_TRUE(out.empty()) << out;
    }
    // A command's help, as a user asks for it: that command only, on standard output.
    std::string out;
    EXPECT_EQ(RunProgram({TOLVANE_FLASH, "station", "--help"}, &out), 0);
    EXPECT_NE(out.find("Usage: tolvane-flash station [OPTIONS] PACKAGE"), std::string::npos);
    EXPECT_EQ(out.find("Options of history"), std::string::npos) << out;
    EXPECT_EQ(RunProgram({TOLVANE_FLASH, "--help"}, &out), 0);
    EXPECT_NE(out.find("Options of history"), std::string::npos) << out;
}

} // namespace
} // namespace tolvane::test

namespace tolvane::test {
namespace {

// With a key in the flasher's trusted-keys: a signed package is described, flashed and recorded
// with its signer; a tampered or unsigned one is refused with status 3 before any port is
// opened (COM9 has no device, which would give status 4).
TEST_F(Flasher, TrustedKeysRefuseWhatNoTrustedKeySigned) {
    const std::string priv = Dir.File("maker-private.pem");
    const std::string keys = Bin + "/trusted-keys";
    fs::create_directories(keys);
    ASSERT_EQ(RunProgram({TOLVANE_PACK, "keygen", priv, keys + "/maker.pem"}), 0);
    ASSERT_EQ(RunProgram({TOLVANE_PACK, "sign", "--key", priv, Package}), 0);
    // Another package with the first one's signature beside it: a valid CRC, the wrong bytes.
    const std::string tampered = Dir.File("tampered.enc2");
    ASSERT_EQ(RunProgram({TOLVANE_PACK, "--block-size", "256", "--info", "改", Image, tampered}), 0);
    fs::copy_file(Package + ".sig", tampered + ".sig");
    const std::string unsigned_ = Dir.File("unsigned.enc2");
    fs::copy_file(Package, unsigned_);

    std::string out, err;
    ASSERT_EQ(Run({"info", Package}, &out), 0);
    EXPECT_NE(out.find("签名：maker.pem（"), std::string::npos) << out;
    EXPECT_NE(out.find("signature: valid, by maker.pem"), std::string::npos) << out;
    for (const std::string& package : {tampered, unsigned_}) {
        SCOPED_TRACE(package);
        std::vector<std::string> flash = FlashArgs({"COM9"});
        flash[1] = package;
        EXPECT_EQ(Run(flash, &out, &err), 3);
        EXPECT_NE(err.find("固件包签名无效或不是受信任的密钥签署，已拒绝"), std::string::npos) << err;
        EXPECT_EQ(out.find("无法打开串口"), std::string::npos) << out;
        EXPECT_EQ(Run({"station", package, "--slot", "COM9", "--once", "--working", "115200,n",
                       "--loader", "115200,e", "--log", Dir.File("station.jsonl")},
                      &out, &err),
                  3);
        EXPECT_NE(err.find("已拒绝"), std::string::npos) << err;
        EXPECT_EQ(Run({"info", package, "--json"}, &out), 3);
        const std::vector<nlohmann::json> info = JsonLines(out);
        ASSERT_EQ(info.size(), 1u);
        EXPECT_EQ(info[0]["signature"]["ok"], false);
    }

    Child device;
    StartDevice(device, 3);
    const std::string log = Dir.File("records.jsonl");
    std::vector<std::string> flash = FlashArgs({"COM3"});
    flash.insert(flash.end(), {"--log", log});
    ASSERT_EQ(Run(flash, &out, &err), 0) << out << err;
    const std::vector<nlohmann::json> records = JsonLines(Slurp(log));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["signer"].get<std::string>().size(), 16u);
}

} // namespace
} // namespace tolvane::test
