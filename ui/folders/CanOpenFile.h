// Whether an existing file can be opened, asked before a read-back writes
// over it; the question itself is the folder models' CanOpenFile.
#pragma once

#include "FileMessages.h"

#include <QString>

class QWidget;

namespace tarven {

// The model's CanOpenFile on the real file system, with its message boxes
// over `parent`. A null QString is the null path.
bool CanOpenFile(const QString& path, bool readOnly, bool report, QWidget* parent = nullptr);

}  // namespace tarven
