// Ten megabytes of noise arrive while a version query waits: the bytes are queued and nothing
// more (memory grows by about what is queued), the window keeps handling events while they
// pour in, and the query ends with its time-out.
#include "app/StatusLine.h"
#include "tests/faults/FaultFixture.h"

#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <thread>

namespace tolvane::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr size_t kFloodBytes = size_t(10) << 20;
constexpr size_t kWriteChunk = size_t(64) << 10;
constexpr size_t kProbeEvery = size_t(256) << 10; // bytes between two posted probes

// Random bytes that can never start a reply: no CR (text) and no 0x66 (frame mark), so every
// notification of the flood is noise whatever its boundaries.
std::vector<uint8_t> Noise(size_t size) {
    std::vector<uint8_t> bytes(size);
    std::mt19937 random(8);
    for (auto& b : bytes) {
        b = uint8_t(random());
        if (b == '\r' || b == 0x66) b ^= 0x80;
    }
    return bytes;
}

TEST_F(FaultWindow, FloodWhileAVersionQueryWaits) {
    const std::vector<uint8_t> flood = Noise(kFloodBytes);
    MCPort1.ReceiveQueue.Clear();
    const int32_t receivedBefore = BytesReceived;
    const long residentBefore = ResidentBytes();

    std::atomic<bool> requestSeen{false}, floodWritten{false};
    std::atomic<long> floodMs{0};
    std::atomic<int> probesPosted{0};
    std::vector<double> probeLatencyMs; // user-interface thread only
    std::thread device([&] {
        const auto request = Pty.Read(14, 5s); // "AT+VERSION=?\r\n"
        requestSeen = std::string(request.begin(), request.end()) == "AT+VERSION=?\r\n";
        const auto start = Clock::now();
        for (size_t done = 0; done < flood.size(); done += kWriteChunk) {
            if (!Pty.Write(flood.data() + done, std::min(kWriteChunk, flood.size() - done))) break;
            if ((done + kWriteChunk) % kProbeEvery == 0) {
                const auto posted = Clock::now();
                ++probesPosted;
                PostToUi([&probeLatencyMs, posted] {
                    probeLatencyMs.push_back(
                        std::chrono::duration<double, std::milli>(Clock::now() - posted).count());
                });
            }
        }
        floodMs = long(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
        floodWritten = true;
    });

    QElapsedTimer clock;
    clock.start();
    Q(Window->RzButton2)->click();
    const qint64 queryMs = clock.elapsed();
    // The flood may outlast the query; the window goes on handling events meanwhile.
    const bool written = PumpUntil([&] { return floodWritten.load(); }, 60s);
    device.join();
    ASSERT_TRUE(written);
    ASSERT_TRUE(requestSeen);

    // Every byte is either queued or was taken by a notification: none lost, none doubled.
    auto accounted = [&] {
        return size_t(MCPort1.ReceiveQueue.Size()) + size_t(BytesReceived - receivedBefore);
    };
    EXPECT_TRUE(PumpUntil([&] { return accounted() == kFloodBytes; }, 10s)) << accounted();
    const size_t queued = size_t(MCPort1.ReceiveQueue.Size());
    const long growth = ResidentBytes() - residentBefore;

    // The query ends by its time-out, not by the noise.
    EXPECT_GE(queryMs, 990);
    EXPECT_LT(queryMs, 6000);
    EXPECT_EQ(Q(Window->RzStatusPane3)->text(), QString("读/写超时！"));
    EXPECT_TRUE(Boxes.empty());
    EXPECT_EQ(PendingReply, nullptr);
    EXPECT_TRUE(Q(Window->RzButton2)->isEnabled());

    ASSERT_TRUE(PumpUntil([&] { return int(probeLatencyMs.size()) == probesPosted; }, 5s));
    const double worstMs = *std::max_element(probeLatencyMs.begin(), probeLatencyMs.end());
    EXPECT_LT(worstMs, 1000.0);

    EXPECT_LE(queued, kFloodBytes);
    EXPECT_GT(queued, kFloodBytes / 2);
    if (kResidentSizeTracksHeap) {
        // The byte queue costs about a byte a byte; a copy or two of the flood would show.
        EXPECT_LT(growth, long(queued) * 3 / 2 + (8l << 20));
    }
    std::printf("[ measured ] flood %zu bytes: %zu queued, resident size %+.1f MB, "
                "written in %ld ms, query %lld ms, %d probes, slowest handled after %.1f ms\n",
                kFloodBytes, queued, double(growth) / (1 << 20), floodMs.load(), (long long)queryMs,
                probesPosted.load(), worstMs);
}

} // namespace
} // namespace tolvane::test
