#include "OutcomeTexts.h"

#include <initializer_list>
#include <string_view>

namespace tarven {
namespace {

// The window's boxes after a transfer begin and end with a line break.
std::string Framed(std::initializer_list<std::string_view> lines) {
    std::string text = "\n";
    for (const std::string_view line : lines) (text += line) += '\n';
    return text;
}

}  // namespace

std::string OutcomeText(Outcome outcome) {
    switch (outcome) {
        case Outcome::UploadDone: return Framed({"Transfer Successfully!", kKeepPowerLine});
        case Outcome::ChipPageWait:
            return Framed({kChipPageWaitLine, std::string("Please click \"OK\" to continue once ") + kChipPageLine});
        case Outcome::UploadsDone: return Framed({kRebootLine});
        case Outcome::UploadError: return Framed({"Transfer Error, Please try again!"});
        case Outcome::ReadBackDone: return "Transfer Successfully!";
        case Outcome::ReadBackError: return Framed({"Transfer Error!, Please try again!"});
        case Outcome::UploadUnconfirmed:
            return Framed({"The line was disturbed during the transfer.",
                           "The receiver's copy of the image could not be confirmed: please check it, e.g. by "
                           "reading the versions, and send the image again if in doubt."});
    }
    return {};
}

}  // namespace tarven
