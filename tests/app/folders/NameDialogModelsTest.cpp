#include "FolderModelSupport.h"
#include "NewFolderModel.h"
#include "OverwriteModel.h"

namespace tarven {
namespace {

using Texts = std::vector<std::string>;
using namespace std::string_literals;

struct FakeNewFolderView : NewFolderView {
    void EnableOk(bool enabled) override { okEnabled = enabled; }
    std::string ReadName() override { return name; }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void Close(FolderDialogResult result) override { closed = result; }
    std::string name;  // the field
    std::optional<bool> okEnabled;
    Texts messages;
    std::optional<FolderDialogResult> closed;
};

class NewFolderModelTest : public ::testing::Test {
protected:
    void SetUp() override { scratch.MakeFolders({"Image/Taken"}); }
    test::ScratchFolder scratch;
    UnixFileSystem fileSystem;
    FakeNewFolderView view;
};

TEST_F(NewFolderModelTest, OkIsEnabledFromTheFirstChangeOnEvenWhenEmptiedAgain) {
    NewFolderModel dialog(fileSystem, view, scratch.Sub("Image"));
    dialog.Open();
    EXPECT_EQ(view.okEnabled, false);
    // Enter does nothing while OK is disabled.
    dialog.OnOk();
    EXPECT_FALSE(view.closed.has_value());
    EXPECT_TRUE(view.messages.empty());

    dialog.OnNameChanged();
    EXPECT_EQ(view.okEnabled, true);
    // An empty name names the parent itself, which exists.
    dialog.OnOk();
    EXPECT_EQ(view.messages, Texts{"Fail to create folder!"});
    EXPECT_FALSE(view.closed.has_value());
    EXPECT_TRUE(dialog.CreatedPath().empty());
    dialog.OnCancel();
    EXPECT_EQ(view.closed, FolderDialogResult::kCancel);
}

TEST_F(NewFolderModelTest, CreatesTheFolderAsTypedAndAFailureLeavesRoomForAnotherTry) {
    NewFolderModel dialog(fileSystem, view, scratch.Sub("Image/"));
    dialog.OnNameChanged();
    for (const std::string& refused : {std::string(41, 'n'), std::string("Taken")}) {
        view.name = refused;
        dialog.OnOk();
    }
    EXPECT_EQ(view.messages, (Texts{"Please enter no more than 40 characters.", "Fail to create folder!"}));
    EXPECT_FALSE(std::filesystem::exists(scratch.Sub("Image/" + std::string(41, 'n'))));
    EXPECT_FALSE(view.closed.has_value());

    // The second attempt joins the same parent again, with one "/". Forty
    // characters of two bytes each are forty, not eighty.
    view.name.clear();
    for (int i = 0; i < 40; ++i) view.name += "\xC3\xA9";
    dialog.OnOk();
    EXPECT_EQ(view.closed, FolderDialogResult::kOk);
    EXPECT_EQ(dialog.CreatedPath(), scratch.Sub("Image/" + view.name));
    EXPECT_TRUE(std::filesystem::is_directory(dialog.CreatedPath()));
}

struct FakeOverwriteView : OverwriteView {
    void ShowCaption(const std::string& text) override { caption = text; }
    void ShowWorkingFolder(const std::string& path) override { folderLine = path; }
    void CheckChoice(int choice) override { checked = choice; }
    void ShowNewNameField(bool visible) override { fieldVisible = visible; }
    void SetNewName(const std::string& name) override { field = name; }
    std::string ReadNewName() override { return field; }
    std::optional<std::string> AskFolder(const std::string& start) override { return answerFolder(start); }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void Close(FolderDialogResult result) override { closed = result; }
    std::string caption, folderLine, field;
    int checked = -1;
    bool fieldVisible = true;
    Texts messages;
    std::optional<FolderDialogResult> closed;
    std::function<std::optional<std::string>(const std::string&)> answerFolder;
};

class OverwriteModelTest : public ::testing::Test {
protected:
    void SetUp() override { dialog.Open(); }
    FakeOverwriteView view;
    OverwriteModel dialog{view, "main.bin", "/work"};
};

TEST_F(OverwriteModelTest, OkWithOverwriteReadsNothingAndARefreshPutsTheStoredNameBack) {
    EXPECT_EQ(view.caption, "main.bin already exists");
    EXPECT_EQ(view.folderLine, "/work");
    EXPECT_EQ(view.checked, kOverwrite);
    EXPECT_FALSE(view.fieldVisible);

    dialog.OnChoiceClicked(11967);
    EXPECT_EQ(dialog.Choice(), kRename);
    ASSERT_TRUE(view.fieldVisible);
    EXPECT_EQ(view.field, "main.bin");
    view.field = "typed.bin";
    dialog.OnChoiceClicked(11965);
    EXPECT_FALSE(view.fieldVisible);
    dialog.OnChoiceClicked(11967);
    EXPECT_EQ(view.field, "main.bin");
    dialog.OnChoiceClicked(11965);
    view.field = "";
    dialog.OnOk();
    EXPECT_EQ(view.closed, FolderDialogResult::kOk);
    EXPECT_EQ(dialog.NewName(), "main.bin");
}

TEST_F(OverwriteModelTest, AnEmptyNewNameIsRefusedEachTimeAndStaysStored) {
    dialog.OnChoiceClicked(11967);
    view.field.clear();
    dialog.OnOk();
    dialog.OnOk();
    EXPECT_EQ(view.messages, (Texts{"Invalid file name!", "Invalid file name!"}));
    EXPECT_FALSE(view.closed.has_value());
    EXPECT_EQ(dialog.NewName(), "");

    // The refused name was stored, so a refresh shows it, empty.
    view.field = "typed";
    dialog.OnChoiceClicked(11967);
    EXPECT_EQ(view.field, "");
    // Only OK with the rename choice stores the field; anything not empty.
    view.field = " ";
    dialog.OnOk();
    EXPECT_EQ(view.closed, FolderDialogResult::kOk);
    EXPECT_EQ(dialog.NewName(), " ");
}

TEST_F(OverwriteModelTest, AFolderChosenInTheBrowserBecomesTheWorkingFolder) {
    dialog.OnChoiceClicked(11967);
    view.field = "typed.bin";
    std::string startedOn;
    view.answerFolder = [&](const std::string& from) { return startedOn = from, std::optional("/elsewhere/deeper"s); };
    dialog.OnChangeFolder();
    EXPECT_EQ(startedOn, "/work");
    EXPECT_EQ(dialog.WorkingFolder(), "/elsewhere/deeper");
    EXPECT_EQ(view.folderLine, "/elsewhere/deeper");
    EXPECT_EQ(view.field, "main.bin");

    // A cancelled browser changes nothing here.
    view.answerFolder = [](const std::string&) { return std::nullopt; };
    dialog.OnChangeFolder();
    EXPECT_EQ(dialog.WorkingFolder(), "/elsewhere/deeper");
    dialog.OnCancel();
    EXPECT_EQ(view.closed, FolderDialogResult::kCancel);
}

}  // namespace
}  // namespace tarven
