// The exchange engine on fake seams: what ends a wait and when, what reaches the waiting
// buffer, and what the user is told.
#include "tests/dialogue/SeamFixture.h"

#include <cstring>

namespace tolvane::test {
namespace {

// When the tool hears a reply that the device sends `ms` after the request: after the port's
// quiet time.
constexpr int HeardAfter(int ms) {
    return ms + ScriptedPort::QuietMs;
}

struct TextCase {
    const char* name;
    DeviceAnswer answer;
    int result;
    const char* target; // the reply target afterwards (the request when nothing was copied)
    const char* status;
    int64_t endsAt; // when the wait ended
};

TEST_F(SeamTest, TextExchangeOutcomes) {
    const Bytes ping = CommandReply(0x80);
    Bytes spoiled = ping;
    spoiled[8] ^= 1;
    Bytes stray = TextBytes("x\r\nOK\r\n");
    const TextCase cases[] = {
        {"reply", Answer("\r\nOK\r\n", 100), 1, "\r\nOK\r\n", "收到应答", HeardAfter(100)},
        {"silence", {}, -1, "AT+RESET\r", "读/写超时！", 1000},
        // The time-out counts the quiet before the port reports the reply.
        {"heard just in time", Answer("\r\nOK\r\n", 949), 1, "\r\nOK\r\n", "收到应答", 999},
        {"heard as the timer ticks", Answer("\r\nOK\r\n", 950), 1, "\r\nOK\r\n", "收到应答", 1000},
        {"heard a moment late", Answer("\r\nOK\r\n", 951), -1, "AT+RESET\r", "读/写超时！", 1000},
        {"binary reply", Answer(ping), -1, "AT+RESET\r", "收到应答", HeardAfter(10)},
        {"spoiled frame", Answer(spoiled), -1, "AT+RESET\r", "读/写超时！", 1000},
        {"stray byte before the reply", Answer(stray), -1, "AT+RESET\r", "读/写超时！", 1000},
        {"split by a pause: the first part is the reply",
         {{10, TextBytes("\r\nO")}, {110, TextBytes("K\r\n")}},
         1,
         "\r\nO",
         "收到应答",
         HeardAfter(10)},
        {"split without a pause: one reply",
         {{10, TextBytes("\r\nO")}, {40, TextBytes("K\r\n")}},
         1,
         "\r\nOK\r\n",
         "收到应答",
         HeardAfter(40)},
        {"bytes after the zero are dropped", Answer(Bytes{'\r', '\n', 'A', 0, 'B'}), 1, "\r\nA",
         "收到应答", HeardAfter(10)},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDialogue d;
        d.Talk.DialogueStopped = false;
        d.Port.Device = [&](const DeviceMessage&) { return c.answer; };
        d.Talk.SetReplyTimeout(1000);
        char buffer[ReplyBufferSize] = "AT+RESET\r";
        EXPECT_EQ(d.Talk.TextExchange(buffer, buffer), c.result);
        EXPECT_STREQ(buffer, c.target);
        EXPECT_EQ(d.View.Only("status "), std::vector<std::string>{c.status});
        EXPECT_EQ(d.Clock.Now(), c.endsAt);
        EXPECT_EQ(d.Talk.PendingReply, nullptr);
        EXPECT_EQ(d.Port.Wire, TextBytes("AT+RESET\r")); // the text without its zero
        EXPECT_EQ(d.View.BytesSent, 9);
    }
}

TEST_F(SeamTest, StoppedBeforeTheWaitStillSends) {
    // DialogueStopped is set from the start: the request goes out, the wait ends at once.
    D.Port.Device = [](const DeviceMessage&) { return Answer("\r\nOK\r\n"); };
    std::string reply;
    EXPECT_EQ(Text("AT+RESET\r", reply), 0);
    EXPECT_EQ(reply, "AT+RESET\r");
    EXPECT_EQ(D.Port.Count(Kind::Reset), 1);
    EXPECT_EQ(D.Clock.Now(), 0);
    EXPECT_EQ(D.Wait.Passes, 0);
    EXPECT_TRUE(D.View.Only("status ").empty());
    EXPECT_EQ(D.Talk.PendingReply, nullptr);
}

TEST_F(SeamTest, StopDuringTheWait) {
    Start();
    D.Port.Device = [](const DeviceMessage&) { return Answer("\r\nOK\r\n", 500); };
    D.Talk.SetReplyTimeout(1000);
    D.Wait.At(200, [&] { D.Talk.EndRun(); }); // the stop click, nested in the wait
    std::string reply;
    EXPECT_EQ(Text("AT+RESET\r", reply), 0);
    EXPECT_EQ(D.Clock.Now(), 200);
    EXPECT_TRUE(D.View.Only("status ").empty());
    EXPECT_EQ(D.Talk.PendingReply, nullptr);
}

TEST_F(SeamTest, StopWinsOverAReplyInTheSamePass) {
    Start();
    D.Port.Device = [](const DeviceMessage&) { return Answer("\r\nOK\r\n", 100); };
    D.Talk.SetReplyTimeout(1000);
    // One pass handles the reply and then the stop click.
    D.Wait.At(HeardAfter(100), [&] {
        D.Wait.DeliverPending();
        D.Talk.EndRun();
    });
    std::string reply;
    EXPECT_EQ(Text("AT+RESET\r", reply), 0);
    EXPECT_TRUE(D.Talk.ReplyArrived); // heard, yet the exchange reports the stop
    EXPECT_EQ(reply, "AT+RESET\r");
    EXPECT_TRUE(D.View.Only("status ").empty());
}

TEST_F(SeamTest, LateReplyIsCopiedNowhereAndDoesNotEndTheNextWait) {
    Start();
    int requests = 0;
    D.Port.Device = [&](const DeviceMessage&) {
        return ++requests == 1 ? Answer("\r\nLATE\r\n", 1500) : DeviceAnswer{};
    };
    D.Talk.SetReplyTimeout(1000);
    std::string reply;
    EXPECT_EQ(Text("AT+RESET\r", reply), -1);
    // Between two requests the window handles what comes in.
    D.Clock.AdvanceTo(2000);
    D.Wait.DeliverPending();
    EXPECT_TRUE(D.Talk.ReplyArrived);
    EXPECT_EQ(reply, "AT+RESET\r");
    // The next exchange clears the flag: it waits its whole interval.
    EXPECT_EQ(Text("AT+RESET\r", reply), -1);
    EXPECT_EQ(D.Clock.Now(), 3000);
    EXPECT_EQ(D.View.Only("status "), (std::vector<std::string>{"读/写超时！", "读/写超时！"}));
}

TEST_F(SeamTest, EmptyNotificationCountsButChangesNothing) {
    D.Talk.CollectReply();
    EXPECT_EQ(D.View.Notifications, 1);
    EXPECT_EQ(D.View.BytesReceived, 0);
    EXPECT_FALSE(D.Talk.ReplyArrived);
    EXPECT_TRUE(D.View.Lines.empty());
}

TEST_F(SeamTest, ReplyWithNobodyWaitingSetsOnlyTheFlag) {
    D.Port.ArriveAt(0, CommandReply(0x80));
    D.Port.Notify();
    D.Talk.CollectReply();
    EXPECT_TRUE(D.Talk.ReplyArrived);
    EXPECT_EQ(D.Talk.PendingReply, nullptr);
    EXPECT_EQ(D.View.BytesReceived, 9);
}

TEST_F(SeamTest, LongTextIsTakenInNotificationsOf1024Bytes) {
    Start();
    const std::string text = "\r\n" + std::string(1498, 'v');
    D.Port.Device = [&](const DeviceMessage&) { return Answer(text); };
    D.Talk.SetReplyTimeout(1000);
    std::string reply;
    EXPECT_EQ(Text("AT+VERSION=?\r\n", reply), 1);
    EXPECT_EQ(reply, text.substr(0, 1024)); // all of the first notification, nothing beyond
    // The rest comes in a later notification and is no reply (it does not begin with CR LF).
    D.Clock.AdvanceTo(1000);
    D.Wait.DeliverPending();
    EXPECT_EQ(D.View.BytesReceived, 1500);
    EXPECT_EQ(D.View.Notifications, 2);
}

TEST_F(SeamTest, NestedExchangeBorrowsTheReplySlotAndGivesItBack) {
    Start();
    D.Port.Device = [](const DeviceMessage& m) {
        if (m.kind == Kind::Version) return Answer("\r\nVERSION:1\r\n", 10);
        return Answer("\r\nOK\r\n", 500);
    };
    D.Talk.SetReplyTimeout(1000);
    std::string inner;
    int innerResult = 0;
    D.Wait.At(100, [&] { innerResult = Text("AT+VERSION=?\r\n", inner); });
    std::string outer;
    EXPECT_EQ(Text("AT+RESET\r", outer), 1);
    EXPECT_EQ(innerResult, 1);
    EXPECT_EQ(inner, "\r\nVERSION:1\r\n");
    EXPECT_EQ(outer, "\r\nOK\r\n");
    EXPECT_EQ(D.Clock.Now(), HeardAfter(500));
    EXPECT_EQ(D.Talk.PendingReply, nullptr);
}

TEST_F(SeamTest, EveryRequestRestartsTheTimerWithTheIntervalLastSet) {
    Start();
    std::string reply;
    D.Talk.SetReplyTimeout(300);
    Text("AT+RESET\r", reply);
    Text("AT+RESET\r", reply);
    D.Talk.SetReplyTimeout(70);
    Text("AT+RESET\r", reply);
    EXPECT_EQ(D.Timer.Restarts, (std::vector<int>{300, 300, 70}));
    EXPECT_EQ(D.Clock.Now(), 670);
}

} // namespace
} // namespace tolvane::test
