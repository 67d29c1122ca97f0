#include "FolderTree.h"

#include "FolderMessages.h"
#include "FolderPaths.h"

#include <QBitmap>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>

// Q_INIT_RESOURCE must be used outside any namespace. The folder pictures
// live in a static library, whose resource initialiser the linker would
// otherwise be free to drop.
static void InitFolderResources() { Q_INIT_RESOURCE(folders); }

namespace tarven {

namespace {

const QString kRootText = QStringLiteral("/");

// The pictures are drawn on white, and white is their transparent colour.
QIcon LoadPicture(const QString& resource) {
    QPixmap pixmap(resource);
    if (!pixmap.isNull()) pixmap.setMask(pixmap.createMaskFromColor(Qt::white, Qt::MaskInColor));
    return QIcon(pixmap);
}

}  // namespace

FolderTree::FolderTree(QWidget* parent) : QTreeWidget(parent) {
    InitFolderResources();
    pictures_[kClosedFolder] = LoadPicture(QStringLiteral(":/folders/folder_closed.xpm"));
    pictures_[kOpenFolder] = LoadPicture(QStringLiteral(":/folders/folder_open.xpm"));

    setColumnCount(1);
    setHeaderHidden(true);
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    setRootIsDecorated(true);
    setIconSize(QSize(16, 15));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragEnabled(false);
    setDragDropMode(QAbstractItemView::NoDragDrop);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformRowHeights(true);

    connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
        if (!expandingFromCode_) OnExpansion(item, true);
    });
    connect(this, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* item) {
        if (!expandingFromCode_) OnExpansion(item, false);
    });
}

QString FolderTree::ItemPath(const QTreeWidgetItem* item) {
    QStringList names;
    for (const QTreeWidgetItem* it = item; it && it->parent(); it = it->parent()) names.prepend(it->text(0));
    return PathFromNames(names);
}

QTreeWidgetItem* FolderTree::AddItem(QTreeWidgetItem* parent, const QString& name, int index) {
    auto* item = new QTreeWidgetItem(QStringList{name});
    SetPicture(item, kClosedFolder);
    if (parent) {
        parent->insertChild(index, item);
    } else {
        insertTopLevelItem(index, item);
    }
    return item;
}

void FolderTree::SetPicture(QTreeWidgetItem* item, Picture picture) {
    item->setIcon(0, pictures_[picture]);
    item->setData(0, kPictureRole, int(picture));
}

void FolderTree::FillChildren(QTreeWidgetItem* item, const QString& path) {
    qDeleteAll(item->takeChildren());
    const QStringList names = ListSubfolders(path);
    // Probes are taken from the root without its own "/", so that the root's
    // child "usr" is probed as "/usr", not "//usr".
    const QString prefix = item->parent() ? path : QString();
    for (int i = 0; i < names.size(); ++i) {
        QTreeWidgetItem* child = AddItem(item, names[i], i);
        // A link to a folder is not looked into: it gets no expand button, so
        // no expansion can follow a link loop or wander into /proc through it.
        const QString childPath = prefix + QLatin1Char('/') + names[i];
        if (IsSymbolicLink(childPath)) continue;
        if (const std::optional<QString> inner = FirstSubfolder(childPath)) {
            AddItem(child, *inner, 0);
        }
    }
}

void FolderTree::OnExpansion(QTreeWidgetItem* item, bool expanding) {
    if (expanding) FillChildren(item, ItemPath(item));
    SetPicture(item, expanding && item->childCount() > 0 ? kOpenFolder : kClosedFolder);
    setCurrentItem(item);
}

void FolderTree::ExpandFromCode(QTreeWidgetItem* item) {
    OnExpansion(item, true);
    // The listing is done; the view only has to open the item, without
    // listing it a second time from its expansion signal.
    expandingFromCode_ = true;
    item->setExpanded(item->childCount() > 0);
    expandingFromCode_ = false;
}

void FolderTree::SelectPath(const QString& path) {
    ScopedWaitCursor waitCursor;
    clear();
    QTreeWidgetItem* current = AddItem(nullptr, kRootText, 0);
    // A stand-in child lets the root be expanded; the expansion lists the
    // real folders in its place.
    AddItem(current, kRootText, 0);
    ExpandFromCode(current);
    if (current->childCount() == 0) {
        setCurrentItem(current);
        return;
    }
    for (const QString& name : SplitFolderPath(path)) {
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < current->childCount() && !next; ++i) {
            if (current->child(i)->text(0) == name) next = current->child(i);
        }
        if (!next) break;
        ExpandFromCode(next);
        current = next;
        if (current->childCount() == 0) break;
    }
    setCurrentItem(current);
    scrollToItem(current);
}

void FolderTree::keyPressEvent(QKeyEvent* event) {
    // The view's own "*" expands everything below the item at once, listing
    // each folder of the whole file system below it; here it opens one level.
    if (event->key() == Qt::Key_Asterisk) {
        if (QTreeWidgetItem* item = currentItem()) item->setExpanded(true);
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void FolderTree::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeWidgetItem* item = itemAt(event->position().toPoint());
    if (item && item->childCount() == 0) {
        event->accept();
        emit okRequested();
        return;
    }
    QTreeWidget::mouseDoubleClickEvent(event);
}

}  // namespace tarven
