// What the main window's commands decide once a run has ended, and the
// window's own texts beside the outcome texts of link/OutcomeTexts.h.
#pragma once

#include <string>

#include "KindTable.h"
#include "LinkConstants.h"
#include "OutcomeTexts.h"

namespace tarven {

inline constexpr char kUnavailableText[] = "Unavailable";
inline constexpr char kFileCountText[] = "The number of the file is incorrect! Please check it";
inline constexpr char kFileOpenErrorText[] = "File open error";

// "Please enter no more than <limit> characters."
std::string FieldLimitText(int limit);

// What the update command does once a run has ended.
struct UpdateOutcome {
    std::string message;         // empty: no message box
    bool repeatCommand = false;  // the two-file sequence sends its second file
    bool resetStep = true;       // fullXStep back to 0
};

// runResult and cancelled as the progress dialog leaves them; fullXStep
// already counts the run that just ended.
UpdateOutcome DecideUpdateOutcome(int runResult, bool cancelled, ImageKind kind, int fullXStep);

// What the read-back command says once its run has ended; empty: nothing.
std::string ReadBackOutcomeText(int runResult);

}  // namespace tarven
