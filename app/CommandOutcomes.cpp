#include "CommandOutcomes.h"

namespace tarven {

std::string FieldLimitText(int limit) { return "Please enter no more than " + std::to_string(limit) + " characters."; }

UpdateOutcome DecideUpdateOutcome(int runResult, bool cancelled, ImageKind kind, int fullXStep) {
    if (runResult == kResultSuccess) {
        const KindRules& rules = Rules(kind);
        if (fullXStep < rules.filesPerUpload) return {OutcomeText(Outcome::ChipPageWait), true, false};
        const Outcome done = rules.afterUpload == AfterUpload::Reboots ? Outcome::UploadsDone : Outcome::UploadDone;
        return {OutcomeText(done), false, true};
    }
    // A failed upload ends with result 0, like a cancel: only the technician's
    // own cancel stays silent.
    if (runResult == kResultLengthMismatch || (runResult == kResultFailure && !cancelled))
        return {OutcomeText(Outcome::UploadError), false, true};
    return {};
}

std::string ReadBackOutcomeText(int runResult) {
    if (runResult == kResultSuccess) return OutcomeText(Outcome::ReadBackDone);
    if (runResult == kResultLengthMismatch) return OutcomeText(Outcome::ReadBackError);
    return {};
}

}  // namespace tarven
