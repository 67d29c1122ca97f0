#include "CliRules.h"

#include <algorithm>
#include <cctype>

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

// Kilobyte counts of the two accepted sizes of kinds 11990..11994.
constexpr std::array<std::uint64_t, 5> kSizeRowA = {64, 176, 2048, 2048, 2048};
constexpr std::array<std::uint64_t, 5> kSizeRowB = {30, 112, 1024, 1024, 1024};
// The chip kinds take any file that rounds down to at most 64 KB.
constexpr std::uint64_t kChipMaxKb = 64;

bool HasFixedSizes(ImageKind kind) { return kind <= KindSoftwareDataLoader; }

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
    if (upper == "RAPXMU") return 0;
    if (upper == "KOLWE") return 1;
    if (upper == "TREVSAN") return 2;
    return std::nullopt;
}

bool ImageSizeAccepted(ImageKind kind, std::uint64_t size) {
    if (HasFixedSizes(kind)) {
        const std::size_t i = std::size_t(KindIndex(kind));
        return size == kSizeRowA[i] * 1024 || size == kSizeRowB[i] * 1024;
    }
    return size >= 1 && size / 1024 <= kChipMaxKb;
}

std::string AcceptedSizesText(ImageKind kind) {
    if (HasFixedSizes(kind)) {
        const std::size_t i = std::size_t(KindIndex(kind));
        return std::to_string(kSizeRowA[i] * 1024) + " or " + std::to_string(kSizeRowB[i] * 1024) + " bytes";
    }
    return "1 to " + std::to_string((kChipMaxKb + 1) * 1024 - 1) + " bytes";
}

int FilesPerUpload(ImageKind kind) { return kind == KindFullX ? 2 : 1; }

std::string ReadBackRefusal(ImageKind kind, AccessLevel level) {
    if (kind == KindFactoryData || kind == KindUserData) return {};
    if (kind == KindChip || kind == KindFullX)
        return "the receiver has no read-back for kind " + KindLabel(kind);
    if (level == 2) return {};
    return "reading back kind " + KindLabel(kind) + " needs the level-2 service password";
}

std::string DefaultReadBackFile(ImageKind kind) {
    if (kind == KindFactoryData) return "Def_Data.bin";
    if (kind == KindUserData) return "UserData.bin";
    return "main.bin";
}

VersionTexts VersionTextsFromBlock(const std::array<std::uint8_t, kVersionBlockSize>& block) {
    auto textAt = [&](std::size_t offset) {
        const auto begin = block.begin() + std::ptrdiff_t(offset);
        const auto end = std::find(begin, block.end(), std::uint8_t(0));
        return std::string(begin, end);
    };
    return {textAt(kVersionHardwareOffset), textAt(kVersionSoftwareOffset)};
}

}  // namespace tarven::cli
