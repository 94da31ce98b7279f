// The flasher's command line: options before or after the command, the rules between the
// commands and --port, and every refusal naming what it refuses.
#include "tools/flash/FlashOptions.h"

#include <gtest/gtest.h>

namespace flash {
namespace {

using Args = std::vector<std::string>;

TEST(FlashOptions, OptionsStandAnywhereAndPortsKeepTheirOrder) {
    FlashOptions options;
    std::string error;
    ASSERT_TRUE(ParseFlashOptions({"--json", "--port", "COM3", "flash", "--port", "/dev/ttyUSB0",
                                   "a.enc2", "-q", "--working", "9600,E", "--loader", "115200,none",
                                   "--timeout", "2.5", "--prompt-replies"},
                                  options, error))
        << error;
    EXPECT_EQ(options.Action, Command::Flash);
    EXPECT_EQ(options.Package, "a.enc2");
    EXPECT_EQ(options.Ports, (Args{"COM3", "/dev/ttyUSB0"}));
    ASSERT_TRUE(options.Working && options.Loader);
    EXPECT_EQ(options.Working->Baud, 9600u);
    EXPECT_EQ(options.Working->Parity, 2);
    EXPECT_EQ(options.Loader->Baud, 115200u);
    EXPECT_EQ(options.Loader->Parity, 0);
    EXPECT_TRUE(options.Json && options.Quiet && options.PromptReplies);
    EXPECT_FALSE(options.Verbose);
    EXPECT_DOUBLE_EQ(options.TimeoutSeconds, 2.5);
    EXPECT_TRUE(options.TracePath.empty());

    // A --port between the command and its package takes one value only.
    options = {};
    ASSERT_TRUE(ParseFlashOptions({"flash", "--port", "COM1", "b.enc2", "-v", "--trace", "t"},
                                  options, error))
        << error;
    EXPECT_EQ(options.Package, "b.enc2");
    EXPECT_EQ(options.Ports, Args{"COM1"});
    EXPECT_TRUE(options.Verbose);
    EXPECT_EQ(options.TracePath, "t");
    EXPECT_FALSE(options.Working || options.Loader); // left to Config.ini
}

TEST(FlashOptions, EachCommandAndHelpAndVersion) {
    const struct {
        Args args;
        Command action;
    } cases[] = {
        {{"info", "p.enc2"}, Command::Info},
        {{"ports", "--json"}, Command::Ports},
        {{"version", "--port", "COM7", "--working", "9600,n"}, Command::QueryVersion},
        {{"--help"}, Command::Help},
        {{"flash", "-h"}, Command::Help},
        {{"info", "--bogus", "--help"}, Command::Help},
        {{"--version"}, Command::Version},
        {{"ports", "--version"}, Command::Version},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front());
        FlashOptions options;
        std::string error;
        ASSERT_TRUE(ParseFlashOptions(c.args, options, error)) << error;
        EXPECT_EQ(options.Action, c.action);
    }
}

TEST(FlashOptions, RefusalsNameWhatTheyRefuse) {
    const struct {
        Args args;
        const char* named;
    } cases[] = {
        {{}, "no command"},
        {{"erase"}, "erase"},
        {{"-x"}, "-x"},
        {{"info"}, "PACKAGE"},
        {{"info", "a", "b"}, "b"},
        {{"info", "a", "--bogus"}, "--bogus"},
        {{"ports", "extra"}, "extra"},
        {{"flash", "a"}, "--port"},
        {{"flash", "a", "--port"}, "--port"},
        {{"version"}, "--port"},
        {{"version", "--port", "COM1", "--port", "COM2"}, "--port"},
        {{"ports", "--port", "COM1"}, "--port"},
        {{"info", "a", "--port", "COM1"}, "--port"},
        {{"flash", "a", "--port", "COM1", "--working", "fast,n"}, "--working"},
        {{"flash", "a", "--port", "COM1", "--working", "9600,x"}, "--working"},
        {{"flash", "a", "--port", "COM1", "--working", "0,n"}, "--working"},
        {{"flash", "a", "--port", "COM1", "--loader", "4000001,e"}, "--loader"},
        {{"flash", "a", "--port", "COM1", "--loader", "4294967297,none"}, "--loader"},
        {{"flash", "a", "--port", "COM1", "--loader"}, "--loader"},
        {{"flash", "a", "--port", "COM1", "--timeout", "-3"}, "--timeout"},
        {{"flash", "a", "--port", "COM1", "--timeout", "0"}, "--timeout"},
        {{"flash", "a", "--port", "COM1", "--timeout", "nan"}, "--timeout"},
        {{"flash", "a", "--port", "COM1", "--timeout", "2e6"}, "--timeout"},
        {{"flash", "a", "--port", "COM1", "--timeout", "soon"}, "--timeout"},
        {{"ports", "--trace"}, "--trace"},
        {{"/json", "ports"}, "/json"}, // never an option, on Windows either
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.named);
        FlashOptions options;
        std::string error;
        EXPECT_FALSE(ParseFlashOptions(c.args, options, error));
        EXPECT_NE(error.find(c.named), std::string::npos) << error;
    }
}

