#include "VersionBlock.h"

#include <algorithm>

namespace tarven {

std::string VersionBlockText(std::span<const std::uint8_t> block, int offset) {
    if (offset < 0 || std::size_t(offset) >= block.size()) return {};
    const auto begin = block.begin() + offset;
    const auto end = std::find(begin, block.end(), std::uint8_t(0));
    return std::string(begin, end);
}

}  // namespace tarven
