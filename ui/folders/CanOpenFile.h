// Whether an existing file can be opened, asked before a read-back writes
// over it; the question itself is the folder models' CanOpenFile.
#pragma once

#include "FileMessages.h"

#include <QString>

class QWidget;

namespace tarven {

class MessageRoad;

// The model's CanOpenFile on the real file system, with its message boxes
// over `parent` through `messages`. A null QString is the null path.
bool CanOpenFile(const MessageRoad& messages, const QString& path, bool readOnly, bool report,
                 QWidget* parent = nullptr);

}  // namespace tarven
