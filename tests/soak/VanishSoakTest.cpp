// A device that vanishes mid-transfer (adapter pulled): no crash, the worker
// waits without burning a core while the device is gone, the engine says the
// device is gone, and stopping still returns at once.
#include <gtest/gtest.h>

#include <iomanip>
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
using Clock = std::chrono::steady_clock;

constexpr double kMaxWorkerShare = 0.05;

TEST(VanishSoak, TheWorkerIdlesWhileTheDeviceIsGoneAndStillStops) {
    std::mt19937_64 rng(4242);
    for (Transfer transfer : {Transfer::Upload, Transfer::ReadBack}) {
        for (double speed : {TimingOf(transfer).speedUp, 1.0}) {
            std::ostringstream name;
            name << Name(transfer) << " at link clock x" << speed;
            sim::SimOptions o;
            o.line.paced = true;
            // Upload: 18, start code, block 1, block 2 -> gone before block 2 is
            // acknowledged. Read-back: request, two acknowledgements -> gone mid-data.
            o.line.vanishAfterFrames = transfer == Transfer::Upload ? 4 : 3;
            const Bytes image = RandomImage(24000, rng);
            LinkTime().SetSpeedUp(speed);
            {
                LiveTransfer run(transfer, o, image, transfer == Transfer::Upload ? KindSoftware : KindFactoryData);
                ASSERT_TRUE(run.Opened()) << name.str();
                ASSERT_TRUE(run.Start()) << name.str();
                ASSERT_TRUE(run.Sim().WaitForEvent(sim::SimEvent::Type::Vanished, 10s)) << name.str();
                const std::string device = run.Sim().DevicePath();
                std::this_thread::sleep_for(200ms);  // the engine meets the hang-up

                pthread_t worker{};
                ASSERT_TRUE(run.log.WorkerThread(worker)) << name.str();
                const pid_t tid = run.log.WorkerTid();
                const auto wall0 = Clock::now();
                const double cpu0 = ThreadCpuSeconds(worker);
                const double proc0 = ThreadCpuSecondsFromProc(tid);
                const double all0 = ProcessCpuSeconds();
                bool sawGone = false;
                for (int i = 0; i < 20; ++i) {
                    std::this_thread::sleep_for(50ms);
                    sawGone = sawGone || run.DeviceGone();
                }
                const double wall = std::chrono::duration<double>(Clock::now() - wall0).count();
                const double share = (ThreadCpuSeconds(worker) - cpu0) / wall;
                const double procShare = (ThreadCpuSecondsFromProc(tid) - proc0) / wall;
                const double allShare = (ProcessCpuSeconds() - all0) / wall;

                EXPECT_GE(cpu0, 0.0) << name.str();
                EXPECT_LT(share, kMaxWorkerShare) << name.str();
                EXPECT_LT(procShare, kMaxWorkerShare) << name.str() << " (from /proc)";
                EXPECT_TRUE(sawGone) << name.str() << ": DeviceGone() never true";
                EXPECT_LT(run.notifier.Result(), 1) << name.str() << ": success reported with the device gone";
                const std::string phase = run.Phase();

                const double stopMs = run.Stop();
                EXPECT_LT(stopMs, 200.0) << name.str();
                run.TearDown();
                // The device is gone for good: opening it fails at once, as missing.
                PortStatus status;
                EXPECT_FALSE(OpenDevice(device, DefaultPortSettings(), &status)) << name.str();
                EXPECT_EQ(status.state, PortState::Missing) << name.str() << ": " << DescribePortState(status);

                std::ostringstream line;
                line << std::fixed << std::setprecision(2) << "vanished device, " << name.str() << " (" << phase
                     << "): worker CPU " << share * 100 << " % (thread clock), " << procShare * 100
                     << " % (/proc), whole process " << allShare * 100 << " % over " << wall << " s; stop " << stopMs
                     << " ms";
                Note(line.str());
            }
            LinkTime().SetSpeedUp(1.0);
        }
    }
}

}  // namespace
}  // namespace tarven::soak
