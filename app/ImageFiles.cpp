#include "ImageFiles.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "FileSystem.h"

namespace tarven {

namespace {

namespace fs = std::filesystem;

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// Case-insensitive order first; names equal but for case fall back to bytes
// so the order never depends on the directory's own order.
bool NameLess(const std::string& a, const std::string& b) {
    const auto lowerLess = [](char x, char y) { return Lower(x) < Lower(y); };
    if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), lowerLess)) return true;
    if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), lowerLess)) return false;
    return a < b;
}

fs::path PathOf(const std::string& name) { return fs::path(std::u8string(name.begin(), name.end())); }

std::string TextOf(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace

bool MatchesImageWildcard(std::string_view name) {
    static constexpr std::string_view kStem = ".bi";
    for (std::size_t i = 0; i + kStem.size() <= name.size(); ++i) {
        if (Lower(name[i]) == kStem[0] && Lower(name[i + 1]) == kStem[1] && Lower(name[i + 2]) == kStem[2]) return true;
    }
    return false;
}

std::vector<std::string> ListImageCandidates(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    // A listing that fails part-way keeps what it found: an exception here
    // would end the window.
    for (fs::directory_iterator it(PathOf(folder), ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = TextOf(it->path().filename());
        if (MatchesImageWildcard(name)) names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end(), NameLess);
    return names;
}

std::vector<std::string> ListAcceptedImages(ImageFiles& files, ImageKind kind) {
    std::vector<std::string> names = files.ImageCandidates();
    std::erase_if(names, [&](const std::string& name) {
        const std::optional<std::int64_t> length = files.RegularFileSize(name);
        return !length || !Rules(kind).AcceptsSize(*length);
    });
    return names;
}

std::string LocalImageFiles::CurrentFolder() { return system_.CurrentFolder(); }

bool LocalImageFiles::SetCurrentFolder(const std::string& folder) { return system_.SetCurrentFolder(folder); }

std::vector<std::string> LocalImageFiles::ImageCandidates() { return ListImageCandidates("."); }

std::optional<std::int64_t> LocalImageFiles::RegularFileSize(const std::string& name) {
    return tarven::RegularFileSize(name);
}

std::optional<ImageVersions> LocalImageFiles::ReadImageVersions(const std::string& name) {
    return tarven::ReadImageVersions(name);
}

bool LocalImageFiles::CanOpenForReading(const std::string& name) {
    return system_.TryOpenFile(name, true) == FileOpenError::kNone;
}

bool LocalImageFiles::IsSpecialFile(const std::string& name) {
    std::error_code ec;
    const fs::file_status st = fs::status(PathOf(name), ec);
    if (ec) return false;
    return fs::is_fifo(st) || fs::is_character_file(st) || fs::is_block_file(st) || fs::is_socket(st);
}

}  // namespace tarven
