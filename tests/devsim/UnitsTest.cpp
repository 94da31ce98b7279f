// What a production station meets on a port: units with identities, a new version after the
// upgrade, a start-up pause, one unit after another under one COM name, a brief drop.
#include "tools/devsim/SeriesIdentity.h"
#include "tools/devsim/UnitPort.h"

#include "DeviceFixture.h"

#include <filesystem>
#include <optional>
#include <thread>

using namespace devsim;
using namespace devsim::test;

namespace {

TEST(UnitIdentity, ListInTurnOrPatternWithTheUnitNumber) {
    struct Case {
        std::vector<std::string> ids;
        std::string pattern;
        int unit;
        std::optional<std::string> identity;
    };
    const Case cases[] = {
        {{}, "", 1, std::nullopt},
        {{"A1", "B2"}, "", 2, "B2"},
        {{"A1", "B2"}, "", 3, std::nullopt}, // past the list
        {{}, "8600000000####", 7, "86000000000007"},
        {{}, "SN-##-X", 123, "SN-123-X"}, // wider than the run
        {{}, "#", 1, "1"},
        {{}, "AB##C##", 5, "AB05C##"}, // only the first run counts
        {{}, "no run", 1, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern + " unit " + std::to_string(c.unit));
        EXPECT_EQ(UnitIdentity(c.ids, c.pattern, c.unit), c.identity);
    }
}

// The device on a port registered as COM5 in a port map of its own, opened through the link
// as the flasher and the station resolve it.
class UnitsTest : public DeviceTest {
  protected:
    void TearDown() override {
        DeviceTest::TearDown();
        device_.reset();
        port_.reset();
    }

    void StartUnits(DeviceOptions options) {
        if (std::getenv("DEVSIM_TEST_LOG"))
            options.Log = [](const std::string& line) { std::cerr << "devsim: " << line << "\n"; };
        port_ = std::make_unique<UnitPort>(dir_.File("ports"), 5);
        std::string error;
        const int master = port_->Open(error);
        ASSERT_GE(master, 0) << error;
        options.Presence = port_.get();
        device_ = std::make_unique<VirtualDevice>(options);
        ASSERT_TRUE(device_->Start(master));
        ASSERT_TRUE(OpenLink(0, B115200));
    }

    std::string Link() const { return dir_.File("ports/COM5"); }
    bool LinkPresent() const { return std::filesystem::exists(Link()); }

    // Waits for the port to come back; the time it was away, or -1 when it does not return.
    double OpenLink(int waitMs, speed_t speed) {
        const double start = NowMs();
        while (!LinkPresent() && NowMs() - start < waitMs)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!LinkPresent() || !tool_.Open(Link(), speed)) return -1;
        return NowMs() - start;
    }

    // The port is taken away: the line hangs up and its name goes.
    bool Vanishes(int waitMs) {
        if (!tool_.HungUp(waitMs)) return false;
        tool_.Close();
        return !LinkPresent();
    }

    std::string Ask(const std::string& command) {
        tool_.Send(command);
        return Text(tool_.Receive(1000));
    }

    std::unique_ptr<UnitPort> port_;
};

