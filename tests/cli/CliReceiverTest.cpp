// tarven-link end to end: the built program against simulated receivers on
// pseudo-terminals.
#include <gtest/gtest.h>

#include <pty.h>
#include <sys/file.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#include "ProgramFolder.h"
#include "RunProgram.h"
#include "SimReceiver.h"

namespace tarven::cli::test {
namespace {

using namespace std::chrono_literals;
using sim::Bytes;
using sim::SimReceiver;

class LinkProgram : public ProgramFolder {
protected:
    // Runs in the test folder, where image files are written and read back.
    Ran Link(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
        return RunTarvenLink(args, env, dir_);
    }
};

// ---------------------------------------------------------------- ports

TEST_F(LinkProgram, PortsShowsEachMappingAndWhyAPortCannotBeOpened) {
    int master = -1, slave = -1;
    char name[64];
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    const std::vector<std::string> env = {"TARVEN_COM1=/nonexistent/ttyUSB9", std::string("TARVEN_COM2=") + name};

    Ran ran = Link({"ports"}, env);
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_TRUE(Contains(ran.out, "COM1  /nonexistent/ttyUSB9")) << ran.out;
    EXPECT_TRUE(Contains(ran.out, "missing")) << ran.out;
    EXPECT_TRUE(Contains(ran.out, std::string("COM2  ") + name)) << ran.out;
    EXPECT_TRUE(Contains(ran.out, "available")) << ran.out;
    EXPECT_TRUE(Contains(ran.out, "COM6  -")) << ran.out;
    EXPECT_EQ(std::count(ran.out.begin(), ran.out.end(), '\n'), 6);

    // Another program holding the line.
    const int holder = ::open(name, O_RDWR | O_NOCTTY);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    ran = Link({"ports"}, env);
    EXPECT_TRUE(Contains(ran.out, "held by another program")) << ran.out;
    EXPECT_FALSE(Contains(ran.out, "available")) << ran.out;
    ::close(holder);
    ::close(slave);
    ::close(master);
}

// ---------------------------------------------------------------- version

TEST_F(LinkProgram, VersionPrintsTheReceiversTwoTexts) {
    sim::SimOptions options;
    options.version.hardware = "IRD-HW 7.2";
    options.version.software = "IRD-SW 1.09b";
    options.version.split = 2;
    SimReceiver sim(options);
    const Ran ran = Link({"version"}, {"TARVEN_COM1=" + sim.DevicePath()});
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(ran.out, "Hardware version: IRD-HW 7.2\nSoftware version: IRD-SW 1.09b\n");
}

TEST_F(LinkProgram, VersionGivesUpOnASilentReceiverAndOnAPortItCannotOpen) {
    sim::SimOptions options;
    options.version.silentRequests = 1000;
    SimReceiver sim(options);
    Ran ran = Link({"--port", "COM2", "--device", sim.DevicePath(), "--timeout", "1", "version"});
    EXPECT_EQ(ran.status, 4) << ran.err;
    EXPECT_EQ(ran.out, "");
    EXPECT_TRUE(Contains(ran.err, "COM2 (" + sim.DevicePath() + ")")) << ran.err;
    EXPECT_LT(ran.seconds, 5);

    // The window's query would search the ports forever; the tool names the port and stops.
    ran = Link({"version"}, {"TARVEN_COM1=/nonexistent/ttyUSB9"});
    EXPECT_EQ(ran.status, 3);
    EXPECT_TRUE(Contains(ran.err, "COM1 (/nonexistent/ttyUSB9): missing")) << ran.err;
    ran = Link({"--port", "COM3", "version"}, {"TARVEN_COM1=" + sim.DevicePath()});
    EXPECT_EQ(ran.status, 3);
    EXPECT_TRUE(Contains(ran.err, "COM3")) << ran.err;
    EXPECT_LT(ran.seconds, 5);
}

// ---------------------------------------------------------------- upload

TEST_F(LinkProgram, UploadsArriveByteIdentical) {
    SimReceiver sim;
    const Bytes chip = RandomImage(5000, 1);
    Ran ran = Link({"--device", sim.DevicePath(), "upload", "--kind", "chip", Write("cam.bin", chip)});
    ASSERT_EQ(ran.status, 0) << ran.err;
    ASSERT_TRUE(sim.WaitForUpload(1s));
    auto uploads = sim.Uploads();
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_EQ(uploads[0].startCode, 36);
    EXPECT_FALSE(uploads[0].preamble);
    EXPECT_TRUE(uploads[0].complete);
    EXPECT_EQ(uploads[0].image, chip);

    const Bytes software = RandomImage(1048576, 2);
    ran = Link({"--device", sim.DevicePath(), "upload", "--kind", "11992", Write("sw.bin", software)});
    ASSERT_EQ(ran.status, 0) << ran.err;
    uploads = sim.Uploads();
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_EQ(uploads[1].startCode, 55);
    EXPECT_TRUE(uploads[1].preamble);
    EXPECT_TRUE(uploads[1].complete);
    EXPECT_TRUE(uploads[1].image == software) << "image differs";
    // Not a terminal: a few progress lines, not one per block.
    EXPECT_TRUE(Contains(ran.err, "1024/1024 KB (100%)")) << ran.err;
    EXPECT_LT(std::count(ran.err.begin(), ran.err.end(), '\n'), 20) << ran.err;
}

// A receiver slow to acknowledge block 5 (a flash erase) answers the PC's
// repeat request with that acknowledgement again: the PC runs one block
// ahead, and block 10's repeat request re-sends block 11 in its place. The
// run ends with result 1 all the same; tarven-link must not call it done.
TEST_F(LinkProgram, ADisturbedUploadIsUnconfirmedAndVerifyFindsTheDifference) {
    sim::SimOptions slow;
    slow.upload.slowAckAtBlock = 5;
    slow.upload.slowAckMs = 4000;
    slow.upload.repeatAtBlock = 10;
    slow.readBack.serveLastUpload = true;
    SimReceiver sim(slow);
    const Bytes image = RandomImage(65536, 21);
    const std::string file = Write("fdd64k.bin", image);

    Ran ran = Link({"--device", sim.DevicePath(), "upload", "--kind", "fdd", file});
    EXPECT_EQ(ran.status, 5) << ran.err;
    EXPECT_TRUE(Contains(ran.err, "unconfirmed")) << ran.err;
    ASSERT_FALSE(sim.Uploads().empty());
    EXPECT_NE(sim.Uploads().back().image, image) << "the case no longer disturbs the upload";

    ran = Link({"--device", sim.DevicePath(), "upload", "--verify", "--kind", "fdd", file});
    EXPECT_EQ(ran.status, 6) << ran.err;
    const Bytes stored = sim.Uploads().back().image;
    const auto parted = std::mismatch(stored.begin(), stored.end(), image.begin(), image.end());
    const std::string offset = std::to_string(parted.first - stored.begin());
    EXPECT_TRUE(Contains(
        ran.err, "at offset " + offset + " (receiver " + std::to_string(stored.size()) + " bytes, file 65536 bytes)"))
        << ran.err;

    // A clean line verifies identical; a kind with no read-back is refused unsent.
    sim::SimOptions serving;
    serving.readBack.serveLastUpload = true;
    SimReceiver clean(serving);
    ran = Link({"--device", clean.DevicePath(), "upload", "--verify", "--kind", "fdd", file});
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_TRUE(Contains(ran.err, "identical")) << ran.err;
    const std::size_t received = clean.ReceivedBytes().size();
    ran = Link({"--device", clean.DevicePath(), "upload", "--verify", "--kind", "chip", Write("cam.bin", image)});
    EXPECT_EQ(ran.status, 2) << ran.err;
    EXPECT_EQ(clean.ReceivedBytes().size(), received);
}

TEST_F(LinkProgram, ThePasswordSetsTheStartCode) {
    SimReceiver sim;
    const std::string file = Write("loader.bin", RandomImage(1048576, 3));
    ASSERT_EQ(Link({"--device", sim.DevicePath(), "upload", "--kind", "loader", file}).status, 0);
    ASSERT_EQ(Link({"--device", sim.DevicePath(), "upload", "--kind", "loader", "--password", "kolwe", file}).status,
              0);
    const auto uploads = sim.Uploads();
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_EQ(uploads[0].startCode, 34);
    EXPECT_EQ(uploads[1].startCode, 53);
}

TEST_F(LinkProgram, FullXSendsBothFilesOneAfterTheOther) {
    SimReceiver sim;
    const Bytes first = RandomImage(3000, 4), second = RandomImage(66559, 5);
    const Ran ran = Link(
        {"--device", sim.DevicePath(), "upload", "--kind", "fullx", Write("x1.bin", first), Write("x2.bin", second)});
    ASSERT_EQ(ran.status, 0) << ran.err;
    const auto uploads = sim.Uploads();
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_EQ(uploads[0].image, first);
    EXPECT_EQ(uploads[1].image, second);
}

TEST_F(LinkProgram, NothingGoesOnTheLineForABadFileOrPassword) {
    SimReceiver sim;
    const std::string device = sim.DevicePath();
    Ran ran = Link({"--device", device, "upload", "--kind", "software", Write("short.bin", RandomImage(1048575, 6))});
    EXPECT_EQ(ran.status, 2);
    EXPECT_TRUE(Contains(ran.err, "2097152 or 1048576 bytes")) << ran.err;

    ran = Link({"--device", device, "upload", "--kind", "chip", "--password", "KOLWE ", Write("c.bin", Bytes(10))});
    EXPECT_EQ(ran.status, 2);
    EXPECT_TRUE(Contains(ran.err, "Password incorrect!")) << ran.err;

    ran = Link({"--device", device, "upload", "--kind", "chip", "missing.bin"});
    EXPECT_EQ(ran.status, 2);
    EXPECT_TRUE(Contains(ran.err, "missing.bin")) << ran.err;

    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(sim.ReceivedFrames().empty());
}

TEST_F(LinkProgram, UploadFailuresEndNonZeroNamingTheDevice) {
    const std::string file = Write("sw.bin", RandomImage(1048576, 7));
    {
        sim::SimOptions options;
        options.upload.abortAtBlock = 3;
        SimReceiver sim(options);
        const Ran ran = Link({"--device", sim.DevicePath(), "upload", "--kind", "software", file});
        EXPECT_EQ(ran.status, 1);
        EXPECT_TRUE(Contains(ran.err, "COM1 (" + sim.DevicePath() + "): sw.bin: the receiver aborted")) << ran.err;
    }
    {
        // The adapter pulled mid-run.
        sim::SimOptions options;
        options.line.vanishAfterFrames = 30;
        SimReceiver sim(options);
        const Ran ran = Link({"--device", sim.DevicePath(), "upload", "--kind", "software", file});
        EXPECT_EQ(ran.status, 1);
        EXPECT_TRUE(Contains(ran.err, sim.DevicePath())) << ran.err;
        EXPECT_TRUE(Contains(ran.err, "vanished")) << ran.err;
        EXPECT_LT(ran.seconds, 10);
    }
    {
        // A receiver that never answers the preamble: the time-out ends the run.
        sim::SimOptions options;
        options.upload.silentPreambles = 1000;
        SimReceiver sim(options);
        const Ran ran = Link({"--timeout", "1", "--device", sim.DevicePath(), "upload", "--kind", "software", file});
        EXPECT_EQ(ran.status, 1);
        EXPECT_TRUE(Contains(ran.err, "no progress for 1 s")) << ran.err;
        EXPECT_LT(ran.seconds, 5);
    }
}

// ---------------------------------------------------------------- read-back

TEST_F(LinkProgram, ReadBackWritesTheImageUnderTheKindsName) {
    SimReceiver sim;
    const Bytes image = RandomImage(65536, 8);
    sim.SetReadBackImage(image);
    const Ran ran = Link({"--device", sim.DevicePath(), "readback", "--kind", "fdd"});
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_TRUE(Read("Def_Data.bin") == image) << "image differs";
    EXPECT_TRUE(Contains(ran.out, "Def_Data.bin (65536 bytes)")) << ran.out;
}

TEST_F(LinkProgram, ReadBackKeepsAnExistingFileUnlessForced) {
    SimReceiver sim;
    const Bytes image = RandomImage(30720, 9);
    sim.SetReadBackImage(image);
    const Bytes old = {1, 2, 3};
    Write("UserData.bin", old);

    Ran ran = Link({"--device", sim.DevicePath(), "readback", "--kind", "ucd"});
    EXPECT_EQ(ran.status, 2);
    EXPECT_TRUE(Contains(ran.err, "--force")) << ran.err;
    EXPECT_EQ(Read("UserData.bin"), old);
    // Refused kinds: nothing is created.
    ran = Link({"--device", sim.DevicePath(), "readback", "--kind", "software", "--password", "KOLWE"});
    EXPECT_EQ(ran.status, 2);
    EXPECT_FALSE(Exists("main.bin"));
    EXPECT_TRUE(sim.ReceivedFrames().empty());

    ran = Link({"--device", sim.DevicePath(), "readback", "--kind", "ucd", "--force"});
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(Read("UserData.bin"), image);
}

TEST_F(LinkProgram, ReadBackFailuresEndWithOne) {
    sim::SimOptions options;
    options.readBack.omitLastByte = true;
    SimReceiver sim(options);
    sim.SetReadBackImage(RandomImage(8000, 10));
    Ran ran = Link({"--device", sim.DevicePath(), "readback", "--kind", "fdd", "--output", "short.bin"});
    EXPECT_EQ(ran.status, 1);
    EXPECT_TRUE(Contains(ran.err, "incomplete")) << ran.err;
    EXPECT_TRUE(Contains(ran.err, "what arrived is kept in short.bin.partial")) << ran.err;
    EXPECT_FALSE(Exists("short.bin"));
    EXPECT_EQ(Read("short.bin.partial").size(), 7999u);

    ran = Link({"--device", sim.DevicePath(), "readback", "--kind", "fdd", "--output", "no/such/folder.bin"});
    EXPECT_EQ(ran.status, 1);
    EXPECT_TRUE(Contains(ran.err, "cannot create no/such/folder.bin")) << ran.err;
}

// ---------------------------------------------------------------- several receivers

TEST_F(LinkProgram, BatchUploadReportsEveryReceiver) {
    sim::SimOptions aborting;
    aborting.upload.abortAtBlock = 2;
    SimReceiver a, b(aborting), c;
    const Bytes image = RandomImage(20000, 11);
    const Ran ran = Link({"--device", a.DevicePath(), "--device", b.DevicePath(), "--device", c.DevicePath(), "upload",
                          "--kind", "chip", Write("cam.bin", image)});
    EXPECT_EQ(ran.status, 1) << ran.err;
    EXPECT_EQ(a.Uploads().at(0).image, image);
    EXPECT_EQ(c.Uploads().at(0).image, image);
    EXPECT_TRUE(b.Uploads().at(0).aborted);

    // Header and one row per receiver, in the order given.
    std::vector<std::string> rows;
    std::size_t start = 0, end;
    while ((end = ran.out.find('\n', start)) != std::string::npos) {
        rows.push_back(ran.out.substr(start, end - start));
        start = end + 1;
    }
    ASSERT_EQ(rows.size(), 4u) << ran.out;
    EXPECT_TRUE(Contains(rows[0], "PORT") && Contains(rows[0], "RESULT") && Contains(rows[0], "TIME"));
    EXPECT_TRUE(Contains(rows[1], a.DevicePath()) && Contains(rows[1], " ok ")) << rows[1];
    EXPECT_TRUE(Contains(rows[2], b.DevicePath()) && Contains(rows[2], "FAILED: ") && Contains(rows[2], "aborted"))
        << rows[2];
    EXPECT_TRUE(Contains(rows[3], c.DevicePath()) && Contains(rows[3], " ok ")) << rows[3];
    // Plain progress lines name their receiver.
    EXPECT_TRUE(Contains(ran.err, "COM1 (" + c.DevicePath() + "): 19/19 KB (100%)")) << ran.err;
}

}  // namespace
}  // namespace tarven::cli::test
