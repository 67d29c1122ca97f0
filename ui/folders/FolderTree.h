// The folder tree's Qt view: draws the items of a FolderTreeModel and
// reports the user's expansions, selections and double-clicks to it.
#pragma once

#include "FolderTreeModel.h"

#include <QTreeWidget>

#include <unordered_map>

namespace tarven {

class FolderTree : public QTreeWidget, public FolderTreeView {
    Q_OBJECT

public:
    explicit FolderTree(QWidget* parent = nullptr);

    // The model this view reports to; set once, before anything is shown.
    void SetModel(FolderTreeModel* model) { model_ = model; }

    // The model's item an item of this view draws, or null.
    static const FolderNode* NodeOf(const QTreeWidgetItem* item);
    QTreeWidgetItem* ItemOf(const FolderNode* node) const;

    void ShowTree(const FolderNode* root) override;
    void ShowChildren(const FolderNode& node) override;
    void ShowPicture(const FolderNode& node) override;
    void ShowExpanded(const FolderNode& node, bool expanded) override;
    void ShowSelected(const FolderNode* node) override;
    void ShowWaitCursor(bool on) override;

signals:
    // A double-click the model takes as OK.
    void okRequested();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QTreeWidgetItem* AddItems(QTreeWidgetItem* parent, const FolderNode& node);
    void ForgetBelow(QTreeWidgetItem* item);

    FolderTreeModel* model_ = nullptr;
    QIcon pictures_[2];
    std::unordered_map<const FolderNode*, QTreeWidgetItem*> items_;
    // Set while the model changes the view, so Qt's signals of those changes
    // are not reported back as the user's.
    bool showing_ = false;
};

}  // namespace tarven
