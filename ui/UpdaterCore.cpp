#include "UpdaterCore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace tarven {

namespace {

constexpr std::int64_t kKb = 1024;
constexpr std::int64_t kChipMaxKb = 64;

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// Case-insensitive order first; names equal but for case fall back to bytes
// so the order never depends on the directory's own order.
bool NameLess(const std::string& a, const std::string& b) {
    const auto cmp = std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                                  [](char x, char y) { return Lower(x) < Lower(y); });
    if (cmp) return true;
    const auto rev = std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(),
                                                  [](char x, char y) { return Lower(x) < Lower(y); });
    if (rev) return false;
    return a < b;
}

// Reads up to `size` bytes at `offset`; what the file does not hold stays zero.
void ReadAt(int fd, std::int64_t offset, std::span<std::uint8_t> out) {
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t got = pread(fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
}

// Opens a regular file for reading; -1 for anything else.
int OpenRegularFile(const std::string& path, std::int64_t* length) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    *length = st.st_size;
    return fd;
}

}  // namespace

bool IsImageSizeAccepted(int kindIndex, std::int64_t length) {
    if (kindIndex < 0 || kindIndex >= kKindCount) return false;
    if (kindIndex >= KindIndex(KindChip)) return length >= 1 && length / kKb <= kChipMaxKb;
    return length == kImageSizeTableKb[0][kindIndex] * kKb || length == kImageSizeTableKb[1][kindIndex] * kKb;
}

bool IsImageFileAccepted(int kindIndex, const std::string& path) {
    std::int64_t length = 0;
    const int fd = OpenRegularFile(path, &length);
    if (fd < 0) return false;
    close(fd);
    return IsImageSizeAccepted(kindIndex, length);
}

bool MatchesImageWildcard(std::string_view name) {
    static constexpr std::string_view kStem = ".bi";
    if (name.size() < kStem.size()) return false;
    for (std::size_t i = 0; i + kStem.size() <= name.size(); ++i) {
        if (Lower(name[i]) == kStem[0] && Lower(name[i + 1]) == kStem[1] && Lower(name[i + 2]) == kStem[2]) return true;
    }
    return false;
}

std::vector<std::string> ListImageCandidates(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec) return names;
    for (const auto& entry : it) {
        std::string name = entry.path().filename().string();
        if (MatchesImageWildcard(name)) names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end(), NameLess);
    return names;
}

std::vector<std::string> ListAcceptedImages(int kindIndex) {
    std::vector<std::string> names = ListImageCandidates(".");
    std::erase_if(names, [kindIndex](const std::string& name) { return !IsImageFileAccepted(kindIndex, name); });
    return names;
}

bool IsSoftwareKind(int kind) { return kind >= KindSoftware && kind <= KindSoftwareDataLoader; }

bool KindChangeNeedsRefresh(int oldKind, int newKind) { return !(IsSoftwareKind(oldKind) && IsSoftwareKind(newKind)); }

bool ReadBackEnabled(int kind, AccessLevel level) {
    return kind == KindFactoryData || kind == KindUserData || level == 2;
}

bool ReadBackSupported(int kind) { return kind >= KindFactoryData && kind <= KindSoftwareDataLoader; }

std::string ReadBackFileName(int kind) {
    switch (kind) {
        case KindFactoryData: return "Def_Data.bin";
        case KindUserData: return "UserData.bin";
        default: return "main.bin";
    }
}

RecordPositions ImageVersionRecordPositions(std::int64_t fileLength) {
    if (fileLength == kSmallImageLength) return {913328, 917296};
    return {1761200, 1892272};
}

