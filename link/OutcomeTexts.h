// What the technician is told when a command cannot start or has ended: the
// texts of the window's message boxes, and the lines tarven-link prints for
// the same outcomes. Every text is the program's own, used exactly as written.
#pragma once

#include <string>

namespace tarven {

// ---------------------------------------------------------------- before a run
inline constexpr char kReadVersionFirstText[] = "Please Read Version first!";
inline constexpr char kPortFailedText[] = "Fail to Open COM port!";
inline constexpr char kSelectFileText[] = "Please select a file first!";
inline constexpr char kPasswordIncorrectText[] = "Password incorrect!";
inline constexpr char kReadBackRefusedText[] = "Read-back is not available for this image kind.";
// Follows the name of a read-back target that is a pipe or a device.
inline constexpr char kNotRegularFileText[] = "\nNot a regular file !";

// ---------------------------------------------------------------- after a run
// Lines the window's boxes frame with line breaks and tarven-link prints alone.
inline constexpr char kKeepPowerLine[] = "Please keep the power while GOOD is not displayed on IRD.";
inline constexpr char kRebootLine[] = "Please do not power off the receiver before it reboots itself.";
// Between the two files of the two-file sequence; the window asks for OK, tarven-link for Enter.
inline constexpr char kChipPageWaitLine[] = "Please wait......";
inline constexpr char kChipPageLine[] = "the page of \"@Nimbo Chip Update\" appears on the TV.";

enum class Outcome {
    UploadDone,    // an upload of one file, or of a kind with one file
    ChipPageWait,  // the first of the two files went out
    UploadsDone,   // the second of the two files went out
    UploadError,
    ReadBackDone,
    ReadBackError,
    UploadUnconfirmed,  // after UploadDone or UploadsDone, when the engine doubts the receiver's copy
};

// The window's message box for an outcome.
std::string OutcomeText(Outcome outcome);

}  // namespace tarven