TEST_F(UnitsTest, IdentityCommandAnsweredAsAModemDoes) {
    struct Case {
        std::vector<std::string> ids;
        std::string pattern;
        std::string command; // what the device takes as the identity command
        std::string sent;
        std::string reply;
    };
    const Case cases[] = {
        {{}, "", "AT+CGSN", "AT+CGSN\r\n", "\r\nERROR\r\n"}, // no identity: as before
        {{"356938035643809"}, "", "AT+CGSN", "AT+CGSN\r\n", "\r\n356938035643809\r\n\r\nOK\r\n"},
        {{}, "SN####", "AT+CGSN", "AT+CGSN\r\n", "\r\nSN0001\r\n\r\nOK\r\n"},
        {{"X9"}, "", "AT+GSN", "AT+CGSN\r\n", "\r\nERROR\r\n"},
        {{"X9"}, "", "AT+GSN", "AT+GSN\r\n", "\r\nX9\r\n\r\nOK\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sent);
        DeviceOptions options;
        options.Ids = c.ids;
        options.IdPattern = c.pattern;
        options.IdCommand = c.command;
        StartDevice(options);
        EXPECT_EQ(Ask(c.sent), c.reply);
        EXPECT_EQ(Ask("AT+VERSION=?\r\n"), "\r\nVERSION:2.1\r\n");
        EXPECT_EQ(device_->Status().IdentityQueries, c.sent.rfind(c.command, 0) == 0 ? 1 : 0);
        tool_.Close();
        device_->Stop();
    }
}

TEST_F(UnitsTest, NewVersionAfterTheTransferOnceTheFirmwareHasStarted) {
    DeviceOptions options;
    options.VersionAfter = "VERSION:2.2\r\n";
    options.BootDelayMs = 700;
    StartDevice(options);
    EXPECT_EQ(Ask("AT+VERSION=?\r\n"), "\r\nVERSION:2.1\r\n");
    ResetIntoLoader();
    EXPECT_EQ(Transfer().back(), 6);
    const double done = NowMs();
    tool_.Send("AT+VERSION=?\r\n");
    EXPECT_TRUE(tool_.Silent(300));
    EXPECT_GT(device_->Status().BootIgnoredBytes, 0);
    std::string reply;
    while (reply.empty() && NowMs() - done < 3000)
        reply = Ask("AT+VERSION=?\r\n");
    EXPECT_EQ(reply, "\r\nVERSION:2.2\r\n");
    EXPECT_GE(NowMs() - done, 690);
    EXPECT_EQ(device_->Status().Mode, DeviceMode::Working);
    // Without a series the unit stays, with its new version.
    EXPECT_EQ(Ask("AT+VERSION=?\r\n"), "\r\nVERSION:2.2\r\n");
    EXPECT_TRUE(device_->Running());
}

TEST_F(UnitsTest, UnitsOneAfterAnotherUnderOneName) {
    DeviceOptions options;
    options.Units = 3;
    options.Ids = {"A-1", "B-2"}; // the third has none
    options.VersionAfter = "VERSION:2.2\r\n";
    options.AbsentMs = 400;
    StartUnits(options);
    const char* const identities[] = {"\r\nA-1\r\n\r\nOK\r\n", "\r\nB-2\r\n\r\nOK\r\n",
                                      "\r\nERROR\r\n"};
    for (int unit = 1; unit <= 3; ++unit) {
        SCOPED_TRACE("unit " + std::to_string(unit));
        if (unit > 1) {
            const double away = OpenLink(3000, B115200);
            ASSERT_GE(away, 0) << "the next unit did not arrive";
            EXPECT_GE(away, 250); // absent for a while, not at once
        }
        EXPECT_EQ(device_->Status().Unit, unit);
        EXPECT_EQ(Ask("AT+CGSN\r\n"), identities[unit - 1]);
        EXPECT_EQ(Ask("AT+VERSION=?\r\n"), "\r\nVERSION:2.1\r\n"); // not upgraded: it stays
        ResetIntoLoader();
        EXPECT_EQ(Transfer().back(), 6);
        EXPECT_TRUE(tool_.Silent(200)) << "a unit leaves only once its version has been asked";
        EXPECT_TRUE(LinkPresent());
        EXPECT_EQ(Ask("AT+VERSION=?\r\n"), "\r\nVERSION:2.2\r\n");
        EXPECT_TRUE(Vanishes(3000));
    }
    for (int i = 0; i < 100 && device_->Running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const DeviceStatus status = device_->Status();
    EXPECT_FALSE(device_->Running()); // the series is over
    EXPECT_EQ(status.UnitsGone, 3);
    EXPECT_EQ(status.Transfers, 3);
    EXPECT_FALSE(status.Lost);
    EXPECT_FALSE(status.Vanished);
    EXPECT_FALSE(LinkPresent());
}

TEST_F(UnitsTest, FaultsApplyToEveryUnitAfresh) {
    DeviceOptions options;
    options.Units = 2;
    options.AbsentMs = 100;
    options.StartInLoader = true; // each unit comes in its loader
    options.Fault.CorruptCrc = {{1, 1}};
    StartUnits(options);
    for (int unit = 1; unit <= 2; ++unit) {
        SCOPED_TRACE("unit " + std::to_string(unit));
        if (unit > 1) {
            ASSERT_GE(OpenLink(3000, B115200), 0);
        }
        tool_.Send(kPing);
        EXPECT_EQ(tool_.Receive(), kPingReply);
        EXPECT_EQ(Transfer(), (std::vector<int>{1, -1}));
        EXPECT_EQ(Transfer().back(), 6);
        EXPECT_EQ(Ask("AT+VERSION=?\r\n"), "\r\nVERSION:2.1\r\n");
        EXPECT_TRUE(Vanishes(3000));
    }
}

TEST_F(UnitsTest, PortDropsMidTransferAndComesBackInTheLoader) {
    DeviceOptions options;
    options.Fault.Drops = {{2, 400}};
    StartUnits(options);
    ResetIntoLoader();
    EXPECT_EQ(SendBlock(0), 1);
    EXPECT_EQ(SendBlock(1), 2);
    tool_.Send(Frame(2));
    EXPECT_TRUE(Vanishes(3000));
    EXPECT_FALSE(device_->Status().Present);
    const double away = OpenLink(3000, B115200);
    ASSERT_GE(away, 0) << "the port did not come back";
    EXPECT_GE(away, 300);
    EXPECT_EQ(SendBlock(2), 3); // the block again: the loader kept its state
    EXPECT_EQ(SendBlock(3), 4);
    EXPECT_EQ(SendBlock(4), 5);
    EXPECT_EQ(SendBlock(5), 6);
    const DeviceStatus status = device_->Status();
    EXPECT_EQ(status.Drops, 1);
    EXPECT_EQ(status.Transfers, 1);
    EXPECT_EQ(status.Image, BlockArea());
    EXPECT_EQ(status.Unit, 1);
    EXPECT_EQ(Ask("AT+VERSION=?\r\n"), "\r\nVERSION:2.1\r\n"); // one unit: it stays
    EXPECT_TRUE(device_->Running());
}

} // namespace
