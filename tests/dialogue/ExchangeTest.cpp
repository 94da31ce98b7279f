// Text exchanges against a scripted device: the version query from the window, time-outs,
// replies split or spoiled on the line, the stop, nesting, the counters and the line modes.
#include "app/StatusLine.h"
#include "tests/dialogue/DialogueWindowFixture.h"

#include <cstring>

namespace tolvane::test {
namespace {

using Kind = DeviceMessage::Kind;
using namespace std::chrono_literals;

class Exchange : public DialogueWindow {};

TEST_F(Exchange, VersionQueryAtTheWorkingModeShowsTheVersion) {
    SetModes("9600bps", 2, "115200bps", 0);
    StartDevice([](const DeviceMessage& m) -> DeviceReply {
        if (m.kind == Kind::Version) return std::string("\r\nVERSION:2.1\r\n");
        return {};
    });
    const int32_t sent = BytesSent, received = BytesReceived;
    Q(Window->RzButton2)->click();

    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0], QString("VERSION:2.1\r\n"));
    EXPECT_EQ(Q(Window->RzStatusPane3)->text(), QString("收到应答"));
    EXPECT_EQ(BytesSent - sent, 14);
    EXPECT_EQ(BytesReceived - received, 15);
    EXPECT_EQ(Q(Window->SPTx)->text(), QString::number(BytesSent) + " bytes sent");
    EXPECT_EQ(Q(Window->SPRx)->text(), QString::number(BytesReceived) + " bytes received");
    // The working mode reached the line and the port panel; parity is checked at the port.
    const auto log = Device->Log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].baud, 9600u);
    EXPECT_EQ(MCPort1.GetBaudRate(), 9600);
    EXPECT_EQ(MCPort1.GetParity(), 2);
    EXPECT_EQ(Q(Window->RzComboBox2)->currentText(), QString("9600bps"));
    EXPECT_EQ(Q(Window->RzComboBox3)->currentIndex(), 2);
    EXPECT_TRUE(MCPort1.IsOpen());
    EXPECT_FALSE(DialogueStopped);
    EXPECT_TRUE(Q(Window->RzButton2)->isEnabled());
}

TEST_F(Exchange, EmptyModeBoxSendsAtTheCurrentSettings) {
    SetModes("9600bps", 0, "115200bps", 0);
    Q(Window->RzComboBox8)->setCurrentIndex(-1);
    StartDevice([](const DeviceMessage&) { return DeviceReply("\r\nVERSION:1\r\n"); });
    Q(Window->RzButton2)->click();
    ASSERT_EQ(Device->Count(Kind::Version), 1);
    EXPECT_EQ(Device->Log()[0].baud, 115200u);
    EXPECT_EQ(MCPort1.GetBaudRate(), 115200);
    EXPECT_EQ(Boxes, std::vector<QString>{"VERSION:1\r\n"});
}

TEST_F(Exchange, VersionQueryRefusals) {
    StartDevice([](const DeviceMessage&) { return DeviceReply(std::string("\r\nversion 1\r\n")); });
    // Lower-case only: a reply, but no version.
    Q(Window->RzButton2)->click();
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(Q(Window->RzStatusPane3)->text(), QString("收到应答"));

    // Port closed: the message box, nothing sent, the stop flag left as it was.
    MCPort1.SetOpen(false);
    DialogueStopped = true;
    Q(Window->RzButton2)->click();
    EXPECT_EQ(Boxes, std::vector<QString>{"请先打开串口！"});
    EXPECT_TRUE(DialogueStopped);
    EXPECT_EQ(Device->Count(Kind::Version), 1);
}

TEST_F(Exchange, SilentDeviceTimesOut) {
    StartDevice({});
    QElapsedTimer clock;
    clock.start();
    Q(Window->RzButton2)->click();
    EXPECT_GE(clock.elapsed(), 990);
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(Q(Window->RzStatusPane3)->text(), QString("读/写超时！"));
    EXPECT_EQ(PendingReply, nullptr);
}

struct TextCase {
    const char* name;
    DeviceReply reply;
    int result;
    const char* target; // the reply target after the exchange, when result is 1
    const char* status;
};

