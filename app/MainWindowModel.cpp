#include "MainWindowModel.h"

#include "CommandOutcomes.h"
#include "FolderPaths.h"

namespace tarven {

namespace {

// Exchange limits, checked when Enter closes the window. The fields are
// read-only, so the limits guard against texts from a receiver or an image
// file; the program's own placeholder "Unavailable" is one character over
// the image hardware limit and is not held against it, or Enter would ask the
// technician to shorten a text nobody can edit.
constexpr int kWorkFolderLimit = 256;
constexpr int kReceiverSoftwareLimit = 20;
constexpr int kImageHardwareLimit = 10;
constexpr int kImageSoftwareLimit = 20;
constexpr int kNoLimit = 0;

// The folder is UTF-8 text; the version fields hold one character per byte.
std::size_t FieldLength(MainField field, const std::string& text) {
    return field == MainField::WorkFolder ? CharacterCount(text) : text.size();
}

}  // namespace

PortProbe ProbeThrough(PortMap ports) {
    auto others = [ports] {
        std::vector<PortEntry> open;
        for (const std::string& name : ports.OtherPorts()) {
            const PortStatus status = ports.DescribeNamed(name);
            if (status.state == PortState::Available) open.push_back({name, status.device});
        }
        return open;
    };
    return {[ports](int index) { return ports.CanOpen(index); }, [ports](int index) { return ports.Device(index); },
            others, [](const std::string& device) { return AdapterDescription(device); }};
}

MainWindowModel::MainWindowModel(MainWindowView& view, ImageFiles& files, ProgramState& program, PortProbe ports)
    : view_(view),
      files_(files),
      program_(program),
      ports_(std::move(ports)),
      fields{{}, kUnavailableText, kUnavailableText, kUnavailableText, kUnavailableText},
      portSettings(DefaultPortSettings()) {}

void MainWindowModel::Start() {
    InitControls();
    RefreshImageList();
}

void MainWindowModel::InitControls() {
    view_.CheckKind(imageKind);
    FillPortList();
    fields.workFolder = files_.CurrentFolder();
    PushFields();
}

void MainWindowModel::FillPortList() {
    // Selecting here is the window's doing, not the technician's: the port
    // index stays as it is until someone picks an entry.
    portList_.clear();
    int chosenRow = 0;
    for (int index = 0; index < kPortCount; ++index) {
        if (!ports_.canOpen(index)) continue;
        portList_.push_back({PortNames[index], ports_.device(index)});
        if (index == portSettings.portIndex && portSettings.portName.empty())
            chosenRow = static_cast<int>(portList_.size()) - 1;
    }
    if (ports_.others)
        for (PortEntry& entry : ports_.others()) {
            portList_.push_back(std::move(entry));
            if (portList_.back().name == portSettings.portName) chosenRow = static_cast<int>(portList_.size()) - 1;
        }
    if (ports_.describe)
        for (PortEntry& entry : portList_) entry.description = ports_.describe(entry.device);
    view_.ShowPorts(portList_, portList_.empty() ? -1 : chosenRow);
}

void MainWindowModel::PushFields() { view_.ShowFields(fields); }

bool MainWindowModel::OnOk() {
    // The controls are read-only and show the fields, so reading them back
    // only checks the limits.
    struct Exchange {
        MainField field;
        const std::string& text;
        int limit;
    };
    const Exchange exchanges[] = {
        {MainField::WorkFolder, fields.workFolder, kWorkFolderLimit},
        {MainField::ReceiverSoftware, fields.receiverSoftwareVersion, kReceiverSoftwareLimit},
        {MainField::ReceiverHardware, fields.receiverHardwareVersion, kNoLimit},
        {MainField::ImageHardware, fields.imageHardwareVersion, kImageHardwareLimit},
        {MainField::ImageSoftware, fields.imageSoftwareVersion, kImageSoftwareLimit},
    };
    for (const Exchange& e : exchanges) {
        if (e.limit == kNoLimit || e.text == kUnavailableText) continue;
        if (FieldLength(e.field, e.text) > static_cast<std::size_t>(e.limit)) {
            view_.ShowMessage(FieldLimitText(e.limit));
            view_.FocusField(e.field);
            return false;
        }
    }
    return true;
}

void MainWindowModel::OnPortSelected(int row) {
    if (row < 0 || row >= static_cast<int>(portList_.size())) return;
    const std::string& name = portList_[row].name;
    const int index = PortIndexFromName(name);
    // A port beyond COM6 travels by its name; its index stays COM1's.
    portSettings.portIndex = index >= 0 ? index : 0;
    portSettings.portName = index >= 0 ? std::string() : name;
}

bool MainWindowModel::ChosenPortOpens() {
    const auto opens = [this] {
        if (portSettings.portName.empty()) return ports_.canOpen(portSettings.portIndex);
        if (!ports_.others) return false;
        for (const PortEntry& entry : ports_.others())
            if (entry.name == portSettings.portName) return true;
        return false;
    };
    if (opens()) return true;
    FillPortList();
    return opens();
}

void MainWindowModel::OnKindChanged(ImageKind checkedKind) {
    const ImageKind oldKind = imageKind;
    imageKind = checkedKind;
    // The software kinds (those with version texts) accept the same sizes:
    // among them the list and its selection stay.
    if (!(Rules(oldKind).versionTexts && Rules(imageKind).versionTexts)) RefreshImageList();
}

void MainWindowModel::RefreshImageList() {
    view_.EnableControl(MainControl::Update, true);
    files_.SetCurrentFolder(fields.workFolder);  // a failure lists whatever folder is current
    images_ = ListAcceptedImages(files_, imageKind);
    selectedImage_ = images_.empty() ? -1 : 0;
    view_.ShowImages(images_, selectedImage_);
    if (!images_.empty() && TwoFileKind() && images_.size() != 2) {
        view_.EnableControl(MainControl::Update, false);
        view_.ShowMessage(kFileCountText);
    }
    ShowImageVersions();
    view_.EnableControl(MainControl::ReadBack, Rules(imageKind).ReadBackEnabledAt(accessLevel));
    PushFields();
}

bool MainWindowModel::TwoFileKind() const { return Rules(imageKind).filesPerUpload == 2; }

void MainWindowModel::OnImageSelected(int row) {
    selectedImage_ = row >= 0 && row < static_cast<int>(images_.size()) ? row : -1;
    ShowImageVersions();
}

std::string MainWindowModel::ImageNameAt(int row) const {
    return row >= 0 && row < static_cast<int>(images_.size()) ? images_[row] : std::string();
}

std::string MainWindowModel::SelectedImageName() const { return ImageNameAt(selectedImage_); }

void MainWindowModel::ShowImageVersions() {
    const std::string name = SelectedImageName();
    if (!Rules(imageKind).versionTexts || name.empty()) {
        fields.imageSoftwareVersion = kUnavailableText;
        fields.imageHardwareVersion = kUnavailableText;
        PushFields();
        return;
    }
    const std::optional<ImageVersions> versions = files_.ReadImageVersions(name);
    if (!versions) {
        view_.ShowMessage(kFileOpenErrorText);
        return;
    }
    fields.imageSoftwareVersion = versions->software;
    fields.imageHardwareVersion = versions->hardware;
    PushFields();
}

void MainWindowModel::OnNote() { view_.ShowAbout(); }

void MainWindowModel::OnSysCommand(int command) {
    if ((command & 0xFFF0) == kAboutCommand) OnNote();
}

void MainWindowModel::OnChangeFolder() {
    const std::optional<std::string> folder = view_.AskFolder(fields.workFolder);
    if (!folder) return;
    fields.workFolder = *folder;
    PushFields();
    RefreshImageList();
}

}  // namespace tarven
