// The folder dialogs' file system on Windows: drive letters, the system's
// error codes behind the file messages, and names outside ASCII, which go
// through UTF-8 in the models and UTF-16 in the system.
#include <windows.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "FileSystemWin.h"

namespace tarven {
namespace {

class WinFileSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder_ = Utf8FromWide(temp) + "tarven-fs-" + std::to_string(GetCurrentProcessId());
        ASSERT_TRUE(fs_.MakeFolder(folder_));
        std::ofstream(WideFromUtf8(folder_ + "\\a.bin").c_str()) << "image";
    }
    void TearDown() override {
        DeleteFileW(WideFromUtf8(folder_ + "\\a.bin").c_str());
        RemoveDirectoryW(WideFromUtf8(folder_ + "\\r\xc3\xa9\xc3\xa9"
                                                "criture")
                             .c_str());
        RemoveDirectoryW(WideFromUtf8(folder_).c_str());
    }
    WindowsFileSystem fs_;
    std::string folder_;
};

TEST_F(WinFileSystemTest, FailedOpensNameTheCauseTheMessageGives) {
    EXPECT_EQ(fs_.TryOpenFile(folder_ + "\\a.bin", true), FileOpenError::kNone);
    EXPECT_EQ(fs_.TryOpenFile(folder_ + "\\a.bin", false), FileOpenError::kNone);
    EXPECT_EQ(fs_.TryOpenFile(folder_ + "\\missing.bin", true), FileOpenError::kNotFound);
    // A folder missing on the way is a path that is not valid, not a missing file.
    EXPECT_EQ(fs_.TryOpenFile(folder_ + "\\nowhere\\a.bin", true), FileOpenError::kInvalidPath);
    EXPECT_EQ(fs_.TryOpenFile(folder_ + "\\bad<name>.bin", true), FileOpenError::kInvalidPath);
}

TEST_F(WinFileSystemTest, FolderNamesOutsideAsciiSurviveTheRoundTrip) {
    const std::string name =
        "r\xc3\xa9\xc3\xa9"
        "criture";
    ASSERT_TRUE(fs_.MakeFolder(folder_ + "\\" + name));
    EXPECT_FALSE(fs_.MakeFolder(folder_ + "\\" + name));
    std::vector<FolderEntry> entries;
    ASSERT_TRUE(fs_.ListFolder(folder_, [&](const FolderEntry& e) {
        entries.push_back(e);
        return true;
    }));
    const auto named = [&](const std::string& n) {
        return std::find_if(entries.begin(), entries.end(), [&](const FolderEntry& e) { return e.name == n; });
    };
    ASSERT_NE(named(name), entries.end());
    EXPECT_TRUE(named(name)->isFolder);
    ASSERT_NE(named("a.bin"), entries.end());
    EXPECT_FALSE(named("a.bin")->isFolder);
    EXPECT_FALSE(fs_.ListFolder(folder_ + "\\nowhere", [](const FolderEntry&) { return true; }));
}

// The folder tree walks to 259 characters; the plain calls stop before that
// (a new folder at 248, a listing's "\\*" and a file's name at 260).
TEST_F(WinFileSystemTest, FoldersNearTheWalkingLimitCanBeMadeListedAndTheirFilesOpened) {
    std::vector<std::string> made;
    std::string deep = folder_;
    while (deep.size() < 240) {
        deep += "\\deep-folder";
        ASSERT_TRUE(fs_.MakeFolder(deep)) << deep.size();
        made.push_back(deep);
    }
    const std::size_t room = 258 - deep.size() - 1;
    deep += '\\';
    deep.append(room, 'x');
    ASSERT_EQ(deep.size(), 258u);
    EXPECT_TRUE(fs_.MakeFolder(deep));
    made.push_back(deep);
    const std::string file = deep + "\\image.bin";
    HANDLE created = CreateFileW((L"\\\\?\\" + WideFromUtf8(file)).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(created, INVALID_HANDLE_VALUE);
    CloseHandle(created);

    std::vector<std::string> names;
    EXPECT_TRUE(fs_.ListFolder(deep, [&](const FolderEntry& e) {
        names.push_back(e.name);
        return true;
    }));
    EXPECT_NE(std::find(names.begin(), names.end(), "image.bin"), names.end());
    EXPECT_EQ(fs_.TryOpenFile(file, false), FileOpenError::kNone);

    DeleteFileW((L"\\\\?\\" + WideFromUtf8(file)).c_str());
    for (auto at = made.rbegin(); at != made.rend(); ++at) RemoveDirectoryW((L"\\\\?\\" + WideFromUtf8(*at)).c_str());
}

TEST_F(WinFileSystemTest, DrivesAreLettersAndEachKeepsItsCurrentFolder) {
    const std::vector<std::string> drives = fs_.DriveEntries();
    ASSERT_FALSE(drives.empty());
    for (const std::string& entry : drives)
        EXPECT_TRUE(entry.size() == 5 && entry.starts_with("[-") && entry.ends_with("-]")) << entry;
    const std::string start = fs_.CurrentFolder();
    ASSERT_TRUE(fs_.SetCurrentFolder(folder_));
    const std::string drive(1, char(std::tolower(static_cast<unsigned char>(folder_[0]))));
    EXPECT_NE(std::find(drives.begin(), drives.end(), "[-" + drive + "-]"), drives.end());
    // Back on the same drive, its own current folder comes back.
    ASSERT_TRUE(fs_.ChangeDrive(drive));
    EXPECT_EQ(fs_.CurrentFolder(), folder_);
    EXPECT_FALSE(fs_.ChangeDrive("not a drive"));
    fs_.SetCurrentFolder(start);
}

}  // namespace
}  // namespace tarven
