// What tarven-link checks before it touches the line, and the pieces of
// its output that do not need a receiver.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "Batch.h"
#include "CliNotifier.h"
#include "CliOptions.h"
#include "Commands.h"
#include "Frames.h"
#include "Progress.h"
#include "Verify.h"

namespace tarven::cli {
namespace {

ParseResult Parse(std::vector<std::string> args) { return ParseCommandLine(args); }

TEST(CommandLine, UsageErrorsAreReportedWithAReason) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"flash"},
        {"version", "--bogus"},
        {"--port", "COM7", "version"},
        {"--port"},
        {"--timeout", "0", "version"},
        {"--timeout", "soon", "version"},
        {"upload", "a.bin"},                             // no kind
        {"upload", "--kind", "chip"},                    // no file
        {"upload", "--kind", "chip", "a.bin", "b.bin"},  // one file only
        {"upload", "--kind", "fullx", "a.bin"},          // two files needed
        {"upload", "--kind", "11989", "a.bin"},
        {"readback", "--kind", "fdd", "extra.bin"},
        {"version", "--kind", "fdd"},
        {"version", "--output", "x"},
        {"--port", "COM1", "--port", "COM2", "version"},  // only upload goes to several receivers
        {"--port", "COM1", "--port", "COM2", "readback", "--kind", "fdd"},
        {"version", "--read-versions"},  // belongs to upload
        {"readback", "--kind", "fdd", "--read-versions"},
        {"version", "--report", "r.jsonl"},  // belongs to upload and readback
        {"ports", "--report", "r.jsonl"},
        {"upload", "--kind", "chip", "--report", "", "a.bin"},
        {"upload", "--kind", "chip", "a.bin", "--report"},
    };
    for (const auto& args : bad) {
        std::string joined;
        for (const auto& a : args) joined += a + " ";
        EXPECT_FALSE(Parse(args).error.empty()) << joined;
    }
}

TEST(CommandLine, OptionsBeforeAndAfterTheVerb) {
    const ParseResult r = Parse({"--port", "com3", "--timeout", "2.5", "--trace", "readback", "--kind", "UCD",
                                 "--password", "kolwe", "--output", "out.bin", "--force"});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.options.verb, Verb::ReadBack);
    ASSERT_EQ(r.options.targets.size(), 1u);
    EXPECT_EQ(r.options.targets[0].portIndex, 2);
    EXPECT_DOUBLE_EQ(*r.options.timeoutSeconds, 2.5);
    EXPECT_TRUE(r.options.trace);
    EXPECT_EQ(*r.options.kind, ImageKind::UserData);
    EXPECT_EQ(*r.options.password, "kolwe");
    EXPECT_EQ(r.options.output, "out.bin");
    EXPECT_TRUE(r.options.force);

    // Default port, and the verb's own default time-outs.
    const ParseResult v = Parse({"version"});
    ASSERT_EQ(v.error, "");
    EXPECT_EQ(v.options.targets[0].portIndex, 0);
    EXPECT_EQ(EffectiveTimeoutSeconds(v.options), 30);
    EXPECT_GE(EffectiveTimeoutSeconds(Parse({"upload", "--kind", "chip", "a"}).options), 300);

    EXPECT_EQ(Parse({"upload", "--help"}).options.verb, Verb::Help);
    // "--" lets a file name start with a dash.
    const ParseResult dash = Parse({"upload", "--kind", "chip", "--", "-odd.bin"});
    ASSERT_EQ(dash.error, "");
    EXPECT_EQ(dash.options.files, std::vector<std::string>{"-odd.bin"});
}

TEST(CommandLine, DevicesPairWithThePortBeforeThem) {
    const ParseResult r = Parse({"--port", "COM2", "--device", "/dev/a", "--device", "/dev/b", "--port", "COM3",
                                 "upload", "--kind", "chip", "f.bin"});
    ASSERT_EQ(r.error, "");
    ASSERT_EQ(r.options.targets.size(), 3u);
    EXPECT_EQ(r.options.targets[0].portIndex, 1);
    EXPECT_EQ(r.options.targets[0].device, "/dev/a");
    EXPECT_EQ(r.options.targets[1].portIndex, 0);
    EXPECT_EQ(r.options.targets[1].device, "/dev/b");
    EXPECT_EQ(r.options.targets[2].portIndex, 2);
    EXPECT_EQ(r.options.targets[2].device, "");
}

