#include "settings/IniProfile.h"

#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

class IniProfileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tolvane-ini-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        path = dir + "/Config.ini";
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir, ec);
    }
    void Put(const std::string& content) const { std::ofstream(path, std::ios::binary) << content; }
    std::string Get() const {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    size_t EntryCount() const {
        return size_t(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
    }

    std::string dir, path;
};

TEST(IniIntegerTest, AcceptsDecimalAndHexWithinThe32BitRange) {
    const struct {
        const char* text;
        bool ok;
        int32_t value;
    } cases[] = {
        {"0", true, 0},
        {"19200", true, 19200},
        {"-1", true, -1},
        {"+3", true, 3},
        {"007", true, 7},
        {"2147483647", true, INT32_MAX},
        {"-2147483648", true, INT32_MIN},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"99999999999999999999", false, 0},
        {"0x4B00", true, 19200},
        {"0X1f", true, 31},
        {"0x7FFFFFFF", true, INT32_MAX},
        {"0x80000000", false, 0},
        {"0x", false, 0},
        {"0xG", false, 0},
        {"-0x10", false, 0},
        {"", false, 0},
        {"-", false, 0},
        {"12abc", false, 0},
        {"1 2", false, 0},
        {"$10", false, 0},
    };
    for (const auto& c : cases) {
        int32_t value = 12345;
        EXPECT_EQ(ParseIniInteger(c.text, value), c.ok) << c.text;
        EXPECT_EQ(value, c.ok ? c.value : 12345) << c.text;
    }
}

TEST_F(IniProfileTest, ReadsKeysAsTheSettingsFileMeansThem) {
    const struct {
        const char* content;
        const char* key;
        const char* expected; // ReadString with fallback "dflt"
    } cases[] = {
        {"[COMPort1]\nPort=5\n", "Port", "5"},
        {"[comport1]\nPORT = 5 \n", "port", "5"},
        {"[ COMPort1 ]\n\tPort\t=\t 6\t\n", "Port", "6"},
        {"[COMPort1]\r\nPort=7\r\n", "Port", "7"},
        {"[COMPort1]\nPort=1\nPort=2\n", "Port", "1"},
        {"[COMPort1]\nPort=\n", "Port", ""},
        {"[COMPort1]\nParity= even\n", "Parity", "even"},
        {"[Other]\nPort=3\n[COMPort1]\nBaudrate=1\n", "Port", "dflt"},
        {"Port=3\n[COMPort1]\n", "Port", "dflt"},
        {"[COMPort1]\n;Port=3\n", "Port", "dflt"},
        {"[COMPort1]\nPort=1\n[COMPort1]\nPort=2\nByteSize=7\n", "ByteSize", "dflt"},
        {"[COMPort1]\nPort=a=b\n", "Port", "a=b"},
        {"[COMPort1]\nPort=9", "Port", "9"},
        {"[COMPort1\nPort=4\n", "Port", "4"},
        {"", "Port", "dflt"},
    };
    for (const auto& c : cases) {
        Put(c.content);
        EXPECT_EQ(IniProfile(path).ReadString("COMPort1", c.key, "dflt"), c.expected) << c.content;
    }
}

TEST_F(IniProfileTest, IntegersFallBackToTheDefault) {
    Put("[COMPort1]\nBaudrate=0x4B00\nPort=abc\nStopBits=4294967297\n");
    const IniProfile ini(path);
    EXPECT_EQ(ini.ReadInteger("COMPort1", "Baudrate", 1), 19200);
    EXPECT_EQ(ini.ReadInteger("COMPort1", "Port", 1), 1);
    EXPECT_EQ(ini.ReadInteger("COMPort1", "StopBits", 0), 0);
    EXPECT_EQ(ini.ReadInteger("COMPort1", "Missing", 42), 42);
}

TEST_F(IniProfileTest, WritesReplaceInPlaceAppendOrCreateAndKeepEverythingElse) {
    const struct {
        const char* name;
        std::string before; // "<absent>": no file
        const char* key;
        const char* value;
        std::string after;
    } cases[] = {
        {"new file", "<absent>", "Port", "1", "[COMPort1]\nPort=1\n"},
        {"empty file", "", "Port", "1", "[COMPort1]\nPort=1\n"},
        {"replace in place", "a\n[COMPort1]\nPort=1\nBaudrate=9600\n[Other]\nx=1\n", "Port", "3",
         "a\n[COMPort1]\nPort=3\nBaudrate=9600\n[Other]\nx=1\n"},
        {"case-insensitive replace", "[comport1]\n  port = 1 \n", "Port", "3",
         "[comport1]\nPort=3\n"},
        {"first of two keys", "[COMPort1]\nPort=1\nPort=2\n", "Port", "3",
         "[COMPort1]\nPort=3\nPort=2\n"},
        {"append before blank lines", "[COMPort1]\nPort=1\n\n\n[Other]\nk=v\n", "ByteSize", "8",
         "[COMPort1]\nPort=1\nByteSize=8\n\n\n[Other]\nk=v\n"},
        {"append after odd lines", "[COMPort1]\nPort=1\nodd line\n; note\n", "ByteSize", "8",
         "[COMPort1]\nPort=1\nodd line\n; note\nByteSize=8\n"},
        {"append to empty section", "[COMPort1]\n[Other]\n", "Port", "1",
         "[COMPort1]\nPort=1\n[Other]\n"},
        {"new section at end", "; comment\n[Other]\nk=v\n", "Port", "1",
         "; comment\n[Other]\nk=v\n[COMPort1]\nPort=1\n"},
        {"unterminated last line", "[Other]\nk=v", "Port", "1",
         "[Other]\nk=v\n[COMPort1]\nPort=1\n"},
        {"unterminated key line", "[COMPort1]\nPort=1", "Port", "3", "[COMPort1]\nPort=3"},
        {"unterminated section line", "[COMPort1]", "Port", "3", "[COMPort1]\nPort=3\n"},
        {"CRLF kept", "[COMPort1]\r\nPort=1\r\n", "Baudrate", "19200",
         "[COMPort1]\r\nPort=1\r\nBaudrate=19200\r\n"},
        {"CRLF new section", "[Other]\r\nk=v\r\n", "Port", "1",
         "[Other]\r\nk=v\r\n[COMPort1]\r\nPort=1\r\n"},
        {"mixed line ends kept", "[COMPort1]\nPort=1\r\nx\n", "Port", "2",
         "[COMPort1]\nPort=2\r\nx\n"},
        {"binary bytes kept", "\x00\xff\r\x01[\n[COMPort1]\nP\x00rt=1\n"s, "Port", "4",
         "\x00\xff\r\x01[\n[COMPort1]\nP\x00rt=1\nPort=4\n"s},
    };
    for (const auto& c : cases) {
        fs::remove(path);
        if (c.before != "<absent>") Put(c.before);
        IniProfile(path).WriteString("COMPort1", c.key, c.value);
        EXPECT_EQ(Get(), c.after) << c.name;
        EXPECT_EQ(EntryCount(), 1u) << c.name << ": temporary file left behind";
    }
}

