// What the window and tarven-link both know about image files and service
// access: the version texts stored inside software images, and the service
// passwords. What depends on the kind is in KindTable.h. Plain C++, so the
// command-line tool and the fuzzers share it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "KindTable.h"
#include "LinkConstants.h"

namespace tarven {

// ---------------------------------------------------------------- files

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

// ---------------------------------------------------------------- service access

// The access level a service password grants (exact, case-sensitive), or
// nullopt for a wrong password.
std::optional<AccessLevel> PasswordAccessLevel(std::string_view password);

// The same for a password as typed into the window's field, which turns
// letters to upper case before the comparison: "kolwe" is accepted.
std::optional<AccessLevel> TypedPasswordAccessLevel(std::string_view typed);

}  // namespace tarven
