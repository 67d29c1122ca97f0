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

#include "ImageRules.h"
#include "LinkConstants.h"
#include "VersionBlock.h"

namespace tarven {

// ---------------------------------------------------------------- image files

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

// True when `path` names a pipe, a device or a socket: something a file
// cannot be received into without a write that may never return.
bool IsSpecialFile(const std::string& path);

// ---------------------------------------------------------------- kinds

// The three software kinds share their sizes and carry version texts.
bool IsSoftwareKind(int kind);

// A kind change among the software kinds keeps the list (and its selection).
bool KindChangeNeedsRefresh(int oldKind, int newKind);

// ---------------------------------------------------------------- version texts

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

}  // namespace tarven
