// The window's rules that need no widget: which files fit an image kind,
// where a software image keeps its version texts, how the progress dialog
// words its counter and status line, and what the update command says when a
// run has ended. The dialogs call these; the tests check them directly.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <QString>

#include "LinkConstants.h"

namespace tarven {

// ---------------------------------------------------------------- image files

// Accepted image sizes in KB (1,024 bytes), two rows indexed by kind index
// (kind - 11990). Kinds 0..4 accept a file of exactly either row's size; the
// chip kinds 5 and 6 do not use the table (see IsImageSizeAccepted).
inline constexpr std::array<std::array<int, kKindCount>, 2> kImageSizeTableKb = {{
    {64, 176, 2048, 2048, 2048, 64, 64},
    {30, 112, 1024, 1024, 1024, 64, 64},
}};

// True when a file of `length` bytes fits the kind of this index. Chip kinds
// take any file of 1 to 66,559 bytes (at most 64 whole KB). An index outside
// 0..6 accepts nothing.
bool IsImageSizeAccepted(int kindIndex, std::int64_t length);

// Opens `path` (relative to the current directory) and checks its size. A
// file that cannot be opened, and anything that is not a regular file (a
// folder named x.bin), is not accepted.
bool IsImageFileAccepted(int kindIndex, const std::string& path);

// The "*.bi*" wildcard, without regard to letter case.
bool MatchesImageWildcard(std::string_view name);

// Names in `folder` matching the wildcard, in case-insensitive name order
// (names equal but for case keep a fixed byte order). Folders are listed too:
// the size check drops them.
std::vector<std::string> ListImageCandidates(const std::string& folder);

// Candidates of the current directory that pass IsImageFileAccepted.
std::vector<std::string> ListAcceptedImages(int kindIndex);

// ---------------------------------------------------------------- kinds

// The three software kinds share their sizes and carry version texts.
bool IsSoftwareKind(int kind);

// A kind change among the software kinds keeps the list (and its selection).
bool KindChangeNeedsRefresh(int oldKind, int newKind);

// The hidden read-back button follows the data kinds, or full service access.
bool ReadBackEnabled(int kind, AccessLevel level);

// The receiver only answers read-back requests for kinds 11990..11994.
bool ReadBackSupported(int kind);

// "Def_Data.bin", "UserData.bin", or "main.bin" for every other kind.
std::string ReadBackFileName(int kind);

// ---------------------------------------------------------------- version texts

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

// Reads both records of an image file; nullopt when it cannot be opened.
// Bytes past the end of the file read as zero.
std::optional<ImageVersions> ReadImageVersions(const std::string& path);

// A text of the receiver's version block: from `offset` to the first zero
// byte, or to the end of the block.
std::string VersionBlockText(std::span<const std::uint8_t> block, std::size_t offset);

// Version texts are single bytes per character, shown as Latin-1.
QString VersionText(const std::string& bytes);

// ---------------------------------------------------------------- progress dialog

// Totals of 10 KB and less, and the version query's 100, move only the bar.
bool ShowsTransferText(std::int64_t totalKb);

// The progress bar's range holds 16 bits; the counter keeps the full value.
int ProgressRangeMaximum(std::int64_t totalKb);

// "%4d/%4d KB".
QString FormatKbCounter(std::int64_t positionKb, std::int64_t totalKb);

// "Sending <name>...\n" or "Receiving <name>...\n".
QString FormatStatusLine(bool sending, const QString& fileName);

// ---------------------------------------------------------------- update command

// What the update command does once a run has ended.
struct UpdateOutcome {
    QString message;          // empty: no message box
    bool repeatCommand = false;  // the two-file sequence sends its second file
    bool resetStep = true;    // fullXStep back to 0
};

// runResult and cancelled as the progress dialog leaves them; fullXStep
// already counts the run that just ended.
UpdateOutcome DecideUpdateOutcome(int runResult, bool cancelled, int imageKind, int fullXStep);

// ---------------------------------------------------------------- service access

// The access level a service password grants (exact, case-sensitive), or
// nullopt for a wrong password.
std::optional<AccessLevel> PasswordAccessLevel(const QString& password);

}  // namespace tarven
