// The main window's decisions: the technician's choices (port, image kind,
// working folder, image file, access level), the versions read from the
// receiver and found in the selected image, the image list and its size
// filter, and the four commands (update, version read, read-back, service
// access). It draws through MainWindowView and reaches files through
// ImageFiles, so it runs the same under any front end and in tests.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ImageFiles.h"
#include "LinkConstants.h"
#include "MainWindowView.h"
#include "PortMap.h"
#include "PortSettings.h"
#include "ProgramState.h"

namespace tarven {

// The window's menu entry that opens the About box (string 101, command 16).
inline constexpr const char* kAboutMenuText = "&About Veltra...";
inline constexpr int kAboutCommand = 16;

// The COM ports as the window sees them.
struct PortProbe {
    std::function<bool(int portIndex)> canOpen;  // opens and closes the port again
    std::function<std::string(int portIndex)> device;
    // The system's ports beyond COM1..COM6 that can be opened now; unset: none.
    std::function<std::vector<PortEntry>()> others{};
    // What the system says about the adapter behind a device; unset: nothing.
    std::function<std::string(const std::string& device)> describe{};
};
// The ports of `ports`, looked at whenever the window asks.
PortProbe ProbeThrough(PortMap ports);

class MainWindowModel {
public:
    // `program` is the program's own state, shared by every window of its run.
    MainWindowModel(MainWindowView& view, ImageFiles& files, ProgramState& program, PortProbe ports);

    // The window has been created: check the kind, list the ports, take the
    // current directory as the working folder, list its images.
    void Start();

    // Notifications, one per control event.
    void OnKindChanged(ImageKind checkedKind);
    void OnPortSelected(int row);  // -1: nothing selected
    // An adapter came or went: the list offers what can be opened now.
    void OnDevicesChanged() { FillPortList(); }
    void OnImageSelected(int row);  // -1: nothing selected
    // The OK command (Enter): false refuses to close, with the limit message.
    bool OnOk();
    void OnNote();
    void OnSysCommand(int command);  // 16 (any low four bits) is About
    void OnChangeFolder();
    void OnUpdateCommand();
    void OnReadVersion();
    void OnReadBack();
    void OnServiceAccess();

    // Lists the files of the working folder that fit the chosen kind.
    void RefreshImageList();
    // Fills the image version fields from the selected file.
    void ShowImageVersions();

    ImageKind Kind() const { return imageKind; }

private:
    void InitControls();
    void FillPortList();
    // Whether the chosen port opens; when it does not, the list is filled
    // again first, so an adapter plugged in since shows up.
    bool ChosenPortOpens();
    void PushFields();
    std::string SelectedImageName() const;
    std::string ImageNameAt(int row) const;
    // The kind whose upload sends the two listed files in turn.
    bool TwoFileKind() const;
    TransferOutcome RunTransfer(LinkMode mode, const std::string& fileName, AccessLevel level);

    MainWindowView& view_;
    ImageFiles& files_;
    ProgramState& program_;
    PortProbe ports_;
    std::vector<PortEntry> portList_;
    std::vector<std::string> images_;
    int selectedImage_ = -1;

    MainFields fields;
    std::string readBackFileName;
    AccessLevel accessLevel = AccessLevel::Standard;
    int fullXStep = 0;
    PortSettings portSettings;
    ImageKind imageKind = ImageKind::FullImage;
};

}  // namespace tarven
