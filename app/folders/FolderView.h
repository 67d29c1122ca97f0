// What every folder dialog's view does for its model, whatever toolkit draws
// it: show a message box and close with a result. Each dialog's own view
// interface adds its controls to this.
#pragma once

#include <string>

namespace tarven {

// How a folder dialog ends, as its modal run returns it.
enum class FolderDialogResult { kOk = 1, kCancel = 2 };

// Shows a message box with the application's title and an OK button, and
// returns once it is closed.
class FolderMessageSink {
public:
    virtual ~FolderMessageSink() = default;
    virtual void ShowMessage(const std::string& text) = 0;
};

class FolderDialogView : public FolderMessageSink {
public:
    // Ends the dialog's modal run with `result`.
    virtual void Close(FolderDialogResult result) = 0;
};

}  // namespace tarven
