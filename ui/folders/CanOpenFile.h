// Whether an existing file can be opened, asked before a read-back writes
// over it.
#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace tarven {

// Opens `path` as it exists (never creating or truncating it), for reading
// only when `readOnly` is set and for reading and writing otherwise, holding
// it exclusively, and closes it again at once. A null path answers false
// without trying. When the open fails and `report` is set, a message box
// shows the path as passed, a line feed and the cause, for the causes that
// FileErrorText knows; other causes fail silently.
bool CanOpenFile(const QString& path, bool readOnly, bool report, QWidget* parent = nullptr);

// The text that explains a failed open with `err` (an errno value), or
// nothing for a cause the user is not told about.
std::optional<QString> FileErrorText(int err);

}  // namespace tarven
