#include "CliRules.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "ImageRules.h"
#include "VersionBlock.h"

namespace tarven::cli {
namespace {

struct KindInfo {
    ImageKind kind;
    const char* name;
};
constexpr std::array<KindInfo, kKindCount> kKinds = {{
    {KindFactoryData, "fdd"},
    {KindUserData, "ucd"},
    {KindSoftware, "software"},
    {KindFullImage, "full"},
    {KindSoftwareDataLoader, "loader"},
    {KindChip, "chip"},
    {KindFullX, "fullx"},
}};

bool HasFixedSizes(ImageKind kind) { return kind <= KindSoftwareDataLoader; }

// Bytes outside printable ASCII as \xHH and a backslash doubled: a receiver's
// text can then neither move the cursor nor pose as a line of the tool's own.
std::string EscapedForTerminal(const std::string& text) {
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\\') {
            shown += "\\\\";
        } else if (byte < 0x20 || byte > 0x7e) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", unsigned(byte));
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

std::string Lower(std::string text) {
    for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

std::optional<ImageKind> ParseKind(const std::string& text) {
    const std::string lower = Lower(text);
    for (const auto& info : kKinds) {
        if (lower == info.name || text == std::to_string(int(info.kind))) return info.kind;
    }
    return std::nullopt;
}

const char* KindName(ImageKind kind) {
    for (const auto& info : kKinds)
        if (info.kind == kind) return info.name;
    return "?";
}

std::string KindLabel(ImageKind kind) {
    return std::string(KindName(kind)) + " (" + std::to_string(int(kind)) + ")";
}

std::optional<AccessLevel> AccessLevelFromPassword(const std::string& password) {
    std::string upper = password;
    for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
    return PasswordAccessLevel(upper);
}

bool ImageSizeAccepted(ImageKind kind, std::uint64_t size) {
    return size <= std::uint64_t(INT64_MAX) && IsImageSizeAccepted(KindIndex(kind), std::int64_t(size));
}

std::string AcceptedSizesText(ImageKind kind) {
    if (HasFixedSizes(kind)) {
        const std::size_t i = std::size_t(KindIndex(kind));
        return std::to_string(kImageSizeTableKb[0][i] * 1024) + " or " + std::to_string(kImageSizeTableKb[1][i] * 1024) +
               " bytes";
    }
    return "1 to " + std::to_string((kChipMaxKb + 1) * 1024 - 1) + " bytes";
}

int FilesPerUpload(ImageKind kind) { return kind == KindFullX ? 2 : 1; }

std::string ReadBackRefusal(ImageKind kind, AccessLevel level) {
    if (!ReadBackSupported(kind)) return "the receiver has no read-back for kind " + KindLabel(kind);
    if (ReadBackEnabled(kind, level)) return {};
    return "reading back kind " + KindLabel(kind) + " needs the level-2 service password";
}

std::string DefaultReadBackFile(ImageKind kind) { return ReadBackFileName(kind); }

VersionTexts VersionTextsFromBlock(const std::array<std::uint8_t, kVersionBlockSize>& block) {
    return {EscapedForTerminal(HardwareVersion(block)), EscapedForTerminal(SoftwareVersion(block))};
}

}  // namespace tarven::cli
