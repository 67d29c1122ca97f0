// The simulated USB adapter in front of the program: what it holds back, and
// for how long, as seen on the program's side of the pseudo-terminal.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include "AdapterLatency.h"
#include "ProgramSide.h"
#include "SimReceiver.h"

namespace tarven::sim {
namespace {

using testing::Pattern;
using testing::ProgramSide;

struct Arrival {
    std::size_t total;  // bytes received so far, this read included
    Clock::time_point time;
};

// Every read on the program's side until `want` bytes have come.
std::vector<Arrival> ReadArrivals(ProgramSide& pc, std::size_t want) {
    std::vector<Arrival> arrivals;
    std::size_t total = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (total < want && Clock::now() < deadline) {
        pollfd p{pc.Fd(), POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        std::uint8_t buffer[4096];
        const ssize_t n = ::read(pc.Fd(), buffer, sizeof buffer);
        if (n <= 0) continue;
        total += std::size_t(n);
        arrivals.push_back({total, Clock::now()});
    }
    return arrivals;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

TEST(SimAdapter, FullPacketsGoAtOnceAndAShortOneWaitsForTheTimer) {
    SimOptions o;
    o.line.paced = true;
    o.line.adapterLatencyMs = 16;
    SimReceiver sim(o);
    ProgramSide pc(sim.DevicePath());

    // 1,016 bytes: 16 full packets of 62, then 24 bytes the timer lets go.
    sim.SendData(Pattern(1000));
    const auto arrivals = ReadArrivals(pc, 1016);
    ASSERT_GE(arrivals.size(), 2u);
    ASSERT_EQ(arrivals.back().total, 1016u);
    for (std::size_t i = 0; i + 1 < arrivals.size(); ++i)
        EXPECT_EQ(arrivals[i].total % AdapterLatency::kPacketDataBytes, 0u) << "read " << i;
    // The last full packet left as its 62nd byte crossed; the tail's timer
    // started with the very next byte.
    const double tailWait = Ms(arrivals.back().time - arrivals[arrivals.size() - 2].time);
    EXPECT_GT(tailWait, 14.0);
    EXPECT_LT(tailWait, 60.0);

    // A lone acknowledgement waits the timer out: its 12 bytes take about
    // 1 ms on the line, the adapter adds 16.
    const auto start = Clock::now();
    sim.SendCommand(kCodeAck);
    const auto ack = ReadArrivals(pc, 12);
    ASSERT_EQ(ack.size(), 1u);
    EXPECT_GT(Ms(ack.back().time - start), 16.0);

    // Set back to a plain port, the same acknowledgement takes the line's time only.
    o.line.adapterLatencyMs = 0;
    sim.SetOptions(o);
    const auto plainStart = Clock::now();
    sim.SendCommand(kCodeAck);
    const auto plain = ReadArrivals(pc, 12);
    ASSERT_FALSE(plain.empty());
    EXPECT_LT(Ms(plain.back().time - plainStart), 12.0);
}

}  // namespace
}  // namespace tarven::sim
