// The simulated receiver's line: the device itself, pacing, injected line
// faults, scripting, and the executable.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "ProgramSide.h"
#include "SimReceiver.h"

namespace tarven::sim {
namespace {

using testing::Bytes;
using testing::Ms;
using testing::Pattern;
using testing::ProgramSide;
using testing::UploadPayloads;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Time from the first to the last write of the bytes sent to the program.
double SendSpan(const SimReceiver& sim) {
    Clock::time_point first{}, last{};
    for (const ByteChunk& c : sim.ByteLog()) {
        if (c.direction != Direction::ToProgram) continue;
        if (first == Clock::time_point{}) first = c.time;
        last = c.time;
    }
    return Seconds(last - first);
}

TEST(SimDevice, SurvivesReopenAndReportsTheProgramsSpeed) {
    SimReceiver sim;
    EXPECT_EQ(sim.CurrentBaud(), kBaudNormal);
    {
        ProgramSide pc(sim.DevicePath(), B57600);
        EXPECT_EQ(sim.CurrentBaud(), kBaudSlow);
        pc.Command(kCodeVersionRequest);
        ASSERT_TRUE(pc.Next());
    }
    // The program closed its side: the simulator still answers a fresh open.
    ProgramSide pc(sim.DevicePath(), B115200);
    EXPECT_EQ(sim.CurrentBaud(), kBaudNormal);
    pc.Command(kCodeVersionRequest);
    auto frame = pc.Next();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->kind, ParsedFrame::Kind::Data);
    EXPECT_FALSE(sim.Vanished());
}

TEST(SimDevice, VanishingHangsUpTheProgram) {
    SimOptions o;
    o.line.vanishAfterFrames = 2;
    SimReceiver sim(o);
    const std::string path = sim.DevicePath();
    ProgramSide pc(path);
    pc.Command(kCodeVersionRequest);
    ASSERT_TRUE(pc.Next());
    pc.Command(kCodeAck);  // the second frame: gone before answering
    ASSERT_TRUE(sim.WaitForEvent(SimEvent::Type::Vanished, Ms(1000)));
    pollfd p{pc.Fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 1000), 1);
    EXPECT_TRUE(p.revents & (POLLHUP | POLLERR));
    struct stat st {};
    EXPECT_NE(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(sim.CurrentBaud(), 0u);
}

TEST(SimLine, PacedOutputTakesTenBitsPerByteAtTheProgramsSpeed) {
    SimOptions o;
    o.line.paced = true;
    SimReceiver sim(o);
    ProgramSide pc(sim.DevicePath());
    const Bytes payload = Pattern(1000);  // 1,016 bytes on the line

    sim.SendData(payload);
    auto frame = pc.Next();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->payload, payload);
    const double fast = SendSpan(sim);
    EXPECT_GT(fast, 1015 * 10.0 / 115200 * 0.8);
    EXPECT_LT(fast, 1015 * 10.0 / 115200 * 3);

    sim.ClearRecords();
    pc.SetSpeed(B57600);
    sim.SendData(payload);
    ASSERT_TRUE(pc.Next());
    const double slow = SendSpan(sim);
    EXPECT_GT(slow / fast, 1.5);
    EXPECT_LT(slow / fast, 2.6);
}

TEST(SimLine, PacedInputDelaysTheAnswerUntilTheFrameCouldHaveArrived) {
    SimOptions o;
    o.line.paced = true;
    SimReceiver sim(o);
    ProgramSide pc(sim.DevicePath());
    pc.Command(kCodeChipStart);
    pc.Data(Pattern(2000));  // 2,016 bytes: about 175 ms at 115,200 baud
    ASSERT_EQ(pc.NextCode(), kCodeAck);

    Clock::time_point firstByte{};
    for (const ByteChunk& c : sim.ByteLog())
        if (c.direction == Direction::FromProgram && c.bytes.size() > 12) {
            firstByte = c.time;
            break;
        }
    const auto sent = sim.SentFrames();
    ASSERT_FALSE(sent.empty());
    EXPECT_GE(Seconds(sent.back().time - firstByte), 2015 * 10.0 / 115200 * 0.95);
}

