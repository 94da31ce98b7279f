// Replies at the worst moments: just before the time-out, handled in the same pass of the event
// loop as the timer's tick or as the stop click, and just after the time-out.
#include "tests/faults/FaultFixture.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QTimer>

#include <cstring>
#include <thread>

namespace tolvane::test {
namespace {

using Kind = DeviceMessage::Kind;
using namespace std::chrono_literals;

class ReplyTiming : public FaultWindow {
  protected:
    int Exchange(const char* request, char (&buffer)[ReplyBufferSize], int timeoutMs) {
        std::memset(buffer, 0, sizeof buffer);
        std::strcpy(buffer, request);
        SetReplyTimeout(timeoutMs);
        return TextExchange(buffer, buffer);
    }
};

TEST_F(ReplyTiming, ReplyHeardJustBeforeTheTimeOutCounts) {
    // Written 750 ms into a 1000 ms wait, heard after the 50 ms of quiet.
    StartDevice([](const DeviceMessage&) {
        std::this_thread::sleep_for(750ms);
        return DeviceReply(std::string("\r\nOK\r\n"));
    });
    DialogueStopped = false;
    char buffer[ReplyBufferSize];
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Exchange("AT\r", buffer, 1000), 1);
    EXPECT_GE(clock.elapsed(), 750);
    EXPECT_STREQ(buffer, "\r\nOK\r\n");
    EXPECT_EQ(Q(Window->RzStatusPane3)->text(), QString("收到应答"));
}

// The user-interface thread is held up inside the wait until the reply's notification and the
// timer's tick are both due, so the next pass of the loop handles the two together.
TEST_F(ReplyTiming, ReplyAndTickInTheSamePassReplyWins) {
    DialogueStopped = false;
    bool queuedBeforeTick = false;
    QTimer::singleShot(0, [&] {
        Pty.Write(std::string("\r\nOK\r\n"));
        // Past the 200 ms time-out and well past the 50 ms of quiet before the notification.
        std::this_thread::sleep_for(800ms);
        queuedBeforeTick = !TimedOut && !ReplyArrived;
    });
    char buffer[ReplyBufferSize];
    EXPECT_EQ(Exchange("AT\r", buffer, 200), 1);
    EXPECT_TRUE(queuedBeforeTick);
    EXPECT_STREQ(buffer, "\r\nOK\r\n");
    EXPECT_EQ(Q(Window->RzStatusPane3)->text(), QString("收到应答"));
    EXPECT_EQ(PendingReply, nullptr);
}

// The stop click is queued behind the reply's notification during the upgrade's transfer, so
// both are handled in one pass: the stop wins, the block counts as failed and is sent twice more
// without waiting, and the run ends in failure instead of moving on to the next block.
TEST_F(ReplyTiming, ReplyAndStopInTheSamePassStopWins) {
    LoadPackage(64, 4);
    GoodLoader loader;
    bool stopped = false;
    StartDevice([&](const DeviceMessage& m) -> DeviceReply {
        if (m.kind == Kind::Data && m.index == 1 && !stopped) {
            stopped = true;
            loader.Answer(m); // the device takes the block...
            PostToUi([this] {
                // ...and its reply arrives while the window is busy; then the stop click.
                Pty.Write(DataReply(0x10, 2).data(), 9);
                std::this_thread::sleep_for(300ms);
                QMetaObject::invokeMethod(
                    Q(Window), [this] { Q(Window->RzButton3)->click(); }, Qt::QueuedConnection);
            });
            return {};
        }
        return loader.Answer(m);
    });
    RunUpgrade();
    for (int i = 0; i < 100 && Device->Count(Kind::Data) < 4; ++i)
        std::this_thread::sleep_for(20ms);
    Device->Finish();
    std::vector<uint16_t> indices;
    for (const auto& m : Device->Log())
        if (m.kind == Kind::Data) indices.push_back(m.index);
    EXPECT_EQ(indices, (std::vector<uint16_t>{0, 1, 1, 1}));
    EXPECT_EQ(Q(Window->RzLabel9)->text(), QString("升级失败"));
    EXPECT_EQ(Window->RzButton3->Tag, 0);
    EXPECT_TRUE(DialogueStopped);
    EXPECT_EQ(PendingReply, nullptr);
}

TEST_F(ReplyTiming, ReplyAfterTheTimeOutIsCopiedNowhere) {
    // First request: answered 600 ms late, against a 200 ms time-out. Second: silence. Third: at
    // once.
    int requests = 0;
    StartDevice([&requests](const DeviceMessage&) -> DeviceReply {
        switch (++requests) {
        case 1:
            std::this_thread::sleep_for(600ms);
            return std::string("\r\nLATE\r\n");
        case 2:
            return {};
        default:
            return std::string("\r\nNEXT\r\n");
        }
    });
    DialogueStopped = false;
    char first[ReplyBufferSize];
    EXPECT_EQ(Exchange("AT+A\r", first, 200), -1);
    EXPECT_EQ(Q(Window->RzStatusPane3)->text(), QString("读/写超时！"));
    EXPECT_EQ(PendingReply, nullptr);
    // The late reply is heard with nobody waiting: it sets the flag and lands nowhere.
    ASSERT_TRUE(PumpUntil([] { return ReplyArrived; }, 3s));
    EXPECT_STREQ(first, "AT+A\r");
    EXPECT_EQ(PendingReply, nullptr);

    // The stale flag does not end the next wait: it times out in full.
    char second[ReplyBufferSize];
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(Exchange("AT+B\r", second, 300), -1);
    EXPECT_GE(clock.elapsed(), 290);
    EXPECT_STREQ(second, "AT+B\r");

    char third[ReplyBufferSize];
    EXPECT_EQ(Exchange("AT+C\r", third, 1000), 1);
    EXPECT_STREQ(third, "\r\nNEXT\r\n");
    Device->Finish(); // before `requests` goes
}

} // namespace
} // namespace tolvane::test
