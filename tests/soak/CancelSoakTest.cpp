// Cancel in every state: the worker is stopped at random moments of uploads
// and read-backs, on a clean and on a noisy line, and in the two waits that
// last longest. Stopping must return at once, the engine must let go of the
// device, and what a cut-off transfer left behind must be whole blocks.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <thread>

#include "LinkClock.h"
#include "LiveTransfer.h"
#include "PortAccess.h"
#include "SoakRun.h"
#include "SoakSupport.h"

namespace tarven::soak {
namespace {

using namespace std::chrono_literals;

// A stop promises about 20 ms; the rest is room for a loaded machine.
constexpr double kPromptStopMs = 200.0;

// Blocks 1, 2, ... m in order; the last may be cut short where `cutAllowed`.
bool IsPrefixOfBlocks(const std::vector<int>& sequence, bool cutAllowed = false) {
    for (std::size_t i = 0; i < sequence.size(); ++i) {
        const bool cut = cutAllowed && i + 1 == sequence.size() && sequence[i] == -int(i) - 1;
        if (sequence[i] != int(i) + 1 && !cut) return false;
    }
    return true;
}

// Stops `run` now and checks the teardown; returns the stop's real milliseconds.
double StopAndTearDown(LiveTransfer& run, const std::string& where) {
    const double ms = run.Stop();
    EXPECT_LT(ms, kPromptStopMs) << where;
    EXPECT_FALSE(run.Running()) << where;
    const std::string device = run.Sim().DevicePath();
    run.TearDown();
    // The port is closed and its lock released: the device opens again at once.
    PortStatus status;
    PortHandle again = OpenDevice(device, DefaultPortSettings(), &status);
    EXPECT_TRUE(again) << where << ": " << DescribePortState(status);
    return ms;
}

TEST(CancelSoak, StoppingAtRandomMomentsIsPromptAndReleasesTheDevice) {
    std::map<std::string, int> phases;
    double slowest = 0;
    const int runs = Scaled(24);
    for (int i = 0; i < runs; ++i) {
        const std::uint64_t seed = 500 + std::uint64_t(i);
        std::mt19937_64 rng(seed);
        const Transfer transfer = i % 2 ? Transfer::ReadBack : Transfer::Upload;
        const bool noisy = (i / 2) % 2;
        const Timing timing = TimingOf(transfer);
        sim::SimOptions o;
        o.line.paced = true;
        o.line.seed = seed;
        if (noisy) {
            o.line.corruptInRate = 1e-4;
            o.line.corruptOutRate = 1e-4;
            o.line.dropReplyRate = 0.05;
            o.line.garbageRate = 0.05;
        }
        const Bytes image = RandomImage(16384 + std::size_t(rng() % 16384), rng);
        const std::int32_t kind =
            transfer == Transfer::Upload ? (i % 4 == 0 ? KindChip : KindSoftware) : KindFactoryData;
        // A clean run of this size takes about 3 to 5 s of link time: stop
        // anywhere from before the first frame to after the finish.
        const int stopAfterMs = int(rng() % std::uint64_t(6000 / timing.speedUp + 1));

        LinkTime().SetSpeedUp(timing.speedUp);
        {
            LiveTransfer run(transfer, o, image, kind);
            ASSERT_TRUE(run.Opened());
            ASSERT_TRUE(run.Start());
            std::this_thread::sleep_for(std::chrono::milliseconds(stopAfterMs));
            const std::string phase = run.Phase();
            ++phases[std::string(Name(transfer)) + ": " + phase];
            const std::string where = std::string(Name(transfer)) + (noisy ? " noisy" : " clean") + " seed " +
                                      std::to_string(seed) + " stopped in " + phase + " after " +
                                      std::to_string(stopAfterMs) + " ms";
            slowest = std::max(slowest, StopAndTearDown(run, where));

            // What the far side or the file holds is whole blocks, in order on a clean line.
            if (transfer == Transfer::ReadBack) {
                std::ifstream in(run.Arrived(), std::ios::binary);
                const Bytes got((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
                const auto blocks = SliceSequence(got, ImageSlices(image));
                EXPECT_TRUE(blocks.empty() || blocks.back() > 0) << where << ": " << Describe(blocks);
                if (!noisy) {
                    // A finished upload's record is cut to the announced length.
                    EXPECT_TRUE(IsPrefixOfBlocks(blocks, true)) << where << ": " << Describe(blocks);
                }
            } else if (!noisy) {
                const auto uploads = run.Sim().Uploads();
                if (!uploads.empty()) {
                    const auto blocks = SliceSequence(uploads.back().image, ImageSlices(image));
                    // A finished upload's record is cut to the announced length.
                    EXPECT_TRUE(IsPrefixOfBlocks(blocks, true)) << where << ": " << Describe(blocks);
                }
            }
        }
        LinkTime().SetSpeedUp(1.0);
    }
    std::ostringstream line;
    line << "cancel at random moments: " << runs << " runs, slowest stop " << slowest << " ms; states:";
    for (const auto& [phase, count] : phases) line << " [" << phase << " x" << count << ']';
    Note(line.str());
}

// The two waits that last longest: 500 s for the answer to the preamble and
// 50 s for the read-back's ready code, here on the real clock.
TEST(CancelSoak, StoppingCutsTheLongestWaitsShort) {
    LinkTime().SetSpeedUp(1.0);
    std::mt19937_64 rng(77);
    const Bytes image = RandomImage(20000, rng);
    for (Transfer transfer : {Transfer::Upload, Transfer::ReadBack}) {
        sim::SimOptions o;
        o.upload.silentPreambles = 1000;
        o.readBack.silentRequests = 1000;
        LiveTransfer run(transfer, o, image, transfer == Transfer::Upload ? KindSoftware : KindFactoryData);
        ASSERT_TRUE(run.Opened());
        ASSERT_TRUE(run.Start());
        ASSERT_TRUE(run.Sim().WaitForFrames(1, 2000ms)) << Name(transfer);
        std::this_thread::sleep_for(300ms);
        const std::string phase = run.Phase();
        EXPECT_EQ(phase, transfer == Transfer::Upload ? "preamble wait" : "request wait");
        const double ms = StopAndTearDown(run, std::string(Name(transfer)) + " in " + phase);
        Note(std::string("cancel in the ") + phase + " (" + Name(transfer) + ", real clock): " + std::to_string(ms) +
             " ms");
    }
}

// The end phase: the receiver leaves every end code unanswered, so the PC
// sends it four times with 3 s waits between; stopped in the middle.
TEST(CancelSoak, StoppingInTheEndPhaseIsPrompt) {
    LinkTime().SetSpeedUp(TimingOf(Transfer::Upload).speedUp);
    std::mt19937_64 rng(78);
    sim::SimOptions o;
    o.line.paced = true;
    o.upload.ignoreEndCodes = -1;
    {
        LiveTransfer run(Transfer::Upload, o, RandomImage(3 * kBlockSize, rng), KindSoftware);
        ASSERT_TRUE(run.Opened());
        ASSERT_TRUE(run.Start());
        ASSERT_TRUE(run.Sim().WaitForCode(kCodeEndOfImage, 5000ms, 2));
        const std::string phase = run.Phase();
        EXPECT_EQ(phase, "ending");
        const double ms = StopAndTearDown(run, "upload in " + phase);
        EXPECT_EQ(run.notifier.Result(), -1) << "stopped before the fourth unanswered end code";
        Note("cancel in the end phase (upload, link clock x" + std::to_string(int(TimingOf(Transfer::Upload).speedUp)) +
             "): " + std::to_string(ms) + " ms");
    }
    LinkTime().SetSpeedUp(1.0);
}

}  // namespace
}  // namespace tarven::soak
