// SHA-256, for the digest of every image a report line names: a factory can
// then tell afterwards exactly which image each receiver got.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarven::cli {

class Sha256 {
public:
    Sha256();
    void Add(const void* data, std::size_t size);
    // The digest as 64 lower-case hex digits; the object is spent afterwards.
    std::string HexDigest();

private:
    void Block(const std::uint8_t* block);
    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> pending_{};
    std::size_t pendingSize_ = 0;
    std::uint64_t totalBytes_ = 0;
};

std::string Sha256Hex(std::string_view bytes);

// The digest of a whole file and its length; nothing when it cannot be read.
struct FileDigest {
    long long bytes = 0;
    std::string sha256;
};
std::optional<FileDigest> DigestFile(const std::string& path);

}  // namespace tarven::cli
