// The two texts a receiver reports in its 100-byte version block.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "LinkConstants.h"

namespace tarven {

// The text from `offset` to its first zero byte, or to the end of the block.
std::string VersionBlockText(std::span<const std::uint8_t> block, int offset);

inline std::string HardwareVersion(std::span<const std::uint8_t> block) {
    return VersionBlockText(block, kVersionHardwareOffset);
}
inline std::string SoftwareVersion(std::span<const std::uint8_t> block) {
    return VersionBlockText(block, kVersionSoftwareOffset);
}

}  // namespace tarven
