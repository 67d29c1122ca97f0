// The main window's model: ports, kinds, the image list and its version
// fields, the OK command's limits and the About entry.
#include <gtest/gtest.h>

#include <filesystem>

#include "AppTestSupport.h"
#include "CommandOutcomes.h"

namespace tarven {
namespace {

using test::TempFolder;
using test::Window;
using Names = std::vector<std::string>;

TEST(MainWindowImageList, EachKindListsTheFilesOfItsSizes) {
    TempFolder folder;
    folder.File("a.bin", 1048576);
    folder.File("B.BIN", 2097152);
    folder.File("c.bix", 65536);
    folder.File("d.bi", 66559);
    folder.File("e.bin", 66560);
    folder.Folder("g.bin");
    folder.File("h.bin", 180224);
    folder.File("i.bin", 30720);
    Window w;
    EXPECT_EQ(w.model.Kind(), ImageKind::FullImage);
    EXPECT_EQ(w.view.checked, ImageKind::FullImage);
    EXPECT_EQ(w.view.fields.workFolder, folder.Path());
    EXPECT_FALSE(w.view.enabled.at(MainControl::ReadBack));

    const std::pair<ImageKind, Names> expected[] = {
        {ImageKind::FactoryData, {"c.bix", "i.bin"}},        {ImageKind::UserData, {"h.bin"}},
        {ImageKind::Software, {"a.bin", "B.BIN"}},           {ImageKind::Chip, {"c.bix", "d.bi", "i.bin"}},
        {ImageKind::SoftwareDataLoader, {"a.bin", "B.BIN"}},
    };
    for (const auto& [kind, names] : expected) {
        w.model.OnKindChanged(kind);
        EXPECT_EQ(w.view.images, names) << KindId(kind);
        EXPECT_EQ(w.view.imageRow, 0) << KindId(kind);
        EXPECT_TRUE(w.view.enabled[MainControl::Update]) << KindId(kind);
        const bool dataKind = kind == ImageKind::FactoryData || kind == ImageKind::UserData;
        EXPECT_EQ(w.view.enabled[MainControl::ReadBack], dataKind) << KindId(kind);
    }
    EXPECT_TRUE(w.view.messages.empty());
}

TEST(MainWindowImageList, SoftwareKindsShareTheListAndItsSelection) {
    TempFolder folder;
    folder.File("one.bin", 1048576);
    folder.File("two.bin", 1048576);
    folder.File("chip.bin", 1000);
    Window w;
    w.program.SetVersionReminderShown(true);
    w.model.OnImageSelected(1);
    for (ImageKind kind : {ImageKind::Software, ImageKind::SoftwareDataLoader, ImageKind::FullImage}) {
        w.model.OnKindChanged(kind);
        w.model.OnUpdateCommand();
        EXPECT_EQ(w.view.runs.back().fileName, "two.bin") << KindId(kind);
    }
    w.model.OnKindChanged(ImageKind::Chip);
    EXPECT_EQ(w.view.images, Names{"chip.bin"});
    w.model.OnKindChanged(ImageKind::Software);
    EXPECT_EQ(w.view.images, (Names{"one.bin", "two.bin"}));
    EXPECT_EQ(w.view.imageRow, 0);
}

TEST(MainWindowImageList, HiddenTwoFileKindWantsExactlyTwoFiles) {
    TempFolder folder;
    Window w;
    w.model.OnKindChanged(ImageKind::FullX);  // empty list: no complaint
    EXPECT_TRUE(w.view.messages.empty());
    EXPECT_TRUE(w.view.enabled[MainControl::Update]);

    folder.File("1.bin", 100);
    folder.File("2.bin", 100);
    w.model.RefreshImageList();
    EXPECT_TRUE(w.view.messages.empty());
    EXPECT_TRUE(w.view.enabled[MainControl::Update]);

    folder.File("3.bin", 100);
    w.model.RefreshImageList();
    EXPECT_EQ(w.view.messages, Names{"The number of the file is incorrect! Please check it"});
    EXPECT_FALSE(w.view.enabled[MainControl::Update]);
    // Any other kind gives the button back.
    w.model.OnKindChanged(ImageKind::Chip);
    EXPECT_TRUE(w.view.enabled[MainControl::Update]);
}

TEST(MainWindowImageVersions, FollowKindAndSelection) {
    TempFolder folder;
    std::string record(36, '\xFF');
    record.replace(14, 6, std::string("V2.07\0", 6));
    record.replace(28, 4, std::string("H3\0\0", 4));
    folder.File("a.bin", 1048576, 913328, record);
    folder.File("b.bin", 1048576);
    Window w;
    EXPECT_EQ(w.view.fields.imageSoftwareVersion, "V2.07");
    EXPECT_EQ(w.view.fields.imageHardwareVersion, "H3");

    // A file gone since the list was made: reported, the fields stay.
    std::filesystem::remove("b.bin");
    w.model.OnImageSelected(1);
    EXPECT_EQ(w.view.messages, Names{"File open error"});
    EXPECT_EQ(w.view.fields.imageSoftwareVersion, "V2.07");

    folder.File("c.bin", 65536);
    w.model.OnKindChanged(ImageKind::Chip);
    EXPECT_EQ(w.view.images, Names{"c.bin"});
    EXPECT_EQ(w.view.fields.imageSoftwareVersion, "Unavailable");
    EXPECT_EQ(w.view.fields.imageHardwareVersion, "Unavailable");
}

TEST(MainWindowPorts, FirstOpenPortIsShownButOnlyAClickChangesTheIndex) {
    TempFolder folder;
    Window w([](int index) { return index == 2 || index == 4; });
    ASSERT_EQ(w.view.ports.size(), 2u);
    EXPECT_EQ(w.view.ports[0].name, "COM3");
    EXPECT_EQ(w.view.ports[1].device, "/dev/fake4");
    EXPECT_EQ(w.view.portRow, 0);
    // The port of a run: the version read probes none first.
    auto portOfARun = [&w] {
        w.model.OnReadVersion();
        return w.view.runs.back().portIndex;
    };
    EXPECT_EQ(portOfARun(), 0);
    w.model.OnPortSelected(1);
    EXPECT_EQ(portOfARun(), 4);
    w.model.OnPortSelected(-1);  // nothing selected: the index stays
    EXPECT_EQ(portOfARun(), 4);

    Window none([](int) { return false; });
    EXPECT_TRUE(none.view.ports.empty());
    EXPECT_EQ(none.view.portRow, -1);
}

TEST(MainWindowClosing, OkRefusesAFieldOverItsLimitButNotThePlaceholder) {
    TempFolder folder;
    Window w;
    ASSERT_EQ(w.view.fields.imageHardwareVersion, "Unavailable");  // 11 characters, limit 10
    EXPECT_TRUE(w.model.OnOk());
    EXPECT_TRUE(w.view.messages.empty());

    std::vector<std::uint8_t> block(kVersionBlockSize, 0);
    std::fill(block.begin() + 64, block.end(), 'S');  // 36 characters, over the limit of 20
    w.view.outcomes.push_back(test::Version(block));
    w.model.OnReadVersion();
    ASSERT_EQ(w.view.fields.receiverSoftwareVersion, std::string(36, 'S'));
    EXPECT_FALSE(w.model.OnOk());
    EXPECT_EQ(w.view.messages, Names{"Please enter no more than 20 characters."});
    EXPECT_EQ(w.view.focused, MainField::ReceiverSoftware);
}

TEST(MainWindowAbout, SystemCommandSixteenAndTheNoteButtonOpenTheAboutBox) {
    TempFolder folder;
    Window w;
    w.model.OnSysCommand(kAboutCommand | 0x3);
    w.model.OnSysCommand(0xF060);  // the close entry: default handling
    EXPECT_EQ(w.view.aboutShown, 1);
    w.model.OnNote();
    EXPECT_EQ(w.view.aboutShown, 2);
}

}  // namespace
}  // namespace tarven
