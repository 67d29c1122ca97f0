// tarven-link on a real bench: what it does to files already there, to
// outputs that are not files, to signals, to the prompt between two files, to
// extreme options, and how it names the cause of a failure.
#include <gtest/gtest.h>

#include <dirent.h>
#include <pty.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#include "LiveProgram.h"
#include "ProgramFolder.h"
#include "RunProgram.h"
#include "SimReceiver.h"

namespace tarven::cli::test {
namespace {

using namespace std::chrono_literals;
using sim::Bytes;
using sim::SimReceiver;

class BenchSafety : public ProgramFolder {
protected:
    Ran Link(const std::vector<std::string>& args, int limitSeconds = 60) {
        return RunTarvenLink(args, {}, dir_, limitSeconds);
    }
};

// ---------------------------------------------------------------- readback --force

TEST_F(BenchSafety, ForcedReadBackKeepsTheOldFileUntilAWholeImageArrives) {
    const Bytes old = RandomImage(65536, 1);
    Write("Def_Data.bin", old);
    {
        sim::SimOptions options;
        options.readBack.silentRequests = 1000;
        SimReceiver sim(options);
        const Ran ran = Link({"--timeout", "1", "--device", sim.DevicePath(), "readback", "--kind", "fdd", "--force"});
        EXPECT_EQ(ran.status, 1) << ran.err;
        EXPECT_TRUE(Contains(ran.err, "Def_Data.bin is unchanged (nothing arrived)")) << ran.err;
        EXPECT_TRUE(Read("Def_Data.bin") == old);
        EXPECT_EQ(Listing(), std::vector<std::string>{"Def_Data.bin"});
    }
    {
        sim::SimOptions options;
        options.readBack.omitLastByte = true;
        SimReceiver sim(options);
        sim.SetReadBackImage(RandomImage(8000, 2));
        const Ran ran = Link({"--device", sim.DevicePath(), "readback", "--kind", "fdd", "--force"});
        EXPECT_EQ(ran.status, 1) << ran.err;
        EXPECT_TRUE(Contains(ran.err, "what arrived is kept in Def_Data.bin.partial")) << ran.err;
        EXPECT_TRUE(Read("Def_Data.bin") == old);
        EXPECT_EQ(Read("Def_Data.bin.partial").size(), 7999u);
    }
    SimReceiver sim;
    const Bytes image = RandomImage(30720, 3);
    sim.SetReadBackImage(image);
    ASSERT_EQ(::chmod((dir_ + "/Def_Data.bin").c_str(), 0640), 0);
    const Ran ran = Link({"--device", sim.DevicePath(), "readback", "--kind", "fdd", "--force"});
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_TRUE(Read("Def_Data.bin") == image);
    struct stat st {};
    ASSERT_EQ(::stat((dir_ + "/Def_Data.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "the replacement keeps the old file's permissions";
    EXPECT_EQ(Listing(), (std::vector<std::string>{"Def_Data.bin", "Def_Data.bin.partial"}));
}

// ---------------------------------------------------------------- outputs and signals

TEST_F(BenchSafety, OutputsThatAreNotFilesAreRefusedBeforeTheLine) {
    SimReceiver sim;
    sim.SetReadBackImage(RandomImage(65536, 4));
    ASSERT_EQ(::mkfifo((dir_ + "/fifo.bin").c_str(), 0600), 0);
    for (const std::string output : {"/dev/stdout", "fifo.bin", "/dev/null"}) {
        const Ran ran =
            Link({"--device", sim.DevicePath(), "readback", "--kind", "fdd", "--output", output, "--force"}, 10);
        EXPECT_EQ(ran.status, 2) << output << ": " << ran.err;
        EXPECT_TRUE(Contains(ran.err, output + " is not a regular file")) << ran.err;
        EXPECT_EQ(ran.out, "") << output;
    }
    EXPECT_TRUE(sim.ReceivedFrames().empty());
}

TEST_F(BenchSafety, SignalsEndEveryStateWithinASecond) {
    const std::string image = Write("sw.bin", RandomImage(1048576, 5));
    struct State {
        const char* name;
        std::function<LiveSetup(SimReceiver&)> setup;
        std::function<bool(SimReceiver&, LiveProgram&)> reached;
    };
    const State states[] = {
        {"waiting for the receiver",
         [&](SimReceiver& sim) {
             sim.UpdateOptions([](sim::SimOptions& o) { o.readBack.silentRequests = 1000; });
             return LiveSetup{
                 {"--device", sim.DevicePath(), "readback", "--kind", "fdd", "--output", "w.bin", "--force"}, {}, dir_};
         },
         [](SimReceiver& sim, LiveProgram&) { return sim.WaitForCode(32, 5s); }},
        // Every frame traced to a standard error nobody reads: the pipe fills
        // and the worker blocks in the middle of a trace line.
        {"blocked on its standard error",
         [&](SimReceiver& sim) {
             return LiveSetup{{"--trace", "--device", sim.DevicePath(), "upload", "--kind", "software", image},
                              {},
                              dir_,
                              -1,
                              false,
                              4096};
         },
         [](SimReceiver& sim, LiveProgram& p) {
             // Past the pauses of the start: blocks went through, then none for a while.
             std::size_t seen = 0;
             for (int still = 0; (still < 10 || seen < 10) && p.Running(); std::this_thread::sleep_for(50ms)) {
                 const std::size_t now = sim.ReceivedFrames().size();
                 still = now == seen ? still + 1 : 0;
                 seen = now;
             }
             return p.Running();
         }},
    };
    for (const State& s : states) {
        for (const int sig : {SIGTERM, SIGINT}) {
            SimReceiver sim;
            LiveProgram program(s.setup(sim));
            ASSERT_TRUE(s.reached(sim, program)) << s.name << ": " << program.Err();
            program.Signal(sig);
            const Ran ran = program.Finish(3s);
            EXPECT_EQ(ran.status, 130) << s.name << ": " << ran.err;
            EXPECT_LT(ran.seconds, 1.0) << s.name;
        }
    }
}

// ---------------------------------------------------------------- the two-file kind

TEST_F(BenchSafety, FullXHoldsThePortAndChecksTheSecondFileWhenItGoes) {
    SimReceiver sim;
    const std::string first = Write("x1.bin", RandomImage(3000, 6));
    int master = -1, terminal = -1;
    ASSERT_EQ(::openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
    auto start = [&] {
        const std::string second = Write("x2.bin", RandomImage(5000, 7));
        return LiveSetup{
            {"--device", sim.DevicePath(), "upload", "--kind", "fullx", first, second}, {}, dir_, terminal};
    };
    {
        LiveProgram program(start());
        ASSERT_TRUE(program.WaitForErr("Press Enter", 10s)) << program.Err();
        // Another program finds the port still taken between the files.
        const int other = ::open(sim.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(other, 0);
        EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0) << "the port was released at the prompt";
        ::close(other);
        // The second file shrinks to nothing while the technician waits.
        ASSERT_EQ(::truncate((dir_ + "/x2.bin").c_str(), 0), 0);
        ASSERT_EQ(::write(master, "\n", 1), 1);
        const Ran ran = program.Finish(10s);
        EXPECT_EQ(ran.status, 1) << ran.err;
        EXPECT_TRUE(Contains(ran.err, "x2.bin has 0 bytes")) << ran.err;
        EXPECT_EQ(sim.Uploads().size(), 1u);
    }
    {
        // End of input (Ctrl-D) at the prompt cancels.
        LiveProgram program(start());
        ASSERT_TRUE(program.WaitForErr("Press Enter", 10s)) << program.Err();
        ASSERT_EQ(::write(master, "\x04", 1), 1);
        const Ran ran = program.Finish(10s);
        EXPECT_EQ(ran.status, 1) << ran.err;
        EXPECT_TRUE(Contains(ran.err, "x2.bin was not sent")) << ran.err;
        EXPECT_EQ(sim.Uploads().size(), 2u);
    }
    ::close(terminal);
    ::close(master);
}

// ---------------------------------------------------------------- options

TEST_F(BenchSafety, AnyLongTimeOutWaitsForTheAnswer) {
    sim::SimOptions late;
    late.version.hardware = "HW";
    late.line.pauseAfterFrames = 1;
    late.line.pauseMs = 400;
    for (const char* timeout : {"1e10", "1e300"}) {
        SimReceiver sim(late);
        const Ran ran = Link({"--timeout", timeout, "--device", sim.DevicePath(), "version"}, 20);
        EXPECT_EQ(ran.status, 0) << timeout << ": " << ran.err;
        EXPECT_TRUE(Contains(ran.out, "Hardware version: HW")) << ran.out;
    }
}

// ---------------------------------------------------------------- causes

TEST_F(BenchSafety, ReadBackFailuresNameTheirCause) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        Bytes image;
        long fileSizeLimit;
        std::string cause;
    };
    const Case cases[] = {
        {"missing folder",
         {"--output", "no/such/folder.bin"},
         RandomImage(8000, 8),
         -1,
         "cannot create no/such/folder.bin: No such file or directory"},
        {"file size limit",
         {"--output", "big.bin"},
         RandomImage(65536, 9),
         20000,
         "big.bin: cannot write the file: File too large"},
        {"over the buffer",
         {"--output", "huge.bin"},
         RandomImage(2'700'000, 10),
         -1,
         "huge.bin: the receiver sent more than the 2.5 MiB buffer holds"},
    };
    for (const Case& c : cases) {
        sim::SimOptions options;
        options.readBack.firstPayloadSize = 65000;  // few frames, so the big image is quick
        options.readBack.sliceSize = 65000;
        SimReceiver sim(options);
        sim.SetReadBackImage(c.image);
        LiveSetup setup{{"--device", sim.DevicePath(), "readback", "--kind", "fdd"}, {}, dir_};
        setup.args.insert(setup.args.end(), c.args.begin(), c.args.end());
        setup.fileSizeLimit = c.fileSizeLimit;
        LiveProgram program(setup);
        const Ran ran = program.Finish(30s);
        EXPECT_EQ(ran.status, 1) << c.name << ": " << ran.err;
        EXPECT_TRUE(Contains(ran.err, c.cause)) << c.name << ": " << ran.err;
    }
}

}  // namespace
}  // namespace tarven::cli::test