TEST(CommandLine, BatchChildGetsTheSameUploadForOneTarget) {
    const ParseResult r =
        Parse({"--timeout",       "7",        "--port",   "COM1",   "--port", "COM4",       "--device",
               "/dev/x",          "--json",   "upload",   "--kind", "fullx",  "--password", "TREVSAN",
               "--read-versions", "--report", "-r.jsonl", "--",     "a.bin",  "-b.bin"});
    ASSERT_EQ(r.error, "");
    const ParseResult child = Parse(ChildArguments(r.options, r.options.targets[1]));
    ASSERT_EQ(child.error, "");
    const Options& o = child.options;
    EXPECT_EQ(o.verb, Verb::Upload);
    EXPECT_TRUE(o.reportProgress);
    ASSERT_EQ(o.targets.size(), 1u);
    EXPECT_EQ(o.targets[0].portIndex, 3);
    EXPECT_EQ(o.targets[0].device, "/dev/x");
    EXPECT_EQ(*o.kind, ImageKind::FullX);
    EXPECT_EQ(*o.password, "TREVSAN");
    EXPECT_DOUBLE_EQ(*o.timeoutSeconds, 7);
    EXPECT_EQ(o.files, (std::vector<std::string>{"a.bin", "-b.bin"}));
    // The children share the report and read the versions; the parent alone prints the JSON.
    EXPECT_EQ(o.report, "-r.jsonl");
    EXPECT_TRUE(o.readVersions);
    EXPECT_FALSE(o.json);
}

TEST(CommandLine, BatchChildGetsTheTimeOutWithoutLoss) {
    for (const char* text : {"1e-7", "0.1", "2.5", "1e10", "123456.789"}) {
        const ParseResult r =
            Parse({"--timeout", text, "--port", "COM1", "--port", "COM2", "upload", "--kind", "chip", "a"});
        ASSERT_EQ(r.error, "") << text;
        const ParseResult child = Parse(ChildArguments(r.options, r.options.targets[1]));
        ASSERT_EQ(child.error, "") << text;
        EXPECT_EQ(*child.options.timeoutSeconds, *r.options.timeoutSeconds) << text;
    }
}

class TempDir : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/tarven-cli-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
    std::string File(const std::string& name, std::size_t size) {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << std::string(size, 'x');
        return path;
    }
    std::string dir_;
};

using UploadFiles = TempDir;

TEST_F(UploadFiles, RefusedWithTheSizeAndWhatTheKindAccepts) {
    const std::string good = File("fdd.bin", 30720);
    const std::string bad = File("odd.bin", 30721);
    EXPECT_EQ(CheckUploadFiles(ImageKind::FactoryData, {good}), "");
    const std::string problem = CheckUploadFiles(ImageKind::FactoryData, {bad});
    EXPECT_NE(problem.find("odd.bin"), std::string::npos) << problem;
    EXPECT_NE(problem.find("30721"), std::string::npos) << problem;
    EXPECT_NE(problem.find("65536 or 30720 bytes"), std::string::npos) << problem;
    // The second file of a pair is checked too.
    EXPECT_NE(CheckUploadFiles(ImageKind::FullX, {File("a", 100), File("b", 70000)}), "");
    EXPECT_NE(CheckUploadFiles(ImageKind::Chip, {dir_ + "/missing.bin"}).find("cannot read"), std::string::npos);
    EXPECT_NE(CheckUploadFiles(ImageKind::Chip, {dir_}), "");  // a folder is no image
}

TEST(ReadBackRule, TheRefusalSaysWhy) {
    EXPECT_EQ(ReadBackRefusal(ImageKind::UserData, AccessLevel::Standard), "");
    EXPECT_NE(ReadBackRefusal(ImageKind::Software, AccessLevel::Service).find("level-2"), std::string::npos);
    EXPECT_EQ(ReadBackRefusal(ImageKind::Software, AccessLevel::Full), "");
    EXPECT_NE(ReadBackRefusal(ImageKind::Chip, AccessLevel::Full).find("no read-back"), std::string::npos);
}

TEST(VersionBlock, TextsEndAtTheirZeroByteOrTheBlock) {
    std::array<std::uint8_t, kVersionBlockSize> block{};
    const std::string hw = "HW 1.0", sw = "SW 2.5";
    std::copy(hw.begin(), hw.end(), block.begin() + 32);
    std::copy(sw.begin(), sw.end(), block.begin() + 64);
    block[0] = 'x';  // bytes before 32 are not used
    VersionTexts t = VersionTextsFromBlock(block);
    EXPECT_EQ(t.hardware, hw);
    EXPECT_EQ(t.software, sw);

    // No zero byte anywhere from 32: the hardware text runs to the block's end.
    std::fill(block.begin() + 32, block.end(), std::uint8_t('A'));
    t = VersionTextsFromBlock(block);
    EXPECT_EQ(t.hardware, std::string(68, 'A'));
    EXPECT_EQ(t.software, std::string(36, 'A'));

    EXPECT_EQ(VersionTextsFromBlock({}).hardware, "");
}

