// What the window and tarven-link both know about image kinds and image
// files: the sizes a kind accepts, the version texts stored inside software
// images, which kinds can be read back and into which file, and the service
// passwords. Plain C++, so the command-line tool and the fuzzers share it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "LinkConstants.h"

namespace tarven {

// ---------------------------------------------------------------- sizes

// Accepted image sizes in KB (1,024 bytes), two rows indexed by kind index
// (kind - 11990). Kinds 0..4 accept a file of exactly either row's size; the
// chip kinds 5 and 6 do not use the table (see IsImageSizeAccepted).
inline constexpr std::array<std::array<int, kKindCount>, 2> kImageSizeTableKb = {{
    {64, 176, 2048, 2048, 2048, 64, 64},
    {30, 112, 1024, 1024, 1024, 64, 64},
}};
inline constexpr std::int64_t kChipMaxKb = 64;

// True when a file of `length` bytes fits the kind of this index. Chip kinds
// take any file of 1 to 66,559 bytes (at most 64 whole KB). An index outside
// 0..6 accepts nothing.
bool IsImageSizeAccepted(int kindIndex, std::int64_t length);

// The size of a regular file that can be opened for reading; nullopt for
// anything else (missing, unreadable, a folder named x.bin).
std::optional<std::int64_t> RegularFileSize(const std::string& path);

// ---------------------------------------------------------------- version records

// Records inside a software image that hold its version texts.
inline constexpr std::int64_t kSmallImageLength = 1048576;
inline constexpr int kVersionRecordRead = 1024;
inline constexpr std::size_t kSoftwareFieldOffset = 12;
inline constexpr std::size_t kSoftwareFieldLength = 16;
inline constexpr std::size_t kHardwareFieldOffset = 28;
inline constexpr std::size_t kHardwareFieldLength = 8;

struct RecordPositions {
    std::int64_t primary = 0;
    std::int64_t fallback = 0;
};
RecordPositions ImageVersionRecordPositions(std::int64_t fileLength);

// One version field: its last byte counts as zero, leading 0xFF bytes are
// fill, and the text runs to the next zero byte. Bytes beyond the record's
// end count as zero.
std::string ExtractVersionField(std::span<const std::uint8_t> record, std::size_t first, std::size_t length);

struct ImageVersions {
    std::string software;
    std::string hardware;
    bool operator==(const ImageVersions&) const = default;
};

// Both texts from the primary record, or both from the fallback record when
// the primary holds no software text.
ImageVersions ExtractImageVersions(std::span<const std::uint8_t> primary, std::span<const std::uint8_t> fallback);

// Reads both records of an image file; nullopt when it cannot be opened or
// is no regular file. Bytes past the end of the file read as zero.
std::optional<ImageVersions> ReadImageVersions(const std::string& path);

// ---------------------------------------------------------------- read-back

// The hidden read-back button follows the data kinds, or full service access.
bool ReadBackEnabled(int kind, AccessLevel level);

// The receiver only answers read-back requests for kinds 11990..11994.
bool ReadBackSupported(int kind);

// "Def_Data.bin", "UserData.bin", or "main.bin" for every other kind.
std::string ReadBackFileName(int kind);

// ---------------------------------------------------------------- service access

// The access level a service password grants (exact, case-sensitive), or
// nullopt for a wrong password.
std::optional<AccessLevel> PasswordAccessLevel(std::string_view password);

}  // namespace tarven
