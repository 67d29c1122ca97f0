#include "ImageRules.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "ImageFile.h"

namespace tarven {
namespace {

// Exact, case-sensitive: the window's field has already turned letters to upper case.
constexpr std::pair<std::string_view, AccessLevel> kServicePasswords[] = {
    {"RAPXMU", AccessLevel::Standard},
    {"KOLWE", AccessLevel::Service},
    {"TREVSAN", AccessLevel::Full},
};

// Reads up to `out.size()` bytes at `offset`; what the file does not hold stays zero.
void ReadAt(const ImageFile& file, std::int64_t offset, std::span<std::uint8_t> out) {
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    std::size_t done = 0;
    while (done < out.size()) {
        const std::int64_t got = file.ReadAt(offset + std::int64_t(done), out.data() + done, out.size() - done);
        if (got <= 0) break;
        done += std::size_t(got);
    }
}

}  // namespace

std::optional<std::int64_t> RegularFileSize(const std::string& path) {
    const ImageFile file = OpenImage(path);
    if (!file.IsOpen()) return std::nullopt;
    return file.Size();
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
    const ImageFile file = OpenImage(path);
    if (!file.IsOpen()) return std::nullopt;
    const RecordPositions at = ImageVersionRecordPositions(file.Size());
    std::array<std::uint8_t, kVersionRecordRead> fallback{};
    std::array<std::uint8_t, kVersionRecordRead> primary{};
    ReadAt(file, at.fallback, fallback);
    ReadAt(file, at.primary, primary);
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
