#include "KindTable.h"

#include <cctype>

namespace tarven {
namespace {

constexpr std::int64_t kKb = 1024;

// The table is indexed by kind - 11990: a row out of place would give one
// kind another's codes.
constexpr bool TableInKindOrder() {
    for (int i = 0; i < kKindCount; ++i)
        if (KindIndex(kKindTable[std::size_t(i)].kind) != i) return false;
    return true;
}
static_assert(TableInKindOrder());

bool SameWordAnyCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

bool KindRules::AcceptsSize(std::int64_t length) const {
    if (upToKb > 0) return length >= 1 && length / kKb <= upToKb;
    return length == sizesKb[0] * kKb || length == sizesKb[1] * kKb;
}

const KindRules& Rules(ImageKind kind) { return kKindTable[std::size_t(KindIndex(kind))]; }

std::optional<ImageKind> ParseKind(std::string_view text) {
    for (const KindRules& rules : kKindTable)
        if (SameWordAnyCase(text, rules.name) || text == std::to_string(KindId(rules.kind))) return rules.kind;
    return std::nullopt;
}

std::string KindNameAndId(ImageKind kind) {
    return std::string(Rules(kind).name) + " (" + std::to_string(KindId(kind)) + ")";
}

std::string AcceptedSizesText(ImageKind kind) {
    const KindRules& rules = Rules(kind);
    if (rules.upToKb > 0) return "1 to " + std::to_string((rules.upToKb + 1) * kKb - 1) + " bytes";
    return std::to_string(rules.sizesKb[0] * kKb) + " or " + std::to_string(rules.sizesKb[1] * kKb) + " bytes";
}

const KindRules* FindRules(ImageKind kind) {
    return KnownKind(kind) ? &kKindTable[std::size_t(KindIndex(kind))] : nullptr;
}

}  // namespace tarven