TEST(VersionBlock, ReceiverTextsCannotForgeOutput) {
    struct Case {
        std::string sent, shown;
    };
    const Case cases[] = {
        {"HW\x1b[2J\x1b[1;1H", "HW\\x1b[2J\\x1b[1;1H"},  // clear the screen, home the cursor
        {"1.0\rHardware version: OK", "1.0\\x0dHardware version: OK"},
        {"1.0\nSoftware version: FAKE", "1.0\\x0aSoftware version: FAKE"},
        {"a\x7f\x9b"
         "2Jb",
         "a\\x7f\\x9b"
         "2Jb"},                   // DEL, and the 8-bit control sequence introducer
        {"C:\\x41", "C:\\\\x41"},  // a literal backslash stays distinguishable from an escape
        {"IRD-HW 7.2 (b)", "IRD-HW 7.2 (b)"},
    };
    for (const Case& c : cases) {
        std::array<std::uint8_t, kVersionBlockSize> block{};
        std::copy(c.sent.begin(), c.sent.end(), block.begin() + 32);
        std::copy(c.sent.begin(), c.sent.end(), block.begin() + 64);
        const VersionTexts t = VersionTextsFromBlock(block);
        EXPECT_EQ(t.hardware, c.shown);
        EXPECT_EQ(t.software, c.shown);
    }
}

TEST(Progress, BarAndTenths) {
    EXPECT_EQ(FormatProgressBar(1024, 512, 10), "[#####-----] 512/1024 KB 50%");
    EXPECT_EQ(FormatProgressBar(1024, 1024, 10), "[##########] 1024/1024 KB 100%");
    EXPECT_EQ(FormatProgressBar(-1, 12), "12 KB");
    EXPECT_EQ(FormatProgressBar(0, 0, 4), "[####] 0/0 KB 100%");  // an image below 1 KB
    EXPECT_EQ(ProgressTenths(1024, 0), 0);
    EXPECT_EQ(ProgressTenths(1024, 102), 0);
    EXPECT_EQ(ProgressTenths(1024, 103), 1);
    EXPECT_EQ(ProgressTenths(1024, 2000), 10);
    EXPECT_EQ(ProgressTenths(0, 1), 10);
}

TEST(Progress, PlainLinesOnlyAtEachTenth) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* err = ::open_memstream(&text, &size);
    {
        auto view = MakeProgressView(ProgressStyle::Lines, err, "COM1 (/dev/x) f.bin");
        view->Total(2048);
        for (long kb = 4; kb <= 2048; kb += 4) view->Position(kb);
        view->End();
    }
    std::fclose(err);
    const std::string out(text, size);
    std::free(text);
    int lines = 0;
    for (char c : out) lines += c == '\n';
    EXPECT_EQ(lines, 11) << out;  // the total, then 10% .. 100%
    EXPECT_NE(out.find("COM1 (/dev/x) f.bin: 2048/2048 KB (100%)"), std::string::npos) << out;
}

TEST(Progress, ReportLinesRoundTrip) {
    Report r;
    ASSERT_TRUE(ParseReportLine(ProgressReportLine(1024, 512), r));
    EXPECT_EQ(r.kind, Report::Kind::Progress);
    EXPECT_EQ(r.totalKb, 1024);
    EXPECT_EQ(r.positionKb, 512);
    ASSERT_TRUE(ParseReportLine(OutcomeReportLine("the receiver aborted the transfer"), r));
    EXPECT_EQ(r.kind, Report::Kind::Outcome);
    EXPECT_EQ(r.outcome, "the receiver aborted the transfer");
    EXPECT_FALSE(ParseReportLine("progress 1 2", r));  // a message that merely looks like one
    ASSERT_TRUE(ParseReportLine(RecordReportLine("{\"result\":\"ok\"}"), r));
    EXPECT_EQ(r.kind, Report::Kind::Record);
    EXPECT_EQ(r.outcome, "{\"result\":\"ok\"}");
    ASSERT_TRUE(ParseReportLine(VersionsReportLine("HW 1", "SW\\x09 2"), r));
    EXPECT_EQ(r.kind, Report::Kind::Versions);
    EXPECT_EQ(r.outcome, "HW 1 / SW\\x09 2");
}

