// The two programs as a user runs them: tolvane-devsim in the port map, tolvane-pack's files
// through the package loader, and the device's command line.
#include "app/PackageView.h"
#include "dialogue/FrameCodec.h"
#include "package/FirmwarePackage.h"
#include "tools/devsim/CommandLine.h"

#include "ToolSide.h"
#include "tests/package/TempDir.h"
#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using tolvane::test::Child;

using tolvane::test::RunProgram;

TEST(DevsimProgram, RegistersInThePortMapAndLeavesOnSignal) {
    TempDir dir;
    const std::string ports = dir.File("ports");
    for (int signal : {SIGTERM, SIGINT}) {
        Child devsim;
        ASSERT_TRUE(devsim.Start({TOLVANE_DEVSIM, "--com", "7", "--ports", ports}));
        const std::string device = devsim.ReadLine();
        ASSERT_EQ(device.rfind("/dev/pts/", 0), 0u) << device;
        const std::string link = ports + "/COM7";
        EXPECT_EQ(std::filesystem::read_symlink(link).string(), device);

        ToolSide tool;
        ASSERT_TRUE(tool.Open(link, B115200));
        tool.Send("AT+VERSION=?\r\n");
        EXPECT_EQ(Text(tool.Receive()), "\r\nVERSION:2.1\r\n");
        tool.Close();

        devsim.Signal(signal);
        EXPECT_EQ(devsim.Wait(), 0);
        EXPECT_FALSE(std::filesystem::is_symlink(link));
    }
}

// Installed where the user cannot write, the device joins the per-user port map of the window.
TEST(DevsimProgram, InstalledCopyRegistersInTheUserPortMap) {
    TempDir dir;
    const std::string bin = dir.File("bin"), program = bin + "/tolvane-devsim";
    std::filesystem::create_directory(bin);
    std::filesystem::copy_file(TOLVANE_DEVSIM, program);
    chmod(bin.c_str(), 0555);
    setenv("XDG_CONFIG_HOME", dir.File("xdg").c_str(), 1);
    Child devsim;
    const bool started = devsim.Start({program, "--com", "9"});
    unsetenv("XDG_CONFIG_HOME");
    ASSERT_TRUE(started);
    const std::string device = devsim.ReadLine();
    const std::string link = dir.File("xdg/tolvane/ports/COM9");
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), device);
    devsim.Signal(SIGTERM);
    EXPECT_EQ(devsim.Wait(), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(link));
    chmod(bin.c_str(), 0755);
}

TEST(DevsimProgram, StaleEntryReplacedLiveEntryRefused) {
    TempDir dir;
    const std::string ports = dir.File("ports");
    std::filesystem::create_directories(ports);
    std::filesystem::create_directory_symlink("/dev/pts/does-not-exist", ports + "/COM3");

    Child first;
    ASSERT_TRUE(first.Start({TOLVANE_DEVSIM, "--com", "3", "--ports", ports}));
    const std::string device = first.ReadLine();
    EXPECT_EQ(std::filesystem::read_symlink(ports + "/COM3").string(), device);

    // A second device cannot take COM3 while the first one lives.
    EXPECT_EQ(RunProgram({TOLVANE_DEVSIM, "--com", "3", "--ports", ports}), 1);
    EXPECT_EQ(std::filesystem::read_symlink(ports + "/COM3").string(), device);
    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(), 0);
}

TEST(DevsimProgram, VanishingRemovesThePortAndExits) {
    TempDir dir;
    const std::string ports = dir.File("ports");
    Child devsim;
    ASSERT_TRUE(devsim.Start({TOLVANE_DEVSIM, "--com", "12", "--ports", ports, "--start-in-loader",
                              "--vanish-after", "0"}));
    const std::string device = devsim.ReadLine();
    ToolSide tool;
    ASSERT_TRUE(tool.Open(device, B115200));
    // Block 0 of a one-block package of kind 16 with 8 bytes: 66 CC 10 01 00 00 00 08 00 ...
    std::vector<uint8_t> frame = {0x66, 0xCC, 0x10, 0x01, 0x00, 0x00, 0x00, 0x08, 0x00,
                                  1,    2,    3,    4,    5,    6,    7,    8};
    uint32_t crc = 0xFFFFFFFFu; // computed here, not by the code under test
    for (uint8_t byte : frame) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    crc ^= 0xFFFFFFFFu;
    for (int i = 0; i < 4; ++i)
        frame.push_back(uint8_t(crc >> (8 * i)));
    tool.Send(frame);
    EXPECT_TRUE(tool.HungUp(3000));
    EXPECT_EQ(devsim.Wait(), 3);
    EXPECT_FALSE(std::filesystem::is_symlink(ports + "/COM12"));
}

