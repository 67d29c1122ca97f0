#include "FolderPaths.h"

#include "FileSystem.h"

#include <algorithm>

namespace tarven {

namespace {

constexpr char kSeparator = kFolderSeparator;
constexpr bool kDriveLetters = kSeparator == '\\';
const std::string kEllipsis = "\xE2\x80\xA6";  // "…"

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The byte offsets at which the characters of `text` start, and its end.
std::vector<std::size_t> CharacterStarts(const std::string& text) {
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!IsContinuationByte(text[i])) starts.push_back(i);
    }
    starts.push_back(text.size());
    return starts;
}

char FoldCase(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

}  // namespace

std::vector<std::string> SplitFolderPath(const std::string& path) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(kSeparator, start);
        if (end == std::string::npos) end = path.size();
        if (end > start) names.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

bool StartsAtRoot(const std::string& path) {
    if (kDriveLetters) return path.size() >= 2 && path[1] == ':';
    return !path.empty() && path[0] == kSeparator;
}

std::string RootOfPath(const std::string& path) {
    if (!kDriveLetters) return std::string(1, kSeparator);
    const std::vector<std::string> parts = SplitFolderPath(path);
    return parts.empty() ? std::string() : parts.front();
}

std::vector<std::string> NamesBelowRoot(const std::string& path) {
    std::vector<std::string> names = SplitFolderPath(path);
    if (kDriveLetters && !names.empty()) names.erase(names.begin());
    return names;
}

std::string PathFromNames(const std::string& root, const std::vector<std::string>& namesBelowRoot) {
    std::string path = root;
    for (const std::string& name : namesBelowRoot) {
        if (path.empty() || path.back() != kSeparator) path += kSeparator;
        path += name;
    }
    return path;
}

std::string DropTrailingSeparator(const std::string& path) {
    if (path.size() > 1 && path.back() == kSeparator) return path.substr(0, path.size() - 1);
    return path;
}

std::string JoinFolderPath(const std::string& parent, const std::string& name) {
    std::string base = parent;
    if (!base.empty() && base.back() == kSeparator) base.pop_back();
    return base + kSeparator + name;
}

bool IsHiddenFolderName(const std::string& name) { return !name.empty() && name[0] == '.'; }

bool FolderNameLess(const std::string& a, const std::string& b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const auto x = static_cast<unsigned char>(FoldCase(a[i]));
        const auto y = static_cast<unsigned char>(FoldCase(b[i]));
        if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

std::vector<std::string> ListSubfolders(FileSystem& fileSystem, const std::string& folder) {
    std::vector<std::string> names;
    fileSystem.ListFolder(folder, [&](const FolderEntry& entry) {
        if (entry.isFolder && !IsHiddenFolderName(entry.name)) names.push_back(entry.name);
        return true;
    });
    std::sort(names.begin(), names.end(), FolderNameLess);
    return names;
}

std::optional<std::string> FirstSubfolder(FileSystem& fileSystem, const std::string& folder) {
    std::optional<std::string> found;
    fileSystem.ListFolder(folder, [&](const FolderEntry& entry) {
        if (entry.isFolder && !IsHiddenFolderName(entry.name)) found = entry.name;
        return !found;
    });
    return found;
}

std::size_t CharacterCount(const std::string& text) { return CharacterStarts(text).size() - 1; }

std::string LeftCharacters(const std::string& text, std::size_t count) {
    const std::vector<std::size_t> starts = CharacterStarts(text);
    return count + 1 >= starts.size() ? text : text.substr(0, starts[count]);
}

std::string ShortenPath(const std::string& path, const std::function<bool(const std::string&)>& fits) {
    if (fits(path)) return path;
    const std::size_t lastSeparator = path.find_last_of(kSeparator);
    const std::size_t tailStart = lastSeparator == std::string::npos ? 0 : lastSeparator;
    const std::string head = path.substr(0, tailStart);
    const std::string tail = path.substr(tailStart);
    // headStarts[k] is the length in bytes of the first k characters.
    const std::vector<std::size_t> headStarts = CharacterStarts(head);
    for (std::size_t kept = headStarts.size() - 1; kept-- > 1;) {
        const std::string candidate = head.substr(0, headStarts[kept]) + kEllipsis + tail;
        if (fits(candidate)) return candidate;
    }
    // Not even the last folder fits with a start: keep as much of its end.
    for (std::size_t from : CharacterStarts(tail)) {
        const std::string candidate = kEllipsis + tail.substr(from);
        if (fits(candidate)) return candidate;
    }
    return kEllipsis;
}

}  // namespace tarven
