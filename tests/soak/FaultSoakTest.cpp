// Uploads and read-backs through the simulated receiver under each line fault
// alone and under mixes, many seeds each. Every run must end within its
// bound, and a run that reports success must have delivered the image byte
// for byte, unless the line carried a fault the protocol cannot see: such
// runs are counted apart and listed, never taken for a pass or a failure.
#include <gtest/gtest.h>

#include <cstdlib>
#include <iostream>
#include <sstream>

#include "SoakRun.h"
#include "SoakSupport.h"

namespace tarven::soak {
namespace {

using sim::SimOptions;
using Rng = std::mt19937_64;

// A frame number between `from` and `to`, both included.
int FrameBetween(Rng& rng, int from, int to) { return from + int(rng() % std::uint64_t(std::max(1, to - from + 1))); }

// The rows of one direction. Byte corruption comes at two rates: one for the
// side that carries the data frames, one for the side that answers with commands.
std::vector<Profile> Profiles(Transfer transfer) {
    const bool upload = transfer == Transfer::Upload;
    // Upload: the PC sends the data frames; read-back: the receiver does.
    auto corruptBulk = [upload](SimOptions& o, double rate) {
        (upload ? o.line.corruptInRate : o.line.corruptOutRate) = rate;
    };
    auto corruptCommands = [upload](SimOptions& o, double rate) {
        (upload ? o.line.corruptOutRate : o.line.corruptInRate) = rate;
    };
    // The pause outlasts both programs' waits (3 s upload, 0.8 s read-back), so
    // the PC asks again while the first answer is still held back.
    auto pause = [](SimOptions& o, Rng& rng, int frames) {
        o.line.pauseAfterFrames = FrameBetween(rng, 2, frames);
        o.line.pauseMs = 4000;
    };
    auto silence = [](SimOptions& o, Rng& rng, int frames) {
        o.line.silentAfterFrames = FrameBetween(rng, 2, frames);
        o.line.silentMs = 8000;
    };
    const char* bulkName = upload ? "corrupt-to-rx" : "corrupt-to-pc";
    const char* commandName = upload ? "corrupt-to-pc" : "corrupt-to-rx";

    std::vector<Profile> profiles = {
        {"clean", 6, [](SimOptions&, Rng&, int) {}},
        {bulkName, 12, [=](SimOptions& o, Rng&, int) { corruptBulk(o, 1e-4); }},
        {commandName, 12, [=](SimOptions& o, Rng&, int) { corruptCommands(o, 4e-3); }},
        {"drop", 10, [](SimOptions& o, Rng&, int) { o.line.dropReplyRate = 0.12; }},
        {"duplicate", 10, [](SimOptions& o, Rng&, int) { o.line.duplicateReplyRate = 0.15; }},
        {"garbage", 10,
         [](SimOptions& o, Rng&, int) {
             o.line.garbageRate = 0.2;
             o.line.garbageMaxBytes = 32;
         }},
        {"pause", 8, pause},
        {"silence", 8, silence},
        {"vanish", upload ? 4 : 3,
         [](SimOptions& o, Rng& rng, int frames) { o.line.vanishAfterFrames = FrameBetween(rng, 2, frames + 1); }},
        {"mix-noise", 10,
         [=](SimOptions& o, Rng&, int) {
             corruptBulk(o, 1e-4);
             corruptCommands(o, 3e-3);
             o.line.garbageRate = 0.1;
         }},
        {"mix-loss", 10,
         [=](SimOptions& o, Rng& rng, int frames) {
             o.line.dropReplyRate = 0.08;
             o.line.duplicateReplyRate = 0.08;
             pause(o, rng, frames);
         }},
    };
    // The receiver's request for the slower line (upload: asked outright;
    // read-back: after six short frames in a row), then noise at 57,600 baud.
    // At that speed a read-back frame takes 714 of its 800 ms: a slower link
    // clock keeps scheduling jitter out of that margin.
    profiles.push_back({"slow-line", upload ? 6 : 4,
                        [=](SimOptions& o, Rng&, int) {
                            if (upload) {
                                o.upload.speedChangeAtBlock = 1;
                            } else {
                                o.readBack.shortFrameAtBlock = 2;
                                o.readBack.shortFrameCount = 6;
                            }
                            corruptBulk(o, 5e-5);
                            corruptCommands(o, 1e-3);
                        },
                        upload ? 0.0 : 10.0});
    profiles.push_back({"mix-all", 12, [=](SimOptions& o, Rng& rng, int frames) {
                            corruptBulk(o, 5e-5);
                            corruptCommands(o, 2e-3);
                            o.line.dropReplyRate = 0.05;
                            o.line.duplicateReplyRate = 0.05;
                            o.line.garbageRate = 0.05;
                            pause(o, rng, frames);
                            silence(o, rng, frames);
                            // The receiver's own requests on top.
                            if (upload) {
                                o.upload.speedChangeAtBlock = 2;  // a slower line
                                o.upload.repeatAtBlock = 3;
                            } else {
                                o.readBack.corruptCrcAtBlock = 2;
                                o.readBack.shortFrameAtBlock = 3;
                                o.readBack.shortFrameCount = 2;
                                o.readBack.repeatAfterBlock = 1;
                            }
                        }});
    return profiles;
}

struct Row {
    Transfer transfer;
    Profile profile;
};

void PrintTo(const Row& row, std::ostream* out) { *out << Name(row.transfer) << '/' << row.profile.name; }

std::vector<Row> Rows() {
    std::vector<Row> rows;
    for (Transfer t : {Transfer::Upload, Transfer::ReadBack})
        for (Profile& p : Profiles(t)) rows.push_back({t, std::move(p)});
    return rows;
}

class FaultSoak : public ::testing::TestWithParam<Row> {};

// Seeds 1..n, or only those in TARVEN_SOAK_SEEDS (e.g. "4,11") to replay a run.
std::vector<std::uint64_t> Seeds(int runs) {
    std::vector<std::uint64_t> seeds;
    if (const char* only = std::getenv("TARVEN_SOAK_SEEDS"); only && *only) {
        std::istringstream list(only);
        for (std::string item; std::getline(list, item, ',');)
            if (!item.empty()) seeds.push_back(std::stoull(item));
        return seeds;
    }
    for (int i = 1; i <= runs; ++i) seeds.push_back(std::uint64_t(i));
    return seeds;
}

TEST_P(FaultSoak, EveryRunEndsInBoundAndSuccessMeansTheSameImage) {
    const Row& row = GetParam();
    for (const std::uint64_t seed : Seeds(Scaled(row.profile.runs))) {
        const RunReport r = SoakRun(row.transfer, row.profile, seed);
        Record(row.transfer, row.profile.name, seed, r);
        const std::string where = std::string(Name(row.transfer)) + "/" + row.profile.name + " seed " +
                                  std::to_string(seed) + ": " + r.detail;
        for (const std::string& problem : r.problems) ADD_FAILURE() << where << "\n  " << problem;
        if (!r.timeline.empty()) std::cout << "---- " << where << "\n" << r.timeline << "----\n";
        EXPECT_NE(r.outcome, Outcome::Different) << "success reported for an image the far side does not hold, "
                                                    "with no fault on the line that the protocol cannot see\n  "
                                                 << where;
        // The engine may doubt a good upload, never vouch for a bad one.
        EXPECT_FALSE(row.transfer == Transfer::Upload && DeliveredDifferent(r) && r.doubt == UploadDoubt::None &&
                     !r.invisibleAck)
            << "a confirmed success for an image the receiver does not hold\n  " << where;
        EXPECT_NE(r.outcome, Outcome::Hang) << "stopped by the watchdog after " << r.seconds
                                            << " s, and not in a wait the protocol never gives up\n  " << where;
        // The worker is stopped after every run, finished or not: that must be at once.
        EXPECT_LT(r.stopMs, 200.0) << where;
    }
}

std::string RowName(const ::testing::TestParamInfo<Row>& info) {
    std::string name =
        std::string(info.param.transfer == Transfer::Upload ? "Upload_" : "ReadBack_") + info.param.profile.name;
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultSoak, ::testing::ValuesIn(Rows()), RowName);

// A clean line must give identical images every time: this keeps the limit
// bookkeeping above from ever hiding a plain failure.
TEST(FaultSoakBaseline, ACleanLineAlwaysDeliversTheImage) {
    for (Transfer t : {Transfer::Upload, Transfer::ReadBack}) {
        const Profile clean{"baseline", 1, [](SimOptions&, Rng&, int) {}};
        for (std::uint64_t seed = 101; seed < 101 + std::uint64_t(Scaled(3)); ++seed) {
            const RunReport r = SoakRun(t, clean, seed);
            EXPECT_EQ(r.outcome, Outcome::Identical) << Name(t) << " seed " << seed << ": " << r.detail;
            EXPECT_EQ(r.result, 1) << Name(t) << " seed " << seed;
            EXPECT_TRUE(r.limits.empty()) << Name(t) << " seed " << seed << ": " << r.limits.front();
        }
    }
}

class MatrixPrinter : public ::testing::Environment {
public:
    void TearDown() override { PrintMatrix(std::cout); }
};

[[maybe_unused]] ::testing::Environment* const kMatrixPrinter = ::testing::AddGlobalTestEnvironment(new MatrixPrinter);

}  // namespace
}  // namespace tarven::soak