std::string ExtractVersionField(std::span<const std::uint8_t> record, std::size_t first, std::size_t length) {
    if (length == 0) return {};
    // The field's last byte always ends the text, whatever the file holds there.
    const std::size_t last = first + length - 1;
    auto at = [&](std::size_t i) -> std::uint8_t { return (i < record.size() && i < last) ? record[i] : 0; };
    std::size_t start = first;
    while (start < last && at(start) == 0xFF) ++start;
    std::string text;
    for (std::size_t i = start; i < last && at(i) != 0; ++i) text.push_back(static_cast<char>(at(i)));
    return text;
}

ImageVersions ExtractImageVersions(std::span<const std::uint8_t> primary, std::span<const std::uint8_t> fallback) {
    std::string software = ExtractVersionField(primary, kSoftwareFieldOffset, kSoftwareFieldLength);
    std::span<const std::uint8_t> hardwareRecord = primary;
    if (software.empty()) {
        software = ExtractVersionField(fallback, kSoftwareFieldOffset, kSoftwareFieldLength);
        hardwareRecord = fallback;
    }
    return {software, ExtractVersionField(hardwareRecord, kHardwareFieldOffset, kHardwareFieldLength)};
}

std::optional<ImageVersions> ReadImageVersions(const std::string& path) {
    std::int64_t length = 0;
    const int fd = OpenRegularFile(path, &length);
    if (fd < 0) return std::nullopt;
    const RecordPositions at = ImageVersionRecordPositions(length);
    std::array<std::uint8_t, kVersionRecordRead> fallback{};
    std::array<std::uint8_t, kVersionRecordRead> primary{};
    ReadAt(fd, at.fallback, fallback);
    ReadAt(fd, at.primary, primary);
    close(fd);
    return ExtractImageVersions(primary, fallback);
}

std::string VersionBlockText(std::span<const std::uint8_t> block, std::size_t offset) {
    std::string text;
    for (std::size_t i = offset; i < block.size() && block[i] != 0; ++i) text.push_back(static_cast<char>(block[i]));
    return text;
}

QString VersionText(const std::string& bytes) { return QString::fromLatin1(bytes.data(), qsizetype(bytes.size())); }

bool ShowsTransferText(std::int64_t totalKb) { return totalKb > 10 && totalKb != kVersionTotal; }

int ProgressRangeMaximum(std::int64_t totalKb) { return static_cast<int>(totalKb & 0xFFFF); }

QString FormatKbCounter(std::int64_t positionKb, std::int64_t totalKb) {
    return QString::asprintf("%4d/%4d KB", static_cast<int>(positionKb), static_cast<int>(totalKb));
}

QString FormatStatusLine(bool sending, const QString& fileName) {
    return QStringLiteral("%1 %2...\n").arg(sending ? QStringLiteral("Sending") : QStringLiteral("Receiving"), fileName);
}

UpdateOutcome DecideUpdateOutcome(int runResult, bool cancelled, int imageKind, int fullXStep) {
    if (runResult == kResultSuccess) {
        if (imageKind != KindFullX)
            return {QStringLiteral("\nTransfer Successfully!\nPlease keep the power while GOOD is not displayed on IRD.\n"),
                    false, true};
        if (fullXStep == 1)
            return {QStringLiteral("\nPlease wait......\nPlease click \"OK\" to continue once the page of "
                                   "\"@Nimbo Chip Update\" appears on the TV.\n"),
                    true, false};
        return {QStringLiteral("\nPlease do not power off the receiver before it reboots itself.\n"), false, true};
    }
    // A failed upload ends with result 0, like a cancel: only the technician's
    // own cancel stays silent.
    if (runResult == kResultLengthMismatch || (runResult == kResultFailure && !cancelled))
        return {QStringLiteral("\nTransfer Error, Please try again!\n"), false, true};
    return {QString(), false, true};
}

std::optional<AccessLevel> PasswordAccessLevel(const QString& password) {
    if (password == QLatin1String("RAPXMU")) return 0;
    if (password == QLatin1String("KOLWE")) return 1;
    if (password == QLatin1String("TREVSAN")) return 2;
    return std::nullopt;
}

}  // namespace tarven
