#include "FolderTree.h"

#include "FolderMessages.h"

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

constexpr int kNodeRole = Qt::UserRole + 2;

// The pictures are drawn on white, and white is their transparent colour.
QIcon LoadPicture(const QString& resource) {
    QPixmap pixmap(resource);
    if (!pixmap.isNull()) pixmap.setMask(pixmap.createMaskFromColor(Qt::white, Qt::MaskInColor));
    return QIcon(pixmap);
}

class Showing {
public:
    explicit Showing(bool& flag) : flag_(flag), saved_(flag) { flag_ = true; }
    ~Showing() { flag_ = saved_; }

private:
    bool& flag_;
    bool saved_;
};

}  // namespace

FolderTree::FolderTree(QWidget* parent) : QTreeWidget(parent) {
    InitFolderResources();
    pictures_[int(FolderPicture::kClosed)] = LoadPicture(QStringLiteral(":/folders/folder_closed.xpm"));
    pictures_[int(FolderPicture::kOpen)] = LoadPicture(QStringLiteral(":/folders/folder_open.xpm"));

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

    auto report = [this](QTreeWidgetItem* item, bool expanding) {
        if (showing_ || !model_ || !NodeOf(item)) return;
        model_->OnExpanding(*NodeOf(item), expanding);
    };
    connect(this, &QTreeWidget::itemExpanded, this, [report](QTreeWidgetItem* item) { report(item, true); });
    connect(this, &QTreeWidget::itemCollapsed, this, [report](QTreeWidgetItem* item) { report(item, false); });
    connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        if (!showing_ && model_) model_->OnSelectionChanged(NodeOf(item));
    });
}

const FolderNode* FolderTree::NodeOf(const QTreeWidgetItem* item) {
    return item ? static_cast<const FolderNode*>(item->data(0, kNodeRole).value<const void*>()) : nullptr;
}

QTreeWidgetItem* FolderTree::ItemOf(const FolderNode* node) const {
    const auto found = items_.find(node);
    return found == items_.end() ? nullptr : found->second;
}

QTreeWidgetItem* FolderTree::AddItems(QTreeWidgetItem* parent, const FolderNode& node) {
    auto* item = new QTreeWidgetItem(QStringList{FromPath(node.name)});
    item->setIcon(0, pictures_[int(node.picture)]);
    item->setData(0, kNodeRole, QVariant::fromValue(static_cast<const void*>(&node)));
    items_[&node] = item;
    if (parent) {
        parent->addChild(item);
    } else {
        addTopLevelItem(item);
    }
    for (const auto& child : node.children) AddItems(item, *child);
    return item;
}

void FolderTree::ForgetBelow(QTreeWidgetItem* item) {
    // The model has let these nodes go; their addresses may come back for
    // new ones, so they leave the map before anything new is added.
    for (int i = 0; i < item->childCount(); ++i) {
        ForgetBelow(item->child(i));
        items_.erase(NodeOf(item->child(i)));
    }
}

void FolderTree::ShowTree(const FolderNode* root) {
    Showing showing(showing_);
    clear();
    items_.clear();
    if (root) AddItems(nullptr, *root);
}

void FolderTree::ShowChildren(const FolderNode& node) {
    QTreeWidgetItem* item = ItemOf(&node);
    if (!item) return;
    Showing showing(showing_);
    ForgetBelow(item);
    qDeleteAll(item->takeChildren());
    for (const auto& child : node.children) AddItems(item, *child);
}

void FolderTree::ShowPicture(const FolderNode& node) {
    if (QTreeWidgetItem* item = ItemOf(&node)) item->setIcon(0, pictures_[int(node.picture)]);
}

void FolderTree::ShowExpanded(const FolderNode& node, bool expanded) {
    Showing showing(showing_);
    if (QTreeWidgetItem* item = ItemOf(&node)) item->setExpanded(expanded);
}

void FolderTree::ShowSelected(const FolderNode* node) {
    Showing showing(showing_);
    QTreeWidgetItem* item = ItemOf(node);
    setCurrentItem(item);
    if (item) scrollToItem(item);
}

void FolderTree::ShowWaitCursor(bool on) { ShowWaitCursorOver(on); }

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
    if (model_ && model_->TakesDoubleClick(NodeOf(itemAt(event->position().toPoint())))) {
        event->accept();
        emit okRequested();
        return;
    }
    QTreeWidget::mouseDoubleClickEvent(event);
}

}  // namespace tarven
