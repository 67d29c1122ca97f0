// Paths and folder listings behind the folder tree and the new-folder dialog.
// Everything here is free of widgets so it can be checked on its own.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace tarven {

// The longest start folder the folder dialog keeps, and the longest path it
// walks to: the limits the tool has always had for a folder name.
inline constexpr int kStartPathLimit = 260;
inline constexpr int kWalkPathLimit = 259;

// The folder names of `path`, in order. A leading, trailing or doubled "/"
// gives no empty name.
QStringList SplitFolderPath(const QString& path);

// The path of a tree item from the names below the root: "/" for the root
// itself, "/a/b" for the folder b inside a.
QString PathFromNames(const QStringList& namesBelowRoot);

// Drops one trailing "/" so that "/home/" and "/home" name the same start
// folder. The root keeps its "/": it has no other way to be written.
QString DropTrailingSeparator(const QString& path);

// The path of `name` inside `parent`: one "/" between them whether or not
// the parent ends with one, so the root gives "/name", never "//name".
// The name is used as typed, even when empty.
QString JoinFolderPath(const QString& parent, const QString& name);

// True for names the tree never shows: ".", "..", and hidden folders.
bool IsHiddenFolderName(const QString& name);

// The visible sub-folders of `folder` in the tree's order (letter case
// ignored, ties broken by case so the order is stable). Symbolic links to
// folders count as folders. An unreadable folder gives an empty list.
QStringList ListSubfolders(const QString& folder);

// The first visible sub-folder that a listing of `folder` meets, in the
// file system's own order, or nothing. Stops reading at the first one: this
// is the cheap look one level down that tells the tree whether a folder gets
// an expand button.
std::optional<QString> FirstSubfolder(const QString& folder);

// True when `path` itself is a symbolic link (to a folder or anything else).
bool IsSymbolicLink(const QString& path);

// The tree's order of sibling names.
bool FolderNameLess(const QString& a, const QString& b);

}  // namespace tarven