TEST(Batch, SummaryTableLinesUpAndSaysWhy) {
    // No --verify: every row's check is empty.
    const std::string table =
        FormatBatchSummary({{"COM1", "/dev/ttyUSB0", 0, "ok", 12.34, ""},
                            {"COM2", "/dev/ttyUSB1", 1, "the receiver aborted the transfer", 3.0, ""},
                            {"COM3", "", 3, "exit 3: missing", 0.01, ""}});
    std::vector<std::string> lines;
    std::size_t start = 0, end;
    while ((end = table.find('\n', start)) != std::string::npos) {
        lines.push_back(table.substr(start, end - start));
        start = end + 1;
    }
    ASSERT_EQ(lines.size(), 4u) << table;
    const std::size_t resultColumn = lines[0].find("RESULT"), timeColumn = lines[0].find("TIME");
    EXPECT_EQ(lines[1].find("ok"), resultColumn);
    EXPECT_EQ(lines[2].find("FAILED: the receiver aborted the transfer"), resultColumn);
    EXPECT_EQ(lines[1].find("12.3 s"), timeColumn);
    EXPECT_EQ(lines[3].find("0.0 s"), timeColumn);
    EXPECT_EQ(lines[3].find("COM3"), 0u);

    // --read-versions adds a column; --verify's stays in line before it.
    const std::string both =
        FormatBatchSummary({{"COM1", "/dev/ttyUSB0", 0, "ok", 2.0, "identical", "HW-1 / SW-1"},
                            {"COM2", "/dev/ttyUSB1", 6, "differs", 2.5, "DIFFERENT at offset 7", "HW-2 / SW-2"}});
    const std::size_t verifyColumn = both.find("VERIFY"), versionsColumn = both.find("VERSIONS");
    const std::size_t second = both.find('\n') + 1, third = both.find('\n', second) + 1;
    EXPECT_EQ(both.find("identical") - second, verifyColumn) << both;
    EXPECT_EQ(both.find("HW-1 / SW-1") - second, versionsColumn) << both;
    EXPECT_EQ(both.find("HW-2 / SW-2") - third, versionsColumn) << both;
}

TEST(Batch, TheSameReceiverTwiceIsRefused) {
    auto targets = [](std::vector<Target> t) {
        Options o;
        o.targets = std::move(t);
        return CheckDistinctTargets(o, PortMap(std::array<std::string, kPortCount>{}));
    };
    EXPECT_EQ(targets({{0, "/dev/a"}, {0, "/dev/b"}, {1, ""}}), "");
    EXPECT_NE(targets({{0, "/dev/a"}, {2, "/dev/a"}}), "");
    EXPECT_NE(targets({{1, ""}, {1, ""}}), "");

    // One device under other names: a symbolic link, a doubled slash, a "." step.
    int master = -1, slave = -1, otherMaster = -1, otherSlave = -1;
    char name[64], otherName[64];
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    ASSERT_EQ(::openpty(&otherMaster, &otherSlave, otherName, nullptr, nullptr), 0);
    const std::string device = name, number = device.substr(device.rfind('/') + 1);
    char folder[] = "/tmp/tarven-alias-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string link = std::string(folder) + "/receiver";
    ASSERT_EQ(::symlink(name, link.c_str()), 0);
    for (const std::string& alias : {link, "/dev/pts//" + number, "/dev/pts/./" + number})
        EXPECT_NE(targets({{0, device}, {1, alias}}), "") << alias;
    EXPECT_EQ(targets({{0, device}, {1, otherName}}), "");
    ::unlink(link.c_str());
    ::rmdir(folder);
    for (const int fd : {master, slave, otherMaster, otherSlave}) ::close(fd);
}

TEST(Trace, FramesInBothDirections) {
    const CommandFrame request = EncodeCommandFrame(kCodeVersionRequest);
    EXPECT_EQ(DescribeSentFrame(request.data(), request.size()), "-> command 16 (version request)");
    const std::vector<std::uint8_t> payload(4100, 7);
    const std::vector<std::uint8_t> frame = DataFrame(payload);
    const std::string sent = DescribeSentFrame(frame.data(), frame.size());
    EXPECT_EQ(sent.rfind("-> data 4100 bytes, CRC ", 0), 0u) << sent;
    char crc[9];
    std::snprintf(crc, sizeof crc, "%08x", Crc32(payload));
    EXPECT_NE(sent.find(crc), std::string::npos) << sent;

    EXPECT_EQ(DescribeReceivedFrame(kRecvDataFrame, 4096), "<- data 4096 bytes, CRC good");
    EXPECT_EQ(DescribeReceivedFrame(kRecvBadCrc, 4096), "<- data 4096 bytes, CRC BAD");
    EXPECT_EQ(DescribeReceivedFrame(kCodeAck, 0), "<- command 0 (ack)");
    EXPECT_EQ(DescribeReceivedFrame(99, 0), "<- command 99");
    EXPECT_EQ(DescribeReceivedFrame(kRecvTimeout, 0), "<- nothing (time-out)");
}

}  // namespace
}  // namespace tarven::cli