TEST(SimLine, SeededCorruptionReplays) {
    auto corruptedAnswer = [](std::uint64_t seed) {
        SimOptions o;
        o.line.corruptOutRate = 0.05;
        o.line.seed = seed;
        SimReceiver sim(o);
        ProgramSide pc(sim.DevicePath());
        pc.Command(kCodeVersionRequest);
        return pc.ReadUntilQuiet(Ms(100));
    };
    const Bytes a = corruptedAnswer(42), b = corruptedAnswer(42), c = corruptedAnswer(43);
    SimOptions clean;
    const Bytes intended = DataFrame(MakeVersionBlock(clean.version.hardware, clean.version.software));
    ASSERT_EQ(a.size(), intended.size());
    EXPECT_NE(a, intended);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
}

TEST(SimLine, CorruptionOfIncomingBytesIsSeenAsBadFrames) {
    SimOptions o;
    o.line.corruptInRate = 1.0;
    o.line.resyncIdleMs = 50;
    SimReceiver sim(o);
    ProgramSide pc(sim.DevicePath());
    pc.Command(kCodeVersionRequest);
    EXPECT_TRUE(pc.Quiet(Ms(100)));
    ASSERT_TRUE(sim.WaitForFrames(1, Ms(500)));
    EXPECT_EQ(sim.ReceivedFrames()[0].kind, FrameKind::BadMagic);
    const auto request = EncodeCommandFrame(kCodeVersionRequest);
    const Bytes received = sim.ReceivedBytes();
    ASSERT_EQ(received.size(), request.size());
    for (std::size_t i = 0; i < received.size(); ++i) EXPECT_NE(received[i], request[i]) << "byte " << i;
}

TEST(SimLine, DroppedDuplicatedAndGarbledReplies) {
    SimOptions drop;
    drop.line.dropReplyRate = 1.0;
    SimReceiver dropping(drop);
    ProgramSide pc1(dropping.DevicePath());
    pc1.Command(kCodeVersionRequest);
    EXPECT_TRUE(pc1.Quiet(Ms(100)));
    ASSERT_TRUE(dropping.WaitFor([&] { return !dropping.SentFrames().empty(); }, Ms(500)));
    EXPECT_TRUE(dropping.SentFrames()[0].dropped);

    SimOptions dup;
    dup.line.duplicateReplyRate = 1.0;
    SimReceiver duplicating(dup);
    ProgramSide pc2(duplicating.DevicePath());
    pc2.Command(kCodeVersionRequest);
    auto one = pc2.Next(), two = pc2.Next();
    ASSERT_TRUE(one && two);
    EXPECT_EQ(one->payload, two->payload);

    SimOptions garbage;
    garbage.line.garbageRate = 1.0;
    garbage.line.garbageMaxBytes = 8;
    SimReceiver garbling(garbage);
    ProgramSide pc3(garbling.DevicePath());
    pc3.Command(kCodeVersionRequest);
    const Bytes got = pc3.ReadUntilQuiet(Ms(100));
    const Bytes frame = DataFrame(MakeVersionBlock(garbage.version.hardware, garbage.version.software));
    ASSERT_GT(got.size(), frame.size());
    EXPECT_LE(got.size(), frame.size() + 8);
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), got.end() - std::ptrdiff_t(frame.size())));
}

TEST(SimLine, PauseDelaysAnswersAndSilenceLosesThem) {
    SimOptions p;
    p.line.pauseAfterFrames = 1;
    p.line.pauseMs = 300;
    SimReceiver pausing(p);
    ProgramSide pc1(pausing.DevicePath());
    const auto asked = Clock::now();
    pc1.Command(kCodeVersionRequest);
    ASSERT_TRUE(pc1.Next(Ms(2000)));
    EXPECT_GE(Seconds(Clock::now() - asked), 0.28);

    SimOptions s;
    s.line.silentAfterFrames = 1;
    s.line.silentMs = 200;
    SimReceiver silent(s);
    ProgramSide pc2(silent.DevicePath());
    pc2.Command(kCodeVersionRequest);
    EXPECT_TRUE(pc2.Quiet(Ms(100)));
    pc2.Command(kCodeVersionRequest);  // still silent: lost too
    EXPECT_TRUE(pc2.Quiet(Ms(250)));
    pc2.Command(kCodeVersionRequest);
    EXPECT_TRUE(pc2.Next());
}

