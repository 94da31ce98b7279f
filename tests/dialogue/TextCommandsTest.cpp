// The reset, the version query and the line modes on fake seams.
#include "tests/dialogue/SeamFixture.h"

namespace tolvane::test {
namespace {

struct CommandCase {
    const char* name;
    DeviceAnswer answer;
    bool accepted;
    const char* status;
};

TEST_F(SeamTest, ResetDevice) {
    const CommandCase cases[] = {
        {"OK", Answer("\r\nOK\r\n"), true, "收到应答"},
        {"anything after OK", Answer("\r\nOKAY, loader\r\n"), true, "收到应答"},
        {"ERROR", Answer("\r\nERROR"), false, "收到应答"},
        {"ok in lower case", Answer("\r\nok\r\n"), false, "收到应答"},
        {"no leading line end", Answer("OK\r\n"), false, "读/写超时！"},
        {"a frame", Answer(CommandReply(0x80)), false, "收到应答"},
        {"silence", {}, false, "读/写超时！"},
    };
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDialogue d;
        d.Talk.DialogueStopped = false;
        d.Talk.SetReplyTimeout(5000); // the command sets its own
        d.Port.Device = [&](const DeviceMessage&) { return c.answer; };
        EXPECT_EQ(d.Talk.ResetDevice(), c.accepted);
        EXPECT_EQ(d.Port.Wire, TextBytes("AT+RESET\r"));
        EXPECT_EQ(d.Timer.Restarts, std::vector<int>{1000});
        EXPECT_EQ(d.View.LastStatus(), c.status);
    }
}

TEST_F(SeamTest, QueryVersion) {
    struct VersionCase {
        const char* name;
        DeviceAnswer answer;
        bool ok;
        const char* text;
    };
    const VersionCase cases[] = {
        {"version line", Answer("\r\nVERSION:2.1\r\n"), true, "VERSION:2.1\r\n"},
        {"more lines", Answer("\r\nboot 1\r\nVERSION:3\r\nOK\r\n"), true,
         "boot 1\r\nVERSION:3\r\nOK\r\n"},
        {"lower case only", Answer("\r\nversion 1\r\n"), false, ""},
        {"no leading line end", Answer("VERSION:1\r\n"), false, ""},
        {"silence", {}, false, ""},
    };
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDialogue d;
        d.Talk.DialogueStopped = false;
        d.Port.Device = [&](const DeviceMessage&) { return c.answer; };
        char text[ReplyBufferSize] = {};
        EXPECT_EQ(d.Talk.QueryVersion(text), c.ok);
        EXPECT_STREQ(text, c.text);
        EXPECT_EQ(d.Port.Wire, TextBytes("AT+VERSION=?\r\n"));
        EXPECT_EQ(d.Timer.Restarts, std::vector<int>{1000});
    }
}

TEST_F(SeamTest, LineModeSetsBaudRateThenParityEvenWhenUnchanged) {
    D.Modes.Working = {115200, 0};
    D.Modes.Upgrade = {9600, 2};
    D.Talk.ApplyLineMode(true);
    D.Talk.ApplyLineMode(false);
    std::vector<std::pair<LineEvent::Kind, int>> switches;
    for (const LineEvent& e : D.Port.Events)
        switches.emplace_back(e.kind, e.value);
    using K = LineEvent::Kind;
    EXPECT_EQ(switches, (std::vector<std::pair<K, int>>{{K::SetBaudRate, 115200},
                                                        {K::SetParity, 0},
                                                        {K::SetBaudRate, 9600},
                                                        {K::SetParity, 2}}));
}

TEST_F(SeamTest, LineModeWithoutSettingOrWhileClosingLeavesThePort) {
    D.Modes.Working = {0, 0};
    D.Talk.ApplyLineMode(true);
    D.Talk.StopDialogue();
    D.Talk.ApplyLineMode(false);
    EXPECT_TRUE(D.Port.Events.empty());
}

TEST_F(SeamTest, CommandsGoOutAtTheModeInForce) {
    D.Modes.Working = {19200, 1};
    Start();
    D.Talk.ApplyLineMode(true);
    char text[ReplyBufferSize] = {};
    D.Talk.QueryVersion(text);
    const auto messages = D.Port.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, Kind::Version);
    EXPECT_EQ(messages[0].baud, 19200u);
    EXPECT_EQ(messages[0].parity, 1);
}

} // namespace
} // namespace tolvane::test
