#include "DriveList.h"
#include "FileMessages.h"
#include "FolderModelSupport.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tarven {
namespace {

TEST(FileErrorTextTest, ClassifiesEveryReportedCauseAndNothingElse) {
    const struct {
        int err;
        const char* text;
    } table[] = {
        {ENOENT, "File not found !"},
        {ENOTDIR, "Invalid path !"},
        {ENAMETOOLONG, "Invalid path !"},
        {EINVAL, "Invalid path !"},
        {EMFILE, "Too many files opened !"},
        {ENFILE, "Too many files opened !"},
        {EACCES, "Access denied !"},
        {EPERM, "Access denied !"},
        {EROFS, "Access denied !"},
        {EBUSY, "Sharing Violation !"},
        {ETXTBSY, "Sharing Violation !"},
        {EWOULDBLOCK, "Cannot open locked file !"},
        {EAGAIN, "Cannot open locked file !"},
        {EIO, nullptr},
        {ENOSPC, nullptr},
        {EISDIR, nullptr},
        {ELOOP, nullptr},
        {0, nullptr},
    };
    for (const auto& row : table) {
        const std::optional<std::string> text = FileErrorText(OpenErrorFromErrno(row.err));
        if (row.text) {
            EXPECT_EQ(text, std::string(row.text)) << "errno " << row.err;
        } else {
            EXPECT_FALSE(text.has_value()) << "errno " << row.err;
        }
    }
}

int OpenDescriptorCount() {
    const auto entries = std::filesystem::directory_iterator("/proc/self/fd");
    return int(std::distance(std::filesystem::begin(entries), std::filesystem::end(entries)));
}

class CanOpenFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        scratch.MakeFile("main.bin", "image");
        scratch.MakeFolders({"folder"});
    }
    bool Can(const char* path, bool readOnly, bool report) {
        return CanOpenFile(fileSystem, path, readOnly, report, view);
    }
    test::ScratchFolder scratch;
    UnixFileSystem fileSystem;
    test::FakeBrowserView view;  // its message boxes
    std::vector<std::string>& texts = view.messages;
};

TEST_F(CanOpenFileTest, AnExistingFileOpensInBothModesAndIsLeftAsItWas) {
    const int descriptors = OpenDescriptorCount();
    EXPECT_TRUE(Can(scratch.Sub("main.bin").c_str(), true, true));
    EXPECT_TRUE(Can(scratch.Sub("main.bin").c_str(), false, true));
    ASSERT_TRUE(fileSystem.SetCurrentFolder(scratch.Path()));
    EXPECT_TRUE(Can("main.bin", true, true));

    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(std::ifstream(scratch.Sub("main.bin")).rdbuf()), {}), "image");
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    EXPECT_TRUE(texts.empty());
}

TEST_F(CanOpenFileTest, FailuresAreReportedWithThePathAsPassedOnlyWhenAsked) {
    const std::string missing = scratch.Sub("missing.bin");
    const std::string throughFile = scratch.Sub("main.bin/inner.bin");
    const std::string tooLong = scratch.Sub(std::string(300, 'x'));
    const struct {
        std::string path;
        std::string message;
    } cases[] = {
        {missing, missing + "\nFile not found !"},
        {throughFile, throughFile + "\nInvalid path !"},
        {tooLong, tooLong + "\nInvalid path !"},
        {"", "\nFile not found !"},   // empty is not null: it is tried
        {scratch.Sub("folder"), ""},  // a folder is no file; nothing to say
    };
    for (const auto& c : cases) {
        texts.clear();
        EXPECT_FALSE(Can(c.path.c_str(), true, false));
        EXPECT_TRUE(texts.empty());
        EXPECT_FALSE(Can(c.path.c_str(), false, true));
        EXPECT_EQ(texts, c.message.empty() ? std::vector<std::string>{} : std::vector{c.message});
    }
    // Never created by asking.
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_FALSE(Can(nullptr, true, true));
    EXPECT_TRUE(texts.empty());
}