TEST(SimLine, ResynchronisesAfterStrayBytes) {
    SimOptions o;
    o.line.resyncIdleMs = 50;
    SimReceiver sim(o);
    ProgramSide pc(sim.DevicePath());
    pc.Write({1, 2, 3, 4, 5});
    pc.Command(kCodeVersionRequest);  // misaligned: 12 bytes without magic, 5 left over
    EXPECT_TRUE(pc.Quiet(Ms(150)));
    pc.Command(kCodeVersionRequest);
    auto frame = pc.Next();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->kind, ParsedFrame::Kind::Data);
}

TEST(SimScript, HookOverridesAndDirectSends) {
    SimReceiver sim;
    std::vector<FrameRecord> seen;
    sim.SetFrameHook([&](const FrameRecord& f) -> std::optional<std::vector<Outgoing>> {
        seen.push_back(f);
        if (f.IsCommand(kCodeVersionRequest)) return std::vector<Outgoing>{Outgoing::Command(99)};
        if (f.IsCommand(kCodeEndOfImage)) return std::vector<Outgoing>{Outgoing::Raw({7, 7})};
        if (f.IsCommand(kCodeUploadPreamble)) return std::vector<Outgoing>{};
        return std::nullopt;
    });
    ProgramSide pc(sim.DevicePath());
    pc.Command(kCodeVersionRequest);
    EXPECT_EQ(pc.NextCode(), 99);
    pc.Command(kCodeUploadPreamble);
    EXPECT_TRUE(pc.Quiet(Ms(100)));  // silence instead of 4
    pc.Command(kCodeEndOfImage);
    EXPECT_EQ(pc.ReadUntilQuiet(Ms(100)), (Bytes{7, 7}));
    pc.Command(32);  // not taken by the hook: the built-in read-back answers
    EXPECT_EQ(pc.NextCode(), kCodeReadBackReady);
    sim.SetFrameHook(nullptr);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[1].code, kCodeUploadPreamble);
    EXPECT_EQ(sim.VersionAnswers(), 0);
    EXPECT_TRUE(sim.Uploads().empty());
    pc.ReadUntilQuiet(Ms(50));

    sim.SendCommand(300);
    sim.SendData({1, 2, 3});
    sim.SendRaw({9});
    ASSERT_TRUE(sim.WaitUntilSent(Ms(1000)));
    Bytes expected;
    const auto command = EncodeCommandFrame(300);
    expected.insert(expected.end(), command.begin(), command.end());
    const Bytes data = DataFrame(Bytes{1, 2, 3});
    expected.insert(expected.end(), data.begin(), data.end());
    expected.push_back(9);
    EXPECT_EQ(pc.ReadUntilQuiet(Ms(100)), expected);
}

#ifdef TARVEN_SIM_EXECUTABLE
// The executable, started with its standard output on a pipe; stopped with
// SIGTERM if the test ends before it exits by itself.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> args) {
        args.insert(args.begin(), TARVEN_SIM_EXECUTABLE);
        int fds[2];
        if (::pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        out_ = fds[0];
    }
    ~SimProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            Wait();
        }
        if (out_ >= 0) ::close(out_);
    }
    bool Started() const { return pid_ > 0 && out_ >= 0; }
    // Output up to the next newline (without it); empty after `timeout`.
    std::string Line(Ms timeout = Ms(5000)) {
        std::string text;
        for (char c; Read(&c, timeout) && c != '\n';) text += c;
        return text;
    }
    // Everything until the program closes its output, or `timeout` passes.
    std::string Rest(Ms timeout = Ms(5000)) {
        std::string text;
        for (char c; Read(&c, timeout);) text += c;
        return text;
    }
    int Wait() {
        int status = -1;
        if (pid_ > 0) ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return status;
    }