TEST(DevsimProgram, BadOptionsAreRefused) {
    EXPECT_EQ(RunProgram({TOLVANE_DEVSIM, "--working", "fast"}), 2);
    std::string help;
    EXPECT_EQ(RunProgram({TOLVANE_DEVSIM, "--help"}, &help), 0);
    for (const char* option :
         {"--silent", "--reset-error", "--ignore-pings", "--corrupt-crc", "--wrong-kind",
          "--beyond", "--repeat-block", "--order", "--split-reply", "--stray-byte", "--delay",
          "--vanish-after", "--pace", "--image", "--com", "--ports"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
}

TEST(DevsimCommandLine, ValuesAndRefusals) {
    devsim::CommandLine c;
    std::string error;
    const std::vector<std::string> args = {
        "--loader=57600,E", "--version-text", "V:3\\r\\n", "--corrupt-crc",  "2:3",
        "--beyond=1:0",     "--order",        "3,1",       "--stray-byte=0a"};
    ASSERT_TRUE(devsim::ParseCommandLine(args, c, error)) << error;
    EXPECT_EQ(c.Device.Loader.Baud, 57600u);
    EXPECT_EQ(c.Device.Loader.LineParity, devsim::Parity::Even);
    EXPECT_EQ(c.Device.VersionText, "V:3\r\n");
    EXPECT_EQ(c.Device.Fault.CorruptCrc[0].Times, 3);
    EXPECT_EQ(c.Device.Fault.Beyond[0].Times, 0);
    EXPECT_EQ(c.Device.Fault.Order, (std::vector<int>{3, 1}));
    EXPECT_EQ(c.Device.Fault.StrayValue, 0x0A);

    const std::vector<std::vector<std::string>> bad = {
        {"--com", "257"},    {"--com"},           {"--loader", "9600"}, {"--loader", "9600,mark"},
        {"--order", "1,,2"}, {"--stray-byte=zz"}, {"--bogus"}};
    for (const std::vector<std::string>& args : bad) {
        devsim::CommandLine ignored;
        EXPECT_FALSE(devsim::ParseCommandLine(args, ignored, error)) << args[0];
    }
}

TEST(DevsimCommandLine, StationOptions) {
    devsim::CommandLine c;
    std::string error;
    const std::vector<std::string> args = {"--id",
                                           "A1",
                                           "--id=B2",
                                           "--id-command",
                                           "AT+GSN\\r\\n",
                                           "--units",
                                           "0",
                                           "--absent=250",
                                           "--boot-delay",
                                           "1500",
                                           "--drop-at",
                                           "3:500",
                                           "--drop-at",
                                           "0:0",
                                           "--version-after",
                                           "VERSION:2.2\\r\\n"};
    ASSERT_TRUE(devsim::ParseCommandLine(args, c, error)) << error;
    EXPECT_EQ(c.Device.Ids, (std::vector<std::string>{"A1", "B2"}));
    EXPECT_EQ(c.Device.IdCommand, "AT+GSN");
    EXPECT_EQ(c.Device.Units, devsim::kEndlessUnits);
    EXPECT_EQ(c.Device.AbsentMs, 250);
    EXPECT_EQ(c.Device.BootDelayMs, 1500);
    ASSERT_EQ(c.Device.Fault.Drops.size(), 2u);
    EXPECT_EQ(c.Device.Fault.Drops[0].Block, 3);
    EXPECT_EQ(c.Device.Fault.Drops[0].Ms, 500);
    EXPECT_EQ(c.Device.VersionAfter, "VERSION:2.2\r\n");

    // Defaults keep the device as it was; a bare --stray-byte is FF; --order adds up.
    devsim::CommandLine d;
    ASSERT_TRUE(devsim::ParseCommandLine(
        {"--id-pattern", "SN####", "--stray-byte", "--order", "3,1", "--order=2"}, d, error));
    EXPECT_EQ(d.Device.Fault.Order, (std::vector<int>{3, 1, 2}));
    EXPECT_EQ(d.Device.IdPattern, "SN####");
    EXPECT_EQ(d.Device.IdCommand, "AT+CGSN");
    EXPECT_EQ(d.Device.Units, 0);
    EXPECT_FALSE(d.Device.VersionAfter);
    EXPECT_EQ(d.Device.Fault.StrayValue, 0xFF);
    EXPECT_TRUE(d.Device.Fault.StrayByte);
}

// A bad command line ends with status 2 and a message naming the option.
TEST(DevsimProgram, RefusalsNameTheOption) {
    const std::vector<std::vector<std::string>> bad = {{"--com", "0"},
                                                       {"--kind", "255"},
                                                       {"--delay", "x"},
                                                       {"--drop-at", "3"},
                                                       {"--drop-at", "x:100"},
                                                       {"--units", "-1"},
                                                       {"--boot-delay", "1s"},
                                                       {"--id-pattern", "SN0001"},
                                                       {"--id-command", "GSN"},
                                                       {"--absent"},
                                                       {"--id", "A", "--id-pattern", "B#"}};
    for (const std::vector<std::string>& args : bad) {
        SCOPED_TRACE(args[0]);
        std::vector<std::string> command = {TOLVANE_DEVSIM};
        command.insert(command.end(), args.begin(), args.end());
        std::string out, errors;
        EXPECT_EQ(RunProgram(command, &out, &errors), 2);
        EXPECT_NE(errors.find(args[0]), std::string::npos) << errors;
    }
    std::string help;
    EXPECT_EQ(RunProgram({TOLVANE_DEVSIM, "--help"}, &help), 0);
    for (const char* option : {"--id ", "--id-pattern", "--id-command", "--version-after",
                               "--boot-delay", "--units", "--absent", "--drop-at"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
}

// A one-block package of kind 16: the frame for block 0, or the closing frame.
std::vector<uint8_t> OneBlockFrame(uint16_t index) {
    static const uint8_t block[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    static const uint8_t end[4] = {0xA1, 0xB2, 0xC3, 0xD4};
    DataFrameSource source;
    source.kind = 16;
    source.blockCount = 1;
    source.blockSize = sizeof block;
    source.blockData = block;
    source.blockDataSize = sizeof block;
    source.endParam1 = end;
    source.endParam2 = end;
    std::vector<uint8_t> frame(DataFrameBufferSize);
    frame.resize(size_t(BuildDataFrame(source, index, frame.data(), int32_t(frame.size()))));
    return frame;
}

// A station's view of a series: each unit under the same COM name, a new device path printed
// for each arrival, and the program ending once the last unit has gone.
TEST(DevsimProgram, SeriesOfUnitsInThePortMap) {
    TempDir dir;
    const std::string ports = dir.File("ports"), link = ports + "/COM14";
    Child devsim;
    ASSERT_TRUE(
        devsim.Start({TOLVANE_DEVSIM, "--com", "14", "--ports", ports, "--units", "2", "--absent",
                      "200", "--id-pattern", "IMEI-###", "--version-after", "VERSION:3.0\\r\\n"}));
    for (int unit = 1; unit <= 2; ++unit) {
        SCOPED_TRACE("unit " + std::to_string(unit));
        const std::string device = devsim.ReadLine();
        ASSERT_EQ(device.rfind("/dev/pts/", 0), 0u) << device;
        EXPECT_EQ(std::filesystem::read_symlink(link).string(), device);
        ToolSide tool;
        ASSERT_TRUE(tool.Open(link, B115200));
        tool.Send("AT+CGSN\r\n");
        EXPECT_EQ(Text(tool.Receive()), "\r\nIMEI-00" + std::to_string(unit) + "\r\n\r\nOK\r\n");
        tool.Send("AT+RESET\r");
        EXPECT_EQ(Text(tool.Receive()), "\r\nOK\r\n");
        for (uint16_t index : {0, 1}) {
            tool.Send(OneBlockFrame(index));
            EXPECT_EQ(tool.Receive().size(), 9u);
        }
        tool.Send("AT+VERSION=?\r\n");
        EXPECT_EQ(Text(tool.Receive()), "\r\nVERSION:3.0\r\n");
        EXPECT_TRUE(tool.HungUp(3000));
    }
    EXPECT_EQ(devsim.Wait(), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST(PackProgram, OutputLoadsWithTheProductLine) {
    TempDir dir;
    std::vector<uint8_t> area(3 * 512);
    for (size_t i = 0; i < area.size(); ++i)
        area[i] = uint8_t(i ^ (i >> 8));
    const std::string input = dir.Write("area.bin", area);
    const std::string output = dir.File("out.enc2");
    ASSERT_EQ(RunProgram({TOLVANE_PACK, "--kind", "16", "--block-size", "512", "--end1", "0A0B0C0D",
                          "--end2", "01020304", "--info", "测试固件 V1", input, output}),
              0);
    auto package = std::make_unique<FirmwarePackageData>();
    const PackageView r = ViewOfPackage(LoadPackage(output, *package));
    ASSERT_EQ(r.Outcome, PackageLoadOutcome::Loaded);
    ASSERT_EQ(r.MemoLines.size(), 3u);
    EXPECT_EQ(r.MemoLines[0], "K46方案Modem升级");
    EXPECT_EQ(r.MemoLines[2], "升级文件信息:测试固件 V1");
    EXPECT_EQ(package->BlockCount(), 3);
    EXPECT_TRUE(std::equal(area.begin(), area.end(), package->BlockData));
    const uint8_t end1[] = {0x0A, 0x0B, 0x0C, 0x0D};
    EXPECT_TRUE(std::equal(end1, end1 + 4, package->EndParam1()));
    EXPECT_EQ(package->EndParam2()[3], 0x04);

    // Padding the last block.
    const std::string shortInput = dir.Write("short.bin", std::vector<uint8_t>(1000, 7));
    ASSERT_EQ(RunProgram({TOLVANE_PACK, "--kind", "17", "--block-size", "512", "--pad=00",
                          shortInput, output}),
              0);
    ASSERT_EQ(LoadPackage(output, *package).Outcome, PackageLoadOutcome::Loaded);
    EXPECT_EQ(package->BlockCount(), 2);
    EXPECT_EQ(package->BlockData[999], 7);
    EXPECT_EQ(package->BlockData[1000], 0);
}

TEST(PackProgram, RefusesWhatCannotBeAPackage) {
    TempDir dir;
    const std::string input = dir.Write("area.bin", std::vector<uint8_t>(4096));
    const std::string big = dir.Write("big.bin", std::vector<uint8_t>(65424));
    const std::string output = dir.File("never.enc2");
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        {{"--block-size", "12", input, output}, 1},
        {{"--block-size", "4088", input, output}, 1},
        {{"--block-size", "1000", input, output}, 1}, // not whole blocks, no --pad
        {{"--block-size", "8", big, output}, 1},      // 65537 bytes with header and checksum
        {{"--info", std::string(65, 'x'), input, output}, 1},
        {{"--kind", "256", input, output}, 2},
        {{"--end1", "123", input, output}, 2},
        {{input}, 2},
        {{dir.File("missing.bin"), output}, 2},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {TOLVANE_PACK};
        args.insert(args.end(), c.args.begin(), c.args.end());
        EXPECT_EQ(RunProgram(args), c.status) << c.args[0] << " " << c.args[1];
        EXPECT_FALSE(std::filesystem::exists(output));
    }
}

} // namespace
