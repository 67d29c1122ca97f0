// What the main window's model asks of whatever draws the window: a Qt
// dialog, a native one, or a test's recorder. The view holds no decisions:
// it draws what it is told, answers the questions with what the user chose,
// and forwards every notification to MainWindowModel.
//
// Texts are UTF-8, except the four version fields, which hold the bytes the
// receiver or the image file gave, one character per byte (Latin-1).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "LinkConstants.h"
#include "LinkSession.h"
#include "TransferModel.h"  // TransferOutcome: how the progress dialog's run ended

namespace tarven {

// The controls whose enabled state the model keeps.
enum class MainControl {
    Update,         // 11971 "Mise a jour"
    ReadBack,       // 11974 " Reprenez" (created hidden; its state is kept all the same)
    ServiceAccess,  // 11977 "Mot de passe"
    LoaderKind,     // radio 11994 "Software+ Data+ Loader"
};

// The fields the window shows, in the order the OK command reads them back.
enum class MainField { WorkFolder, ReceiverSoftware, ReceiverHardware, ImageHardware, ImageSoftware };

struct MainFields {
    std::string workFolder;               // label 11975
    std::string receiverSoftwareVersion;  // edit 1000
    std::string receiverHardwareVersion;  // edit 1001
    std::string imageHardwareVersion;     // edit 1008
    std::string imageSoftwareVersion;     // edit 1007
};

// One entry of the port list 11973: its name ("COM1".."COM6", or the
// system's own beyond them) and, for a tooltip or a status line, the device
// behind it and what the system says about its adapter.
struct PortEntry {
    std::string name;
    std::string device;
    std::string description{};
};

// The overwrite-or-rename dialog's answer after OK.
struct OverwriteAnswer {
    bool rename = false;
    std::string newName;  // with rename: the name to write under
};

class MainWindowView {
public:
    virtual ~MainWindowView() = default;

    // Writes the fields into their controls.
    virtual void ShowFields(const MainFields& fields) = 0;
    // Checks the radio button of this kind and clears the other six.
    virtual void CheckKind(ImageKind kind) = 0;
    // Replaces the port list; selectedRow -1 selects nothing. Neither this
    // nor ShowImages reports a selection back: only the user's choices count.
    virtual void ShowPorts(const std::vector<PortEntry>& ports, int selectedRow) = 0;
    // Replaces the image list 11982 (unsorted, in the order given).
    virtual void ShowImages(const std::vector<std::string>& names, int selectedRow) = 0;
    virtual void EnableControl(MainControl control, bool enabled) = 0;
    // Gives the keyboard focus to a field's control (after a refused OK).
    virtual void FocusField(MainField field) = 0;
    // A modal message box with an OK button, a warning icon and the
    // application's title; returns once it is closed.
    virtual void ShowMessage(const std::string& text) = 0;

    // Runs the progress dialog modally for this run and returns how it ended.
    // The file name is relative to the current directory; a read-back's level
    // is always Standard, as only an upload hands the level over.
    virtual TransferOutcome RunTransfer(const RunRequest& request) = 0;
    // Runs the password dialog; the level it granted, or nothing on cancel.
    virtual std::optional<AccessLevel> AskPassword() = 0;
    // Runs the overwrite-or-rename dialog for an existing file; nothing on cancel.
    virtual std::optional<OverwriteAnswer> AskOverwrite(const std::string& fileName) = 0;
    // Runs the folder browser from `current`; the chosen folder, or nothing.
    virtual std::optional<std::string> AskFolder(const std::string& current) = 0;
    // Runs the About box modally.
    virtual void ShowAbout() = 0;
    // Calls MainWindowModel::OnUpdateCommand again once the current handler
    // has returned (the two-file sequence's second file).
    virtual void PostUpdateCommand() = 0;
};

}  // namespace tarven
