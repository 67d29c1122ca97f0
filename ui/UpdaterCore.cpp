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

}  // namespace

bool IsImageFileAccepted(int kindIndex, const std::string& path) {
    const std::optional<std::int64_t> length = RegularFileSize(path);
    return length && IsImageSizeAccepted(kindIndex, *length);
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
    // A listing that fails part-way keeps what it found: an exception here
    // would end the window.
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
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

bool IsSpecialFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    return S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISSOCK(st.st_mode);
}

bool IsSoftwareKind(int kind) { return kind >= KindSoftware && kind <= KindSoftwareDataLoader; }

bool KindChangeNeedsRefresh(int oldKind, int newKind) { return !(IsSoftwareKind(oldKind) && IsSoftwareKind(newKind)); }

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

}  // namespace tarven