TEST_F(Exchange, TextRepliesAsTheLineDeliversThem) {
    DeviceReply split(std::string("\r\nO"));
    split.chunks.push_back({'K', '\r', '\n'});
    split.gap = 100ms;
    const std::vector<TextCase> cases = {
        {"OK", std::string("\r\nOK\r\n"), 1, "\r\nOK\r\n", "收到应答"},
        {"split by a pause", split, 1, "\r\nO", "收到应答"},
        {"stray byte in front", std::string("x\r\nOK\r\n"), -1, "", "读/写超时！"},
        {"binary reply", DataReply(0x10, 1), -1, "", "收到应答"},
        {"damaged frame", Bytes{0x66, 0xCC, 0xFF, 0x80, 0, 1, 2, 3, 4}, -1, "", "读/写超时！"},
    };
    DeviceReply next;
    StartDevice([&next](const DeviceMessage&) { return next; });
    DialogueStopped = false;
    for (const auto& c : cases) {
        Device->Locked([&] { next = c.reply; });
        SetReplyTimeout(400);
        char buffer[ReplyBufferSize] = "AT+TEST\r";
        EXPECT_EQ(TextExchange(buffer, buffer), c.result) << c.name;
        if (c.result == 1) {
            EXPECT_STREQ(buffer, c.target) << c.name;
        }
        EXPECT_EQ(Q(Window->RzStatusPane3)->text(), QString(c.status)) << c.name;
        EXPECT_EQ(PendingReply, nullptr) << c.name;
        // Let the rest of a split reply arrive before the next case.
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 200)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    Device->Finish(); // before `next` goes
}

TEST_F(Exchange, ResetConfirmation) {
    std::string answer;
    StartDevice([&answer](const DeviceMessage& m) -> DeviceReply {
        return m.kind == Kind::Reset ? DeviceReply(answer) : DeviceReply{};
    });
    DialogueStopped = false;
    for (const auto& [text, ok] : std::vector<std::pair<std::string, bool>>{
             {"\r\nOK\r\n", true}, {"\r\nOK", true}, {"\r\nERROR", false}, {"\r\nO", false}}) {
        Device->Locked([&] { answer = text; });
        EXPECT_EQ(ResetDevice(), ok) << text;
        EXPECT_EQ(Q(Window->RzStatusPane3)->text(), QString("收到应答")) << text;
    }
    Device->Finish(); // before `answer` goes
    EXPECT_EQ(Device->Count(Kind::Reset), 4);
}

TEST_F(Exchange, FullNotificationOfTextKeepsEveryCharacter) {
    std::string text(MaxReceiveChunk, 'v');
    text[0] = '\r';
    text[1] = '\n';
    StartDevice([text](const DeviceMessage&) { return DeviceReply(text); });
    DialogueStopped = false;
    SetReplyTimeout(1000);
    char buffer[ReplyBufferSize] = "AT\r\n";
    ASSERT_EQ(TextExchange(buffer, buffer), 1);
    EXPECT_EQ(std::strlen(buffer), size_t(MaxReceiveChunk));
    EXPECT_EQ(std::string(buffer), text);
}

TEST_F(Exchange, StopEndsTheWaitAtOnce) {
    StartDevice([](const DeviceMessage&) {
        PostToUi([] { DialogueStopped = true; });
        return DeviceReply{};
    });
    DialogueStopped = false;
    SetReplyTimeout(3000);
    ShowStatus("before");
    QElapsedTimer clock;
    clock.start();
    char buffer[ReplyBufferSize] = "AT+VERSION=?\r\n";
    EXPECT_EQ(TextExchange(buffer, buffer), 0);
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(Q(Window->RzStatusPane3)->text(), QString("before"));
    EXPECT_EQ(PendingReply, nullptr);

    // While stopped, a request still goes out but nothing is awaited.
    clock.restart();
    EXPECT_EQ(TextExchange(buffer, buffer), 0);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_TRUE(Device->WaitForMessages(2, 2s));
}

TEST_F(Exchange, NestedRequestGivesTheReplySlotBack) {
    // The outer request is answered late; a request started from a handler nested in its wait
    // is answered at once. Each gets its own reply, and the slot ends empty.
    char inner[ReplyBufferSize] = "AT+RESET\r";
    int innerResult = 99;
    bool versionRefused = false;
    StartDevice([&](const DeviceMessage& m) -> DeviceReply {
        if (m.kind == Kind::Version) {
            PostToUi([&] {
                const int before = Device->Count(Kind::Version);
                Window->RzButton2Click(); // a query while a wait is in progress is refused
                versionRefused = Device->Count(Kind::Version) == before;
                innerResult = TextExchange(inner, inner);
            });
            return {};
        }
        DeviceReply both(std::string("\r\nOK\r\n"));
        both.chunks.push_back({'\r', '\n', 'V', 'E', 'R', 'S', 'I', 'O', 'N'});
        both.gap = 300ms;
        return both;
    });
    DialogueStopped = false;
    SetReplyTimeout(2000);
    char outer[ReplyBufferSize] = "AT+VERSION=?\r\n";
    EXPECT_EQ(TextExchange(outer, outer), 1);
    EXPECT_STREQ(outer, "\r\nVERSION");
    EXPECT_EQ(innerResult, 1);
    EXPECT_STREQ(inner, "\r\nOK\r\n");
    Device->Finish();
    UiQueue::Instance().Drain();
    EXPECT_TRUE(versionRefused);
    EXPECT_EQ(PendingReply, nullptr);
}

} // namespace
} // namespace tolvane::test
