#include "CanOpenFile.h"

#include "FolderMessages.h"
#include "SystemFileSystem.h"

namespace tarven {

bool CanOpenFile(const MessageRoad& messages, const QString& path, bool readOnly, bool report, QWidget* parent) {
    WidgetMessages sink(messages, parent);
    const std::string name = ToPath(path);
    return CanOpenFile(SystemFileSystem(), path.isNull() ? nullptr : name.c_str(), readOnly, report, sink);
}

}  // namespace tarven
