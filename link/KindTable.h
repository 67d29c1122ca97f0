// Everything that depends on the image kind, one row per kind: the files the
// image list offers, what an upload sends to start, what a read-back asks for
// and where it writes, and who may read back. The window, tarven-link, the
// engine and the tests all read this table; no other file tests kind ranges.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "LinkConstants.h"

namespace tarven {

struct KindRules {
    ImageKind kind;
    std::string_view name;   // tarven-link's word for the kind
    std::string_view label;  // the caption of the kind's radio button
    // The image list offers files of exactly either size, in KB of 1,024
    // bytes. Both are 0 for the chip kinds, which take any file of 1 byte up
    // to upToKb whole KB.
    std::array<std::int32_t, 2> sizesKb;
    std::int32_t upToKb;
    bool versionTexts;               // a software image: its version texts show beside the list
    std::uint16_t startCode;         // at AccessLevel::Standard
    std::uint16_t serviceStartCode;  // at AccessLevel::Service and Full
    bool preamble;                   // 18 goes out, and 4 is awaited, before the start code
    // Nothing for the kinds the receiver cannot read back. kCodeStandBy is
    // only ever sent as a repeat, never at the start.
    std::optional<std::uint16_t> readBackRequest;
    std::string_view readBackFile;  // written into the working folder
    AccessLevel readBackLevel;      // Standard: any level enables the read-back button; else only this one
    int filesPerUpload;             // the two-file sequence sends two

    bool AcceptsSize(std::int64_t length) const;
    std::uint16_t StartCodeAt(AccessLevel level) const {
        return level == AccessLevel::Standard ? startCode : serviceStartCode;
    }
    bool ReadBackEnabledAt(AccessLevel level) const {
        return readBackLevel == AccessLevel::Standard || level == readBackLevel;
    }
};

// clang-format off
inline constexpr std::array<KindRules, kKindCount> kKindTable = {{
    // kind                         name        label                         sizes KB      up to versions start service preamble request       file            read-back              files
    {ImageKind::FactoryData,        "fdd",      "FDD (Factory Default Data)", {64, 30},     0,    false,   30,   30,     true,    32,           "Def_Data.bin", AccessLevel::Standard, 1},
    {ImageKind::UserData,           "ucd",      "UCD (User Created Data )",   {176, 112},   0,    false,   49,   49,     true,    51,           "UserData.bin", AccessLevel::Standard, 1},
    {ImageKind::Software,           "software", "Software",                   {2048, 1024}, 0,    true,    55,   55,     true,    kCodeStandBy, "main.bin",     AccessLevel::Full,     1},
    {ImageKind::FullImage,          "full",     "FDD + Software + UCD",       {2048, 1024}, 0,    true,    18,   54,     true,    kCodeStandBy, "main.bin",     AccessLevel::Full,     1},
    {ImageKind::SoftwareDataLoader, "loader",   "Software+ Data+ Loader",     {2048, 1024}, 0,    true,    34,   53,     true,    kCodeStandBy, "main.bin",     AccessLevel::Full,     1},
    {ImageKind::Chip,               "chip",     "CAM et @Nimbo Chip",         {0, 0},       64,   false,   36,   36,     false,   std::nullopt, "main.bin",     AccessLevel::Full,     1},
    {ImageKind::FullX,              "fullx",    "Enable FULL X",              {0, 0},       64,   false,   36,   36,     false,   std::nullopt, "main.bin",     AccessLevel::Full,     2},
}};
// clang-format on

// The row of a kind.
const KindRules& Rules(ImageKind kind);

// A kind as tarven-link takes it: its name in any letter case, or its id.
std::optional<ImageKind> ParseKind(std::string_view text);
// "software (11992)", for messages.
std::string KindNameAndId(ImageKind kind);
// "65536 or 30720 bytes", "1 to 66559 bytes".
std::string AcceptedSizesText(ImageKind kind);

// The row of a kind, or null for a kind made from a number outside the
// table: the exchanges then treat it as the chip kinds are treated (start
// code kCodeChipStart, no preamble, no read-back).
const KindRules* FindRules(ImageKind kind);

}  // namespace tarven
