// The window's rules without a window: listing, version texts, the update
// command's outcomes. (The sizes each kind accepts: tests/link/KindTableTest;
// the version block's texts: tests/cli/CliTest and the version read here.)
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <string_view>
#include <vector>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "AppTestSupport.h"
#include "CommandOutcomes.h"
#include "ImageFiles.h"
#include "SystemFileSystem.h"

// Stands in for the C library's readdir for the whole test program, so a
// test can make a folder listing fail part-way (as a vanished network folder
// does): once armed, the call after the first "*.bin" entry fails with EIO.
namespace {
std::atomic<bool> g_failReaddirAfterImage{false};
thread_local bool t_imageSeen = false;
}  // namespace

extern "C" struct dirent* readdir(DIR* dir) {
    using Readdir = struct dirent* (*)(DIR*);
    static const auto real = reinterpret_cast<Readdir>(::dlsym(RTLD_NEXT, "readdir"));
    if (!g_failReaddirAfterImage) {
        t_imageSeen = false;
        return real(dir);
    }
    if (t_imageSeen) {
        errno = EIO;
        return nullptr;
    }
    struct dirent* entry = real(dir);
    if (entry && std::string_view(entry->d_name).ends_with(".bin")) t_imageSeen = true;
    return entry;
}

namespace tarven {
namespace {

using test::TempFolder;

TEST(ImageListing, MatchesTheWildcardInAnyCaseAndSortsWithoutCase) {
    TempFolder folder;
    for (const char* name : {"b.BIN", "A.bin", "c.bi", "d.Bix", "x.bin.old", "notes.txt", "bin", "e.b"})
        folder.File(name, 10);
    folder.Folder("f.bin");
    const std::vector<std::string> expected = {"A.bin", "b.BIN", "c.bi", "d.Bix", "f.bin", "x.bin.old"};
    EXPECT_EQ(ListImageCandidates("."), expected);
}

TEST(ImageListing, PipesAndDevicesNeverHoldTheListingUp) {
    TempFolder folder;
    folder.File("a.bin", 65536);
    ASSERT_EQ(::mkfifo("pipe.bin", 0600), 0);
    LocalImageFiles files{SystemFileSystem()};
    auto listing = std::async(std::launch::async, [&] { return ListAcceptedImages(files, ImageKind::FactoryData); });
    if (listing.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        ADD_FAILURE() << "the listing waits for a writer on the pipe";
        // A writer lets the stuck open return, so the test can end.
        const int writer = ::open("pipe.bin", O_RDWR | O_NONBLOCK);
        listing.wait();
        ::close(writer);
    }
    EXPECT_EQ(listing.get(), std::vector<std::string>{"a.bin"});
}

TEST(ImageListing, ListingThatFailsPartWayKeepsWhatItFound) {
    TempFolder folder;
    folder.File("a.bin", 10);
    folder.File("b.bin", 10);
    std::vector<std::string> names;
    g_failReaddirAfterImage = true;
    EXPECT_NO_THROW(names = ListImageCandidates("."));
    g_failReaddirAfterImage = false;
    EXPECT_EQ(names.size(), 1u);
}

std::vector<std::uint8_t> Record(std::initializer_list<std::pair<std::size_t, std::string>> texts, std::uint8_t fill) {
    std::vector<std::uint8_t> record(kVersionRecordRead, fill);
    for (const auto& [at, text] : texts) std::copy(text.begin(), text.end(), record.begin() + at);
    return record;
}

TEST(VersionFields, TextStartsAfterFillAndStopsAtZeroOrTheFieldsLastByte) {
    const auto full = Record({{12, "ABCDEFGHIJKLMNOP"}, {28, "HW123456"}}, 0xFF);
    EXPECT_EQ(ExtractVersionField(full, 12, 16), "ABCDEFGHIJKLMNO");  // byte 27 counts as zero
    EXPECT_EQ(ExtractVersionField(full, 28, 8), "HW12345");

    auto padded = Record({{15, "V1.2"}}, 0xFF);
    padded[19] = 0;
    EXPECT_EQ(ExtractVersionField(padded, 12, 16), "V1.2");
    EXPECT_EQ(ExtractVersionField(Record({}, 0xFF), 12, 16), "");
    // A zero right at the start ends the text before it begins.
    EXPECT_EQ(ExtractVersionField(Record({{13, "X"}}, 0x00), 12, 16), "");
}

TEST(VersionFields, EmptyPrimarySoftwareTakesBothTextsFromTheFallback) {
    auto primaryNoSoftware = Record({{28, "PRIMHW"}}, 0xFF);
    primaryNoSoftware[34] = 0;
    auto fallback = Record({{12, "FALLSW"}, {28, "FALLHW"}}, 0x00);
    EXPECT_EQ(ExtractImageVersions(primaryNoSoftware, fallback), (ImageVersions{"FALLSW", "FALLHW"}));

    // A software text with no hardware text keeps the empty hardware text.
    auto primarySoftwareOnly = Record({{12, "SW"}}, 0xFF);
    primarySoftwareOnly[14] = 0;
    EXPECT_EQ(ExtractImageVersions(primarySoftwareOnly, fallback), (ImageVersions{"SW", ""}));
}

// A 36-byte record of 0xFF fill holding a software and a hardware text.
std::string VersionRecord(const std::string& software, const std::string& hardware) {
    std::string record(36, '\xFF');
    record.replace(12, software.size() + 1, software + '\0');
    record.replace(28, hardware.size() + 1, hardware + '\0');
    return record;
}

TEST(VersionFields, RecordPositionsFollowTheFileLength) {
    TempFolder folder;
    // A file of `length` bytes with version texts only in the record at `at`.
    auto image = [&](const char* name, std::int64_t length, std::int64_t at) {
        folder.File(name, length, at, VersionRecord("SW", "HW"));
        return ReadImageVersions(name);
    };
    const ImageVersions found{"SW", "HW"};
    EXPECT_EQ(image("p1.bin", 1048576, 913328), found);
    EXPECT_EQ(image("f1.bin", 1048576, 917296), found);
    EXPECT_EQ(image("p2.bin", 2097152, 1761200), found);
    EXPECT_EQ(image("f2.bin", 2097152, 1892272), found);
    EXPECT_FALSE(ReadImageVersions("missing.bin").has_value());
}

TEST(UpdateOutcomes, MessageRepeatAndStepByResult) {
    const std::string success = "\nTransfer Successfully!\nPlease keep the power while GOOD is not displayed on IRD.\n";
    const std::string wait =
        "\nPlease wait......\nPlease click \"OK\" to continue once the page of \"@Nimbo Chip Update\" appears on the TV.\n";
    const std::string reboot = "\nPlease do not power off the receiver before it reboots itself.\n";
    const std::string error = "\nTransfer Error, Please try again!\n";
    struct Case {
        int result;
        bool cancelled;
        ImageKind kind;
        int step;
        std::string message;
        bool repeat;
        bool reset;
    };
    const Case cases[] = {
        {1, false, ImageKind::Software, 1, success, false, true}, {1, false, ImageKind::FullX, 1, wait, true, false},
        {1, false, ImageKind::FullX, 2, reboot, false, true},     {2, false, ImageKind::FullX, 1, error, false, true},
        {0, false, ImageKind::FullImage, 1, error, false, true},  {0, true, ImageKind::FullX, 1, "", false, true},
        {3, false, ImageKind::FullImage, 1, "", false, true},
    };
    for (const Case& c : cases) {
        const UpdateOutcome outcome = DecideUpdateOutcome(c.result, c.cancelled, c.kind, c.step);
        const std::string which =
            std::to_string(c.result) + "/" + std::to_string(KindId(c.kind)) + "/" + std::to_string(c.step);
        EXPECT_EQ(outcome.message, c.message) << which;
        EXPECT_EQ(outcome.repeatCommand, c.repeat) << which;
        EXPECT_EQ(outcome.resetStep, c.reset) << which;
    }
}

}  // namespace
}  // namespace tarven