// Each command's help is its own: its usage line, its own options and those of the program it
// uses, nothing of the other commands; "--help" alone keeps the overview.
TEST(FlashOptions, EachCommandHasItsOwnHelp) {
    const struct {
        const char* command;
        std::vector<const char*> shown;
        std::vector<const char*> hidden;
    } cases[] = {
        {"info", {"info [OPTIONS] PACKAGE", "--json"}, {"--port", "--slot", "--trace", "--log"}},
        {"ports", {"ports [OPTIONS]", "--json"}, {"--port", "PACKAGE", "--working"}},
        {"version",
         {"version [OPTIONS]", "--port PORT", "--working BAUD,PARITY", "--verbose"},
         {"--loader", "--timeout", "--slot", "PACKAGE"}},
        {"flash",
         {"flash [OPTIONS] PACKAGE", "--port PORT", "--loader BAUD,PARITY", "--trace FILE",
          "--timeout SECONDS", "--prompt-replies", "--log FILE", "--reconnect SECONDS"},
         {"--slot", "--csv", "--once", "--lot"}},
        {"station",
         {"station [OPTIONS] PACKAGE", "--slot [NAME=]PORT", "--once", "--boot-timeout",
          "--working BAUD,PARITY", "--loader BAUD,PARITY", "--quiet"},
         {"--port", "--prompt-replies", "--csv", "--trace FILE", "Options of"}},
        {"history",
         {"history [OPTIONS]", "--since TIME", "--csv", "--failed", "--json"},
         {"--port", "--working", "--once", "PACKAGE"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        for (const Args& args :
             {Args{c.command, "--help"}, Args{"-h", c.command}, Args{c.command, "--bogus", "-h"}}) {
            FlashOptions options;
            std::string error;
            ASSERT_TRUE(ParseFlashOptions(args, options, error)) << error;
            EXPECT_EQ(options.Action, Command::Help);
            EXPECT_EQ(options.HelpCommand, c.command);
        }
        const std::string help = CommandUsage(c.command);
        EXPECT_EQ(help.find("Usage: tolvane-flash " + std::string(c.command)), help.find("Usage:"));
        EXPECT_NE(help.find("Exit status: 0"), std::string::npos) << help;
        for (const char* piece : c.shown)
            EXPECT_NE(help.find(piece), std::string::npos) << piece << "\n" << help;
        for (const char* piece : c.hidden)
            EXPECT_EQ(help.find(piece), std::string::npos) << piece << "\n" << help;
        EXPECT_EQ(help.find("\n\n\n"), std::string::npos) << help;
    }
    FlashOptions options;
    std::string error;
    ASSERT_TRUE(ParseFlashOptions({"--help"}, options, error));
    EXPECT_TRUE(options.HelpCommand.empty());
    EXPECT_TRUE(CommandUsage("erase").empty());
}

// An option nobody defines is what the message starts with, whatever else is wrong too.
TEST(FlashOptions, UnknownOptionComesFirst) {
    const struct {
        Args args;
        const char* option;
    } cases[] = {
        {{"flash", "--no-such-option"}, "--no-such-option"},    // also no PACKAGE, no --port
        {{"station", "a.enc2", "--bogus"}, "--bogus"},          // also no --slot
        {{"info", "--bogus"}, "--bogus"},                       // also no PACKAGE
        {{"--bogus", "erase"}, "--bogus"},                      // also no command
        {{"-x"}, "-x"},                                         // no command at all
        {{"history", "--since", "soon", "--bogus"}, "--bogus"}, // also a bad time
        {{"flash", "a", "--port", "COM1", "--timeout", "-3", "-z"}, "-z"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        FlashOptions options;
        std::string error;
        EXPECT_FALSE(ParseFlashOptions(c.args, options, error));
        EXPECT_EQ(error.rfind("unknown option " + std::string(c.option), 0), 0u) << error;
    }
}

TEST(FlashOptions, HelpIsMadeFromTheOptions) {
    const std::string help = FlashUsage();
    for (const char* piece : {"info PACKAGE", "ports", "version", "flash PACKAGE", "--port PORT",
                              "--working BAUD,PARITY", "--loader BAUD,PARITY", "--json", "--quiet",
                              "--verbose", "--trace FILE", "--timeout SECONDS", "--prompt-replies",
                              "--version", "开始升级", "130 interrupted"})
        EXPECT_NE(help.find(piece), std::string::npos) << piece;
}

} // namespace
} // namespace flash
