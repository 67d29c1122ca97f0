// Paths, names and folder listings behind the folder tree and the new-folder
// flow. Paths are the platform's: on POSIX one root, "/", and "/" between
// names; on Windows a drive ("C:") as the root and "\\" between names.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarven {

class FileSystem;

// The longest start folder the folder browser keeps, and the longest path it
// walks to, in characters: the limits the tool has always had for a path.
inline constexpr std::size_t kStartPathLimit = 260;
inline constexpr std::size_t kWalkPathLimit = 259;

#ifdef _WIN32
inline constexpr char kFolderSeparator = '\\';
#else
inline constexpr char kFolderSeparator = '/';
#endif

// The folder names of `path`, in order. A leading, trailing or doubled
// separator gives no empty name.
std::vector<std::string> SplitFolderPath(const std::string& path);

// True for a path the folder browser can walk: one that starts at "/", or on
// Windows with a drive and a colon.
bool StartsAtRoot(const std::string& path);

// The text of the tree's root item for `path` ("/", or its drive "C:"), and
// the names of the folders below that root.
std::string RootOfPath(const std::string& path);
std::vector<std::string> NamesBelowRoot(const std::string& path);

// The path of a tree item from its root and the names below it: the root
// alone for the root itself, "/a/b" or "C:\\a\\b" for the folder b inside a.
std::string PathFromNames(const std::string& root, const std::vector<std::string>& namesBelowRoot);

// Drops one trailing "/" so that "/home/" and "/home" name the same start
// folder. The root keeps its "/": it has no other way to be written.
std::string DropTrailingSeparator(const std::string& path);

// The path of `name` inside `parent`: one "/" between them whether or not
// the parent ends with one, so the root gives "/name", never "//name".
// The name is used as typed, even when empty.
std::string JoinFolderPath(const std::string& parent, const std::string& name);

// True for names the tree never shows: ".", "..", and hidden folders.
bool IsHiddenFolderName(const std::string& name);

// The tree's order of sibling names: letter case ignored, ties broken by
// case so the order is stable.
bool FolderNameLess(const std::string& a, const std::string& b);

// The visible sub-folders of `folder` in the tree's order. An unreadable
// folder gives an empty list.
std::vector<std::string> ListSubfolders(FileSystem& fileSystem, const std::string& folder);

// The first visible sub-folder that a listing of `folder` meets, in the
// file system's own order, or nothing. Stops reading at the first one: this
// is the cheap look one level down that tells the tree whether a folder gets
// an expand button.
std::optional<std::string> FirstSubfolder(FileSystem& fileSystem, const std::string& folder);

// Characters (not bytes) of UTF-8 text, and its first `count` characters.
std::size_t CharacterCount(const std::string& text);
std::string LeftCharacters(const std::string& text, std::size_t count);

// `path` as a line of limited width shows it: whole when `fits` says it
// fits, otherwise its start, "…", and its last folder, giving up start
// before the last folder and, only when even that does not fit, the start
// of the last folder too.
std::string ShortenPath(const std::string& path, const std::function<bool(const std::string&)>& fits);

}  // namespace tarven