TEST_F(CanOpenFileTest, AFileLockedElsewhereIsRefusedAndTheCheckHoldsNoLock) {
    const std::string name = scratch.Sub("main.bin");
    const int holder = ::open(name.c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    EXPECT_FALSE(Can(name.c_str(), true, true));
    EXPECT_EQ(texts, std::vector<std::string>{name + "\nCannot open locked file !"});
    ::close(holder);

    EXPECT_TRUE(Can(name.c_str(), false, true));
    // Once the check has answered, anyone may take the file again.
    const int after = ::open(name.c_str(), O_RDONLY);
    ASSERT_GE(after, 0);
    EXPECT_EQ(::flock(after, LOCK_EX | LOCK_NB), 0);
    ::close(after);
}

TEST(DriveListTest, OffersTheRootAndRemovableVolumesAndFindsTheOneHoldingAPath) {
    const std::string table =
        "/dev/sda1 / ext4 rw,relatime 0 0\n"
        "proc /proc proc rw 0 0\n"
        "/dev/sdb1 /media/tech/USB\\040STICK vfat rw 0 0\n"
        "/dev/sdc1 /run/media/tech/Disk ext4 rw 0 0\n"
        "/dev/sdd1 /mnt ext4 rw 0 0\n"
        "/dev/sdd2 /mnt/backup ext4 rw 0 0\n"
        "/dev/sdb1 /media/tech/USB\\040STICK vfat rw 0 0\n"
        "/dev/sde1 /mntx ext4 rw 0 0\n"
        "tmpfs /media tmpfs rw 0 0\n"
        "/dev/sdf1 /home/tech/media ext4 rw 0 0\n";
    const std::vector<std::string> points = ParseMountPoints(table);
    EXPECT_EQ(points[2], "/media/tech/USB STICK");
    EXPECT_EQ(DriveEntries(points), (std::vector<std::string>{"[-/-]", "[-/media/tech/USB STICK-]", "[-/mnt-]",
                                                              "[-/mnt/backup-]", "[-/run/media/tech/Disk-]"}));
    EXPECT_EQ(DriveEntries({}), std::vector<std::string>{"[-/-]"});

    EXPECT_EQ(DriveOfEntry("[-/-]"), "/");
    EXPECT_EQ(DriveOfEntry("[-/media/a b-]"), "/media/a b");
    for (const char* junk : {"-]", "[--]", "/media/x", "[-/media/x", ""}) {
        EXPECT_FALSE(DriveOfEntry(junk).has_value()) << junk;
    }

    const std::vector<std::string> entries{"[-/-]", "[-/media/usb-]", "[-/media/usb/inner-]", "[-/mnt-]"};
    EXPECT_EQ(DriveEntryIndexForPath(entries, "/home/tech"), 0);
    EXPECT_EQ(DriveEntryIndexForPath(entries, "/media/usb"), 1);
    EXPECT_EQ(DriveEntryIndexForPath(entries, "/media/usb/a"), 1);
    EXPECT_EQ(DriveEntryIndexForPath(entries, "/media/usbstick"), 0);
    EXPECT_EQ(DriveEntryIndexForPath(entries, "/media/usb/inner/x"), 2);
    EXPECT_EQ(DriveEntryIndexForPath({"[-/mnt-]", "[-/-]"}, "/mnt/x"), 0);
    EXPECT_EQ(DriveEntryIndexForPath({"[-/mnt-]", "[-/-]"}, "/etc"), 1);
    EXPECT_EQ(DriveEntryIndexForPath({"[-a-]", "[-c-]", "[-C-]"}, "C:\\Image"), 1);  // Windows drives
}

// The new-folder flow builds its path with this; the root case cannot be
// tried for real without writing into "/".
TEST(FolderPathsTest, JoinsWithOneSeparatorAndShortensInTheMiddle) {
    EXPECT_EQ(JoinFolderPath("/", "New"), "/New");
    EXPECT_EQ(JoinFolderPath("", "New"), "/New");
    EXPECT_EQ(JoinFolderPath("/a", ""), "/a/");

    // A long path keeps its start and its last folder.
    const std::string path = "/tmp/images_of_the_bench/received_on_the_eighth/checked_before_use";
    auto within = [](std::size_t width) { return [width](const std::string& t) { return t.size() <= width; }; };
    EXPECT_EQ(ShortenPath(path, within(path.size())), path);
    EXPECT_EQ(ShortenPath(path, within(30)), "/tmp/ima\xE2\x80\xA6/checked_before_use");
    EXPECT_EQ(ShortenPath(path, within(24)), "/t\xE2\x80\xA6/checked_before_use");
    EXPECT_EQ(ShortenPath(path, within(22)), "\xE2\x80\xA6/checked_before_use");
    EXPECT_EQ(ShortenPath(path, within(12)),
              "\xE2\x80\xA6"
              "efore_use");
    // Characters are never cut in half.
    EXPECT_EQ(ShortenPath("/d\xC3\xA9j\xC3\xA0/last", within(11)), "/d\xE2\x80\xA6/last");
}

}  // namespace
}  // namespace tarven