TEST_F(IniProfileTest, LongLinesAndJunkNeverHideOrLoseData) {
    std::string junk(3 * 1024 * 1024, 'x');
    for (size_t i = 0; i < junk.size(); i += 7919)
        junk[i] = char(i % 251); // NULs and CRs among them, no line structure worth the name
    const std::string before = junk + "\n[COMPort1]\nPort=2\n" + junk;
    Put(before);
    const IniProfile ini(path);
    EXPECT_EQ(ini.ReadInteger("COMPort1", "Port", 1), 2);
    ini.WriteInteger("COMPort1", "Port", 5);
    std::string expected = before;
    expected.replace(junk.size() + 12, 6, "Port=5");
    EXPECT_EQ(Get(), expected);
}

TEST_F(IniProfileTest, KeepsTheFileModeAndFollowsALink) {
    const std::string real = dir + "/real.ini";
    std::ofstream(real) << "[COMPort1]\nPort=1\n";
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    ASSERT_EQ(symlink("real.ini", path.c_str()), 0);
    IniProfile(path).WriteInteger("COMPort1", "Port", 2);
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_EQ(IniProfile(real).ReadInteger("COMPort1", "Port", 0), 2);
    struct stat st {};
    ASSERT_EQ(stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(IniProfileTest, AFileThatCannotBeWrittenRaisesTheErrorAndStaysAsItWas) {
    // A folder that does not exist.
    const std::string missing = dir + "/no/such/folder/Config.ini";
    try {
        IniProfile(missing).WriteInteger("COMPort1", "Port", 1);
        FAIL() << "no error";
    } catch (const IniWriteError& e) {
        EXPECT_STREQ(e.what(), ("Unable to write to " + missing).c_str());
    }

    // A directory of that name: read as nothing, never replaced.
    fs::create_directory(path);
    EXPECT_EQ(IniProfile(path).ReadInteger("COMPort1", "Port", 1), 1);
    EXPECT_THROW(IniProfile(path).WriteInteger("COMPort1", "Port", 1), IniWriteError);
    EXPECT_TRUE(fs::is_directory(path));
    fs::remove(path);

    // A read-only folder (root may write anyway, then there is nothing to check).
    Put("[COMPort1]\nPort=1\n");
    ASSERT_EQ(chmod(dir.c_str(), 0555), 0);
    if (access(dir.c_str(), W_OK) == 0) return;
    EXPECT_THROW(IniProfile(path).WriteInteger("COMPort1", "Port", 2), IniWriteError);
    EXPECT_EQ(Get(), "[COMPort1]\nPort=1\n");
    EXPECT_EQ(EntryCount(), 1u);
}

TEST_F(IniProfileTest, AKilledWriterNeverLeavesAPartialFile) {
    Put("[COMPort1]\nPort=0\nBaudrate=0\n");
    // "[COMPort1]\nPort=<digits>\nBaudrate=<digits>\n" and nothing else.
    const auto complete = [](const std::string& text) {
        std::istringstream in(text);
        std::string section, port, baud, rest;
        const auto numbered = [](const std::string& line, const std::string& key) {
            return line.size() > key.size() && line.compare(0, key.size(), key) == 0 &&
                   line.find_first_not_of("0123456789", key.size()) == std::string::npos;
        };
        return std::getline(in, section) && section == "[COMPort1]" && std::getline(in, port) &&
               numbered(port, "Port=") && std::getline(in, baud) && numbered(baud, "Baudrate=") &&
               !std::getline(in, rest) && text.back() == '\n';
    };
    for (int round = 0; round < 12; ++round) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const IniProfile ini(path);
            for (int i = 1;; ++i) {
                ini.WriteInteger("COMPort1", "Port", i);
                ini.WriteInteger("COMPort1", "Baudrate", i);
            }
        }
        usleep(useconds_t(2000 + round * 1500));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
        const std::string content = Get();
        EXPECT_TRUE(complete(content)) << content;
        // A temporary file of the killed writer may remain; the settings file itself is whole.
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.path() != path) fs::remove(entry.path());
    }
}

} // namespace
