// Everything that depends on the image kind, one row per kind: the files the
// image list offers, what an upload sends to start and what the receiver does
// once it is in, what a read-back asks for and where it writes, and who may
// read back. The window, tarven-link, the
// engine and the tests all read this table; no other file tests kind ranges.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "LinkConstants.h"

namespace tarven {

// What the receiver does once the last file of an upload is in, and so what
// the technician is told to wait for.
enum class AfterUpload {
    KeepPower,  // it checks the image and shows GOOD; the power must stay on until then
    Reboots,    // it restarts by itself
};

struct KindRules {
    ImageKind kind;
    std::string_view name;  // tarven-link's word for the kind
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
    AfterUpload afterUpload;

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
    // kind                         name        sizes KB      up to versions start service preamble request       file            read-back              files after
    {ImageKind::FactoryData,        "fdd",      {64, 30},     0,    false,   30,   30,     true,    32,           "Def_Data.bin", AccessLevel::Standard, 1,    AfterUpload::KeepPower},
    {ImageKind::UserData,           "ucd",      {176, 112},   0,    false,   49,   49,     true,    51,           "UserData.bin", AccessLevel::Standard, 1,    AfterUpload::KeepPower},
    {ImageKind::Software,           "software", {2048, 1024}, 0,    true,    55,   55,     true,    kCodeStandBy, "main.bin",     AccessLevel::Full,     1,    AfterUpload::KeepPower},
    {ImageKind::FullImage,          "full",     {2048, 1024}, 0,    true,    18,   54,     true,    kCodeStandBy, "main.bin",     AccessLevel::Full,     1,    AfterUpload::KeepPower},
    {ImageKind::SoftwareDataLoader, "loader",   {2048, 1024}, 0,    true,    34,   53,     true,    kCodeStandBy, "main.bin",     AccessLevel::Full,     1,    AfterUpload::KeepPower},
    {ImageKind::Chip,               "chip",     {0, 0},       64,   false,   36,   36,     false,   std::nullopt, "main.bin",     AccessLevel::Full,     1,    AfterUpload::KeepPower},
    {ImageKind::FullX,              "fullx",    {0, 0},       64,   false,   36,   36,     false,   std::nullopt, "main.bin",     AccessLevel::Full,     2,    AfterUpload::Reboots},
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
