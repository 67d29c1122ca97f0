// The window's rules, as tarven-link applies them before anything goes on the
// line: which kinds exist, which passwords raise the access level, which file
// sizes a kind accepts, which kinds may be read back, and where the result goes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "LinkConstants.h"

namespace tarven::cli {

// "fdd".."fullx" (any letter case) or the numbers 11990..11996.
std::optional<ImageKind> ParseKind(const std::string& text);
// Short name for messages: "software (11992)".
std::string KindLabel(ImageKind kind);
// The names as the command line accepts them, for the usage text.
const char* KindName(ImageKind kind);

// The window's password field turns typed letters to upper case before the
// comparison, so "kolwe" is accepted; any other text, empty included, is not.
std::optional<AccessLevel> AccessLevelFromPassword(const std::string& password);

// The image list's size filter for a kind.
bool ImageSizeAccepted(ImageKind kind, std::uint64_t size);
// "65536 or 30720 bytes", "1 to 66559 bytes".
std::string AcceptedSizesText(ImageKind kind);
// How many files an upload of this kind takes: 2 for fullx, 1 otherwise.
int FilesPerUpload(ImageKind kind);

// Empty when a read-back of `kind` is allowed at `level`, else the reason.
std::string ReadBackRefusal(ImageKind kind, AccessLevel level);
// The file a read-back writes when no --output is given.
std::string DefaultReadBackFile(ImageKind kind);

// The two texts of a 100-byte version block: from byte 32 (hardware) and
// byte 64 (software), each up to its first zero byte or the block's end, safe
// to print: bytes outside printable ASCII read \xHH, a backslash reads \\.
struct VersionTexts {
    std::string hardware;
    std::string software;
};
VersionTexts VersionTextsFromBlock(const std::array<std::uint8_t, kVersionBlockSize>& block);

}  // namespace tarven::cli
