#include "PasswordModel.h"

#include <optional>

#include "CommandOutcomes.h"
#include "ImageRules.h"

namespace tarven {

void PasswordModel::OnOk(const std::string& typed) {
    const std::optional<AccessLevel> granted = PasswordAccessLevel(typed);
    if (!granted) {
        view_.ShowMessage(kPasswordIncorrectText);
        view_.Close(false);
        return;
    }
    level_ = *granted;
    view_.Close(true);
}

}  // namespace tarven