private:
    bool Read(char* c, Ms timeout) {
        pollfd p{out_, POLLIN, 0};
        return ::poll(&p, 1, int(timeout.count())) == 1 && ::read(out_, c, 1) == 1;
    }

    pid_t pid_ = -1;
    int out_ = -1;
};

// As a demo or another program's test uses it: device on the first line, an
// upload, the image in a file, exit by itself, link removed.
TEST(SimExecutable, ReceivesOneUploadAndExits) {
    const std::string dir = ::testing::TempDir() + "/sim-exe-" + std::to_string(::getpid());
    ::mkdir(dir.c_str(), 0700);
    const std::string output = dir + "/upload.bin";
    const std::string link = dir + "/com1";
    SimProcess sim({"--exit-after-upload", "--upload-output", output, "--link", link});
    ASSERT_TRUE(sim.Started());
    const std::string device = sim.Line();
    char target[256] = {};
    ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), device);

    const Bytes image = Pattern(7000, 9);
    {
        ProgramSide pc(link);
        pc.Command(kCodeUploadPreamble);
        ASSERT_EQ(pc.NextCode(), kCodeStandBy);
        pc.Command(54);
        for (const Bytes& payload : UploadPayloads(image)) {
            pc.Data(payload);
            ASSERT_EQ(pc.NextCode(), kCodeAck);
        }
        pc.Command(kCodeEndOfImage);
        EXPECT_EQ(pc.NextCode(), kCodeAck);
    }
    const std::string rest = sim.Rest();
    const int status = sim.Wait();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << rest;
    EXPECT_NE(rest.find("upload complete: 7000 bytes"), std::string::npos) << rest;
    std::ifstream file(output, std::ios::binary);
    const Bytes written((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(written, image);
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0) << "link left behind";
    std::remove(output.c_str());
    ::rmdir(dir.c_str());
}

// The benchmark counts the bytes on the line from --trace=json alone: every
// line after the device is one object, and the frames from the program add
// up to exactly what it wrote.
TEST(SimExecutable, JsonTraceCountsEveryByteTheProgramSent) {
    const std::string output = ::testing::TempDir() + "/sim-json-" + std::to_string(::getpid()) + ".bin";
    SimProcess sim({"--trace=json", "--exit-after-upload", "--upload-output", output});
    ASSERT_TRUE(sim.Started());
    const std::string device = sim.Line();
    std::size_t written = 0;
    {
        ProgramSide pc(device);
        pc.Command(kCodeUploadPreamble);
        ASSERT_EQ(pc.NextCode(), kCodeStandBy);
        pc.Command(54);
        for (const Bytes& payload : UploadPayloads(Pattern(9000, 4))) {
            pc.Data(payload);
            written += payload.size() + std::size_t(kDataFrameOverhead);
            ASSERT_EQ(pc.NextCode(), kCodeAck);
        }
        pc.Command(kCodeEndOfImage);
        EXPECT_EQ(pc.NextCode(), kCodeAck);
        written += 3 * std::size_t(kFrameHeaderSize);
    }
    const std::string rest = sim.Rest();
    sim.Wait();
    std::remove(output.c_str());
    std::size_t counted = 0;
    bool imageWritten = false;
    std::istringstream lines(rest);
    for (std::string line; std::getline(lines, line);) {
        ASSERT_TRUE(line.rfind("{\"t\":", 0) == 0 && line.back() == '}') << line;
        imageWritten = imageWritten || line.find("\"event\":\"image written\"") != std::string::npos;
        if (line.find("\"from\":\"program\"") == std::string::npos) continue;
        const std::size_t at = line.find("\"bytes\":");
        ASSERT_NE(at, std::string::npos) << line;
        counted += std::stoul(line.substr(at + 8));
    }
    EXPECT_EQ(counted, written) << rest;
    EXPECT_TRUE(imageWritten) << rest;
}
#endif

}  // namespace
}  // namespace tarven::sim
