// Version texts are cut out of whatever the receiver or an image file holds:
// any bytes at all must give a text that stays inside the block.
#include <cstdlib>

#include "ImageRules.h"
#include "VersionBlock.h"

using namespace tarven;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> block(data, size);
    for (int offset : {kVersionHardwareOffset, kVersionSoftwareOffset, 0, int(size), -1}) {
        const std::string text = VersionBlockText(block, offset);
        if (offset >= 0 && std::size_t(offset) < size && text.size() > size - std::size_t(offset)) std::abort();
        if (text.find('\0') != std::string::npos) std::abort();
    }
    // Image version records: the first half of the input is the primary
    // record, the rest the fallback; the texts never exceed their fields.
    const std::span<const std::uint8_t> primary = block.first(size / 2), fallback = block.subspan(size / 2);
    const ImageVersions versions = ExtractImageVersions(primary, fallback);
    if (versions.software.size() > kSoftwareFieldLength - 1 || versions.hardware.size() > kHardwareFieldLength - 1)
        std::abort();
    if (versions.software.find('\0') != std::string::npos || versions.hardware.find('\0') != std::string::npos)
        std::abort();
    return 0;
}
