// The kind table against the receiver's and the window's rules, one row per
// kind, written out here independently of the table itself. The start codes
// and read-back requests are checked on the wire by UploadTest and ReadBackTest.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "ImageRules.h"
#include "KindTable.h"

namespace tarven {
namespace {

struct ExpectedKind {
    ImageKind kind;
    const char* name;
    std::vector<std::int64_t> accepted, refused;
    const char* sizesText;
    bool versions, readBack;            // version texts beside the list; a read-back exists
    std::array<bool, 3> buttonAtLevel;  // the read-back button at levels 0, 1, 2
    const char* readBackFile;
    int files;
    AfterUpload after;
};

// clang-format off
const ExpectedKind kExpected[] = {
    {ImageKind::FactoryData, "fdd", {65536, 30720}, {65537, 180224, 0}, "65536 or 30720 bytes", false, true,
     {true, true, true}, "Def_Data.bin", 1, AfterUpload::KeepPower},
    {ImageKind::UserData, "ucd", {180224, 114688}, {65536, 2097152}, "180224 or 114688 bytes", false, true,
     {true, true, true}, "UserData.bin", 1, AfterUpload::KeepPower},
    {ImageKind::Software, "software", {2097152, 1048576}, {2097151, 1048577, 65536}, "2097152 or 1048576 bytes",
     true, true, {false, false, true}, "main.bin", 1, AfterUpload::KeepPower},
    {ImageKind::FullImage, "full", {2097152, 1048576}, {66559}, "2097152 or 1048576 bytes", true, true,
     {false, false, true}, "main.bin", 1, AfterUpload::KeepPower},
    {ImageKind::SoftwareDataLoader, "loader", {2097152, 1048576}, {0}, "2097152 or 1048576 bytes", true, true,
     {false, false, true}, "main.bin", 1, AfterUpload::KeepPower},
    {ImageKind::Chip, "chip", {1, 30720, 65536, 66559}, {0, 66560}, "1 to 66559 bytes", false, false,
     {false, false, true}, "main.bin", 1, AfterUpload::KeepPower},
    {ImageKind::FullX, "fullx", {1, 65536, 66559}, {0, 66560}, "1 to 66559 bytes", false, false, {false, false, true},
     "main.bin", 2, AfterUpload::Reboots},
};
// clang-format on

TEST(KindTable, EveryKindFollowsItsRules) {
    const AccessLevel levels[] = {AccessLevel::Standard, AccessLevel::Service, AccessLevel::Full};
    for (const ExpectedKind& e : kExpected) {
        SCOPED_TRACE(e.name);
        const KindRules& rules = Rules(e.kind);
        EXPECT_EQ(rules.kind, e.kind);
        EXPECT_EQ(ParseKind(e.name), e.kind);
        EXPECT_EQ(ParseKind(std::to_string(KindId(e.kind))), e.kind);
        EXPECT_EQ(KindNameAndId(e.kind), std::string(e.name) + " (" + std::to_string(KindId(e.kind)) + ")");
        for (const std::int64_t size : e.accepted) EXPECT_TRUE(rules.AcceptsSize(size)) << size;
        for (const std::int64_t size : e.refused) EXPECT_FALSE(rules.AcceptsSize(size)) << size;
        EXPECT_EQ(AcceptedSizesText(e.kind), e.sizesText);
        EXPECT_EQ(rules.versionTexts, e.versions);
        EXPECT_EQ(rules.readBackRequest.has_value(), e.readBack);
        for (int level = 0; level < 3; ++level)
            EXPECT_EQ(rules.ReadBackEnabledAt(levels[level]), e.buttonAtLevel[std::size_t(level)]) << level;
        EXPECT_EQ(rules.readBackFile, e.readBackFile);
        EXPECT_EQ(rules.filesPerUpload, e.files);
        EXPECT_EQ(rules.afterUpload, e.after);
    }
    for (const char* bad : {"", "11997", "11989", "soft", "0x2ed6", " 11990"}) EXPECT_FALSE(ParseKind(bad)) << bad;
    EXPECT_EQ(ParseKind("Software"), ImageKind::Software);
    // A kind made from a number outside the table has no row.
    for (const std::int32_t id : {11989, 11997, 0}) EXPECT_EQ(FindRules(ImageKind(id)), nullptr) << id;
    EXPECT_EQ(FindRules(ImageKind::Chip), &Rules(ImageKind::Chip));
}

TEST(ServicePasswords, OnlyTheThreePasswordsAsTypedInAnyLetterCase) {
    EXPECT_EQ(TypedPasswordAccessLevel("RAPXMU"), AccessLevel::Standard);
    EXPECT_EQ(TypedPasswordAccessLevel("kolwe"), AccessLevel::Service);
    EXPECT_EQ(TypedPasswordAccessLevel("TrevSan"), AccessLevel::Full);
    EXPECT_FALSE(PasswordAccessLevel("kolwe"));  // the comparison itself is exact
    for (const char* bad : {"", "KOLWE ", " KOLWE", "KOLW", "TREVSAN2", "RAPX MU"})
        EXPECT_FALSE(TypedPasswordAccessLevel(bad)) << '"' << bad << '"';
}

}  // namespace
}  // namespace tarven
