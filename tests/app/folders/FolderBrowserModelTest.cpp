#include "FolderModelSupport.h"

namespace tarven {
namespace {

// The real file system with drive entries of the test's choosing, and, as
// on Windows, a limit to the current folder's path that the tree walks past.
class ChosenDrives : public UnixFileSystem {
public:
    std::vector<std::string> DriveEntries() override { return entries; }
    bool SetCurrentFolder(const std::string& path) override {
        return path.size() <= currentLimit && UnixFileSystem::SetCurrentFolder(path);
    }
    std::size_t CurrentFolderLimit() const override { return currentLimit; }
    std::vector<std::string> entries{"[-/-]"};
    std::size_t currentLimit = std::numeric_limits<std::size_t>::max();
};

class FolderBrowserModelTest : public ::testing::Test {
protected:
    void SetUp() override { scratch.MakeFolders({"Image/Sub", "Other", "Leaf"}); }
    FolderBrowserModel& Open(const std::string& start) {
        browser = std::make_unique<FolderBrowserModel>(fileSystem, view, start);
        browser->Open();
        return *browser;
    }
    test::ScratchFolder scratch;
    ChosenDrives fileSystem;
    test::FakeBrowserView view;
    std::unique_ptr<FolderBrowserModel> browser;
};

TEST_F(FolderBrowserModelTest, OpensOnTheStartFolderWithoutItsTrailingSeparator) {
    FolderBrowserModel& dialog = Open(scratch.Sub("Image/"));
    EXPECT_EQ(dialog.StartPath(), scratch.Sub("Image"));
    EXPECT_EQ(dialog.SelectedPath(), scratch.Sub("Image"));
    EXPECT_EQ(view.pathWhole, scratch.Sub("Image"));
    EXPECT_EQ(view.pathShown, scratch.Sub("Image"));
    EXPECT_EQ(view.drives, std::vector<std::string>{"[-/-]"});
    EXPECT_EQ(view.driveRow, 0);

    EXPECT_EQ(Open("/").StartPath(), "/");
    EXPECT_EQ(browser->SelectedPath(), "/");
    EXPECT_EQ(view.pathWhole, "/");

    ASSERT_TRUE(fileSystem.SetCurrentFolder(scratch.Sub("Other")));
    FolderBrowserModel& onCurrent = Open("");
    EXPECT_EQ(onCurrent.SelectedPath(), scratch.Sub("Other"));

    // A path that does not start at the root moves nothing.
    onCurrent.GoToFolder("Image");
    EXPECT_EQ(onCurrent.SelectedPath(), scratch.Sub("Other"));

    // A deep path is shortened for the line, and given whole beside.
    view.pathWidth = scratch.Sub("Image/Sub").size() - 1;
    onCurrent.GoToFolder(scratch.Sub("Image/Sub"));
    EXPECT_EQ(view.pathWhole, scratch.Sub("Image/Sub"));
    EXPECT_EQ(view.pathShown, scratch.Sub("I") + "\xE2\x80\xA6/Sub");
}

TEST_F(FolderBrowserModelTest, OkTakesTheSelectedFolderAndCancelReturnsToTheStart) {
    Open(scratch.Sub("Image")).Tree().SelectPath(scratch.Sub("Other"));
    EXPECT_EQ(view.pathWhole, scratch.Sub("Other"));
    browser->OnOk();
    EXPECT_EQ(view.closed, FolderDialogResult::kOk);
    EXPECT_EQ(fileSystem.CurrentFolder(), scratch.Sub("Other"));

    Open(scratch.Sub("Image")).Tree().SelectPath(scratch.Sub("Leaf"));
    browser->OnCancel();
    EXPECT_EQ(view.closed, FolderDialogResult::kCancel);
    EXPECT_EQ(fileSystem.CurrentFolder(), scratch.Sub("Image"));

    Open(scratch.Sub("Image")).Tree().SelectPath("/");
    browser->OnOk();
    EXPECT_EQ(fileSystem.CurrentFolder(), "/");
}

TEST_F(FolderBrowserModelTest, OkOnAFolderTooLongToBeCurrentSaysSoAndStaysOpen) {
    FolderBrowserModel& dialog = Open(scratch.Sub("Image"));
    fileSystem.currentLimit = scratch.Sub("Image").size();
    dialog.Tree().SelectPath(scratch.Sub("Image/Sub"));
    const std::string before = fileSystem.CurrentFolder();
    dialog.OnOk();
    EXPECT_EQ(view.messages, std::vector<std::string>{"Folder path too long! The system takes at most " +
                                                      std::to_string(fileSystem.currentLimit) + " characters."});
    EXPECT_FALSE(view.closed.has_value());
    EXPECT_EQ(fileSystem.CurrentFolder(), before);

    dialog.Tree().SelectPath(scratch.Sub("Other"));
    dialog.OnOk();
    EXPECT_EQ(view.closed, FolderDialogResult::kOk);
    EXPECT_EQ(fileSystem.CurrentFolder(), scratch.Sub("Other"));
}

TEST_F(FolderBrowserModelTest, ChoosingAVolumeMovesThereAndAFailureRestoresTheView) {
    fileSystem.entries = {"[-/-]", "[-" + scratch.Sub("gone") + "-]", "[-" + scratch.Sub("Other") + "-]", "-]"};
    FolderBrowserModel& dialog = Open(scratch.Sub("Image/Sub"));

    view.driveRow = 1;
    dialog.OnDriveChosen(1);
    EXPECT_EQ(view.messages, std::vector<std::string>{"Device error!"});
    EXPECT_EQ(view.driveRow, 0);
    EXPECT_EQ(dialog.SelectedPath(), scratch.Sub("Image/Sub"));

    dialog.OnDriveChosen(2);
    EXPECT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(fileSystem.CurrentFolder(), scratch.Sub("Other"));
    EXPECT_EQ(dialog.SelectedPath(), scratch.Sub("Other"));
    EXPECT_EQ(view.pathWhole, scratch.Sub("Other"));
    EXPECT_EQ(view.waitDepth, 0);

    // An entry that names no volume, or none at all, is not acted on.
    for (int index : {3, -1, 4}) dialog.OnDriveChosen(index);
    EXPECT_EQ(dialog.SelectedPath(), scratch.Sub("Other"));
    EXPECT_EQ(view.messages.size(), 1u);
}

TEST_F(FolderBrowserModelTest, NewFolderIsCreatedUnderTheSelectionAndSelected) {
    FolderBrowserModel& dialog = Open(scratch.Sub("Image"));
    std::string askedFor;
    view.answerNewFolder = [&](const std::string& parent) -> std::optional<std::string> {
        askedFor = parent;
        std::filesystem::create_directory(parent + "/Fresh");
        return parent + "/Fresh";
    };
    dialog.OnNewFolder();
    EXPECT_EQ(askedFor, scratch.Sub("Image"));
    EXPECT_EQ(dialog.SelectedPath(), scratch.Sub("Image/Fresh"));
    EXPECT_EQ(view.pathWhole, scratch.Sub("Image/Fresh"));
    ASSERT_NE(view.selected, nullptr);
    EXPECT_TRUE(view.selected->children.empty());

    // A cancelled new-folder dialog changes nothing.
    view.answerNewFolder = [](const std::string&) { return std::nullopt; };
    dialog.OnNewFolder();
    EXPECT_EQ(dialog.SelectedPath(), scratch.Sub("Image/Fresh"));
}

}  // namespace
}  // namespace tarven
