#include "ImageRules.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <utility>

namespace tarven {
namespace {

// Exact, case-sensitive: the window's field has already turned letters to upper case.
constexpr std::pair<std::string_view, AccessLevel> kServicePasswords[] = {
    {"RAPXMU", AccessLevel::Standard},
    {"KOLWE", AccessLevel::Service},
    {"TREVSAN", AccessLevel::Full},
};

// Reads up to `size` bytes at `offset`; what the file does not hold stays zero.
void ReadAt(int fd, std::int64_t offset, std::span<std::uint8_t> out) {
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t got = pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
}

// Opens a regular file for reading; -1 for anything else.
int OpenRegularFile(const std::string& path, std::int64_t* length) {
    // A FIFO or a device named like an image is never opened: the open alone
    // could wait for a writer or act on the device. Non-blocking as well, for
    // one swapped in after the look; a regular file reads the same either way.
    struct stat before {};
    if (stat(path.c_str(), &before) != 0 || !S_ISREG(before.st_mode)) return -1;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    *length = st.st_size;
    return fd;
}

}  // namespace

std::optional<std::int64_t> RegularFileSize(const std::string& path) {
    std::int64_t length = 0;
    const int fd = OpenRegularFile(path, &length);
    if (fd < 0) return std::nullopt;
    close(fd);
    return length;
}

RecordPositions ImageVersionRecordPositions(std::int64_t fileLength) {
    if (fileLength == kSmallImageLength) return {913328, 917296};
    return {1761200, 1892272};
}

std::string ExtractVersionField(std::span<const std::uint8_t> record, std::size_t first, std::size_t length) {
    if (length == 0) return {};
    // The field's last byte always ends the text, whatever the file holds there.
    const std::size_t last = first + length - 1;
    auto at = [&](std::size_t i) -> std::uint8_t { return (i < record.size() && i < last) ? record[i] : 0; };
    std::size_t start = first;
    while (start < last && at(start) == 0xFF) ++start;
    std::string text;
    for (std::size_t i = start; i < last && at(i) != 0; ++i) text.push_back(static_cast<char>(at(i)));
    return text;
}

ImageVersions ExtractImageVersions(std::span<const std::uint8_t> primary, std::span<const std::uint8_t> fallback) {
    std::string software = ExtractVersionField(primary, kSoftwareFieldOffset, kSoftwareFieldLength);
    std::span<const std::uint8_t> hardwareRecord = primary;
    if (software.empty()) {
        software = ExtractVersionField(fallback, kSoftwareFieldOffset, kSoftwareFieldLength);
        hardwareRecord = fallback;
    }
    return {software, ExtractVersionField(hardwareRecord, kHardwareFieldOffset, kHardwareFieldLength)};
}

std::optional<ImageVersions> ReadImageVersions(const std::string& path) {
    std::int64_t length = 0;
    const int fd = OpenRegularFile(path, &length);
    if (fd < 0) return std::nullopt;
    const RecordPositions at = ImageVersionRecordPositions(length);
    std::array<std::uint8_t, kVersionRecordRead> fallback{};
    std::array<std::uint8_t, kVersionRecordRead> primary{};
    ReadAt(fd, at.fallback, fallback);
    ReadAt(fd, at.primary, primary);
    close(fd);
    return ExtractImageVersions(primary, fallback);
}


std::optional<AccessLevel> PasswordAccessLevel(std::string_view password) {
    for (const auto& [text, level] : kServicePasswords)
        if (password == text) return level;
    return std::nullopt;
}

std::optional<AccessLevel> TypedPasswordAccessLevel(std::string_view typed) {
    std::string upper(typed);
    for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
    return PasswordAccessLevel(upper);
}

}  // namespace tarven
