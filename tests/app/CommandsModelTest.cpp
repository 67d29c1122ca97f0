// The main window's four commands through the model: their checks, the run
// each hands over, and what the technician is told afterwards.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <condition_variable>
#include <fstream>
#include <iterator>
#include <mutex>

#include "AppTestSupport.h"
#include "CommandOutcomes.h"
#include "LinkSession.h"
#include "PasswordModel.h"
#include "ScriptedPort.h"

namespace tarven {
namespace {

using test::Finished;
using test::TempFolder;
using test::Window;
using Names = std::vector<std::string>;

const std::string kSuccess = "\nTransfer Successfully!\nPlease keep the power while GOOD is not displayed on IRD.\n";
const std::string kPleaseWait =
    "\nPlease wait......\nPlease click \"OK\" to continue once the page of \"@Nimbo Chip Update\" appears on the TV.\n";
const std::string kReboot = "\nPlease do not power off the receiver before it reboots itself.\n";

TEST(UpdateCommand, SoftwareKindRemindsOnceThenUploads) {
    TempFolder folder;
    folder.File("soft.bin", 1048576);
    Window w;
    w.model.OnKindChanged(ImageKind::Software);
    w.model.OnUpdateCommand();
    EXPECT_EQ(w.view.messages, Names{"Please Read Version first!"});
    EXPECT_TRUE(w.view.runs.empty());

    w.view.outcomes.push_back(Finished(kResultSuccess));
    w.model.OnUpdateCommand();
    ASSERT_EQ(w.view.runs.size(), 1u);
    EXPECT_EQ(w.view.runs[0].mode, LinkMode::Upload);
    EXPECT_EQ(w.view.runs[0].fileName, "soft.bin");
    EXPECT_EQ(w.view.runs[0].kind, ImageKind::Software);
    EXPECT_EQ(w.view.messages.back(), kSuccess);

    // The reminder is given once per program, not once per window.
    Window another(test::OnlyComOne, &w.program);
    another.model.OnKindChanged(ImageKind::Software);
    another.model.OnUpdateCommand();
    EXPECT_EQ(another.view.runs.size(), 1u);
}

TEST(UpdateCommand, ChecksPortThenSelectionAndOtherKindsNeedNoReminder) {
    TempFolder folder;
    bool portOpens = false;
    Window w([&](int) { return portOpens; });
    auto& [view, files, program, model] = w;
    model.OnUpdateCommand();
    EXPECT_EQ(view.messages, Names{"Fail to Open COM port!"});

    portOpens = true;
    model.OnUpdateCommand();  // kind 11993, nothing listed
    EXPECT_EQ(view.messages.back(), "Please select a file first!");

    folder.File("full.bin", 2097152);
    model.RefreshImageList();
    view.outcomes.push_back(Finished(kResultSuccess));
    model.OnUpdateCommand();
    ASSERT_EQ(view.runs.size(), 1u);
    EXPECT_EQ(view.runs[0].kind, ImageKind::FullImage);
    EXPECT_EQ(view.messages.back(), kSuccess);
}

// A success the engine could not confirm gets a second box after the usual
// one; the confirmed success above gets none.
TEST(UpdateCommand, AnUnconfirmedSuccessAsksTheTechnicianToCheckTheReceiver) {
    TempFolder folder;
    folder.File("fdd.bin", 65536);
    Window w;
    w.model.OnKindChanged(ImageKind::FactoryData);
    w.view.outcomes.push_back(Finished(kResultSuccess, UploadDoubt::AckAfterRepeat));
    w.model.OnUpdateCommand();
    ASSERT_EQ(w.view.messages.size(), 2u);
    EXPECT_EQ(w.view.messages[0], kSuccess);
    EXPECT_NE(w.view.messages[1].find("The line was disturbed"), std::string::npos);
    EXPECT_NE(w.view.messages[1].find("reading the versions"), std::string::npos);
}

TEST(UpdateCommand, TwoFileSequenceRestartsAfterACancelAndResumesAfterAPortFailure) {
    TempFolder folder;
    folder.File("x1.bin", 500);
    folder.File("x2.bin", 600);
    bool portOpens = true;
    Window w([&](int) { return portOpens; });
    auto& [view, files, program, model] = w;
    model.OnKindChanged(ImageKind::FullX);
    model.OnImageSelected(1);  // the selection does not count
    model.OnUpdateCommand();   // cancelled: the sequence starts again with the first file
    EXPECT_EQ(view.posted, 0);

    view.outcomes = {Finished(kResultSuccess), Finished(kResultSuccess)};
    model.OnUpdateCommand();
    EXPECT_EQ(view.messages, Names{kPleaseWait});
    EXPECT_EQ(view.posted, 1);
    // The port goes away while the technician reads "Please wait"; the posted
    // command runs every check again.
    portOpens = false;
    model.OnUpdateCommand();  // the sequence stays at its second file
    EXPECT_EQ(view.messages.back(), "Fail to Open COM port!");

    portOpens = true;
    model.OnUpdateCommand();
    ASSERT_EQ(view.runs.size(), 3u);
    EXPECT_EQ(view.runs[0].fileName, "x1.bin");
    EXPECT_EQ(view.runs[1].fileName, "x1.bin");
    EXPECT_EQ(view.runs[2].fileName, "x2.bin");
    EXPECT_EQ(view.runs[2].kind, ImageKind::FullX);
    EXPECT_EQ(view.messages.back(), kReboot);
    EXPECT_EQ(view.posted, 1);
    model.OnUpdateCommand();  // done: a new sequence
    ASSERT_EQ(view.runs.size(), 4u);
    EXPECT_EQ(view.runs[3].fileName, "x1.bin");
}

TEST(VersionRead, ShowsTheReceiversTextsAndLiftsTheReminder) {
    TempFolder folder;
    Window w([](int) { return false; });
    w.model.OnReadVersion();  // cancelled
    ASSERT_EQ(w.view.runs.size(), 1u);
    EXPECT_EQ(w.view.runs[0].mode, LinkMode::VersionQuery);
    EXPECT_EQ(w.view.fields.receiverSoftwareVersion, "Unavailable");
    EXPECT_EQ(w.view.fields.receiverHardwareVersion, "Unavailable");

    w.view.outcomes.push_back(test::Version(std::vector<std::uint8_t>(kVersionBlockSize, 0)));
    w.model.OnReadVersion();
    EXPECT_EQ(w.view.fields.receiverSoftwareVersion, "");
    EXPECT_EQ(w.view.fields.receiverHardwareVersion, "");
    // An empty version is a version: a "Software" update goes straight to its checks.
    w.model.OnKindChanged(ImageKind::Software);
    w.model.OnUpdateCommand();
    EXPECT_EQ(w.view.messages, Names{"Fail to Open COM port!"});
}

struct FakePasswordView : PasswordView {
    std::vector<std::string> messages;
    std::optional<bool> closed;
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void Close(bool accepted) override { closed = accepted; }
};

TEST(ServiceAccess, AWrongPasswordIsToldAndClosesTheWindowAsCancelled) {
    // Which texts are passwords is the kind table's (tests/link/KindTableTest).
    const std::pair<const char*, std::optional<AccessLevel>> cases[] = {
        {"RAPXMU", AccessLevel::Standard}, {"KOLWE", AccessLevel::Service}, {"KOLWE ", std::nullopt}};
    for (const auto& [typed, level] : cases) {
        FakePasswordView view;
        PasswordModel model(view);
        model.OnOk(typed);
        EXPECT_EQ(view.closed, level.has_value()) << typed;
        EXPECT_EQ(view.messages, level ? Names{} : Names{"Password incorrect!"}) << typed;
        if (level) {
            EXPECT_EQ(model.Level(), *level) << typed;
        }
    }
}

TEST(ServiceAccess, AnAcceptedPasswordSetsTheLevelAndUsesUpTheButton) {
    TempFolder folder;
    Window w;
    w.model.OnKindChanged(ImageKind::Software);
    w.model.OnServiceAccess();  // refused or cancelled
    EXPECT_FALSE(w.view.enabled.count(MainControl::ServiceAccess));

    w.view.passwords.push_back(AccessLevel::Full);
    w.model.OnServiceAccess();
    EXPECT_FALSE(w.view.enabled.at(MainControl::ServiceAccess));
    EXPECT_TRUE(w.view.enabled.at(MainControl::LoaderKind));
    EXPECT_TRUE(w.view.enabled.at(MainControl::ReadBack));  // read-back for every kind now

    // Only an upload hands the level over.
    w.program.SetVersionReminderShown(true);
    folder.File("soft.bin", 1048576);
    w.model.RefreshImageList();
    w.model.OnReadBack();
    w.model.OnUpdateCommand();
    ASSERT_EQ(w.view.runs.size(), 2u);
    EXPECT_EQ(w.view.runs[0].level, AccessLevel::Standard);
    EXPECT_EQ(w.view.runs[1].level, AccessLevel::Full);
}

TEST(ReadBack, ExistingFileCanBeRenamedOrTheReadBackDropped) {
    TempFolder folder;
    folder.File("UserData.bin", 180224);
    Window w;
    w.model.OnKindChanged(ImageKind::UserData);
    w.model.OnReadBack();  // the overwrite question is cancelled
    EXPECT_EQ(w.view.overwriteAsked, Names{"UserData.bin"});
    EXPECT_TRUE(w.view.runs.empty());
    EXPECT_TRUE(w.view.messages.empty());

    w.view.overwrites.push_back({true, "copy.bin"});
    w.view.outcomes.push_back(Finished(kResultLengthMismatch));
    w.model.OnReadBack();
    ASSERT_EQ(w.view.runs.size(), 1u);
    EXPECT_EQ(w.view.runs[0].mode, LinkMode::ReadBack);
    EXPECT_EQ(w.view.runs[0].fileName, "copy.bin");
    EXPECT_EQ(w.view.messages, Names{"\nTransfer Error!, Please try again!\n"});
}

std::string FileText(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Hands on the result of the run's finishing event.
class FinishWatch final : public LinkNotifier {
public:
    void OnLinkEvent(const LinkEvent& event) override {
        if (const auto* finished = std::get_if<tarven::Finished>(&event)) {
            std::lock_guard lock(mutex_);
            result_ = finished->result;
            changed_.notify_all();
        }
    }
    void ShowMessageBox(const std::string&, std::stop_token) override {}
    std::optional<int> Wait() {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(20), [&] { return result_.has_value(); });
        return result_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<int> result_;
};

// The window's request played out on the real engine, against a receiver
// that announces one byte more than the 4,096 it sends.
TransferOutcome ReadBackFromShortReceiver(const RunRequest& request) {
    bool ended = false;
    auto port = std::make_unique<test::ScriptedPort>([&](const ParsedFrame& f, test::ScriptedPort& p) {
        if (f.kind != ParsedFrame::Kind::Command) return;
        if (f.code == 32) {
            std::vector<std::uint8_t> payload(4 + 4096, 'n');
            WriteBigEndian32(payload.data(), 4097);
            p.QueueCommand(kCodeReadBackReady);
            p.QueueData(payload);
        } else if (f.code == kCodeAck && !ended) {
            ended = true;
            p.QueueCommand(kCodeEndOfImage);
        }
    });
    LinkTime().SetSpeedUp(1000);
    FinishWatch watch;
    std::optional<int> result;
    {
        LinkSession session(request, LinkTime(), std::move(port));
        if (session.Start(&watch)) result = watch.Wait();
    }
    LinkTime().SetSpeedUp(1);
    return result ? Finished(*result) : TransferOutcome{};
}

TEST(ReadBack, AFailedReadBackAfterOverwriteLeavesTheOldFileAsItWas) {
    TempFolder folder;
    folder.File("Def_Data.bin", 30000, 100, "the copy already on disk");
    const std::string old = FileText("Def_Data.bin");
    Window w;
    w.model.OnKindChanged(ImageKind::FactoryData);
    w.view.overwrites.push_back({});  // "réécriture"
    w.view.runner = ReadBackFromShortReceiver;
    w.model.OnReadBack();
    ASSERT_EQ(w.view.runs.size(), 1u);
    EXPECT_EQ(w.view.runs[0].fileName, "Def_Data.bin");
    EXPECT_EQ(w.view.messages, Names{"\nTransfer Error!, Please try again!\n"});
    EXPECT_TRUE(FileText("Def_Data.bin") == old) << "the old file must stay byte for byte";
    EXPECT_TRUE(FileText("Def_Data.bin.partial") == std::string(4096, 'n')) << "what arrived is kept beside it";
}

TEST(ReadBack, NothingIsReceivedIntoAPipe) {
    TempFolder folder;
    ASSERT_EQ(::mkfifo("UserData.bin", 0600), 0);
    Window w;
    w.model.OnKindChanged(ImageKind::UserData);
    w.view.overwrites.push_back({});
    w.model.OnReadBack();
    EXPECT_TRUE(w.view.runs.empty());
    EXPECT_EQ(w.view.messages, Names{"UserData.bin\nNot a regular file !"});
}

TEST(ReadBack, ChipKindsAreRefusedWithoutARun) {
    TempFolder folder;
    Window w;
    w.model.OnKindChanged(ImageKind::Chip);
    w.model.OnReadBack();  // the hidden button is disabled here; full access would enable it
    EXPECT_TRUE(w.view.runs.empty());
    EXPECT_EQ(w.view.messages, Names{"Read-back is not available for this image kind."});
}

}  // namespace
}  // namespace tarven
