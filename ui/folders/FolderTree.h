// The folder tree of the folder dialog: one root, "/", and below it the
// folders of the file system, listed only when their parent is expanded.
#pragma once

#include <QTreeWidget>

namespace tarven {

class FolderTree : public QTreeWidget {
    Q_OBJECT

public:
    // Picture indexes, kept on every item under kPictureRole.
    enum Picture { kClosedFolder = 0, kOpenFolder = 1 };
    static constexpr int kPictureRole = Qt::UserRole + 1;

    explicit FolderTree(QWidget* parent = nullptr);

    // Rebuilds the tree from the root and walks down `path`, expanding each
    // folder on the way, as far as the names match existing folders (letter
    // case counts). The deepest folder reached ends up selected.
    void SelectPath(const QString& path);

    // Replaces the children of `item` by the visible sub-folders of the
    // folder `path`, each probed one level down so that only folders with
    // sub-folders of their own get an expand button. A symbolic link to a
    // folder is listed but not probed, so it never gets one.
    void FillChildren(QTreeWidgetItem* item, const QString& path);

    // The full path an item stands for: "/" for the root, "/a/b" below it.
    static QString ItemPath(const QTreeWidgetItem* item);

signals:
    // A double-click on a folder without sub-folders: take it, as OK would.
    void okRequested();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QTreeWidgetItem* AddItem(QTreeWidgetItem* parent, const QString& name, int index);
    void SetPicture(QTreeWidgetItem* item, Picture picture);
    // What every expansion and collapse does, by the user or by SelectPath.
    void OnExpansion(QTreeWidgetItem* item, bool expanding);
    void ExpandFromCode(QTreeWidgetItem* item);

    QIcon pictures_[2];
    bool expandingFromCode_ = false;
};

}  // namespace tarven
