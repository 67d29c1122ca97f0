#include "Verify.h"

#include <algorithm>
#include <vector>

#include "CommandParts.h"
#include "ImageFile.h"
#include "KindTable.h"
#include "LinkRun.h"
#include "PortAccess.h"
#include "ReadBackSink.h"
#include "RunRecord.h"

namespace tarven::cli {
namespace {

void ReportOutcome(const UploadCheck& c, const std::string& outcome) { NoteOutcome(c.options, c.console, outcome); }

// The batch parent's VERIFY column, and the record's verify word.
void ReportVerify(const UploadCheck& c, const std::string& state, const char* word = nullptr) {
    if (word && c.console.record) c.console.record->verify = word;
    if (c.options.reportProgress) Say(c.console.err, VerifyReportLine(state));
}

// The whole file; empty when it cannot be read.
std::vector<char> ReadAll(const std::string& path) {
    const ImageFile file = OpenImage(path);
    std::vector<char> bytes(file.IsOpen() ? std::size_t(file.Size()) : 0);
    if (!bytes.empty() && file.ReadFully(0, bytes.data(), bytes.size()) != 0) bytes.clear();
    return bytes;
}

// A private file for the receiver's copy in the system's temporary folder,
// removed again whatever happens.
class ScratchFile {
public:
    ScratchFile() {
        int error = 0;
        path_ = CreateScratchFile(error);
    }
    ~ScratchFile() {
        if (!path_.empty()) RemoveScratchFile(path_);
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// Reads the receiver's copy into `into`; empty when it arrived whole, else why not.
std::string ReadBackCopy(const UploadCheck& c, PortHandle port, const std::string& into) {
    // A fresh exchange starts at the normal speed, whatever the upload ended at.
    PortSettings settings = DefaultPortSettings();
    port->Apply(settings);
    port->Purge();
    if (!c.options.reportProgress && Rules(c.kind).readBackRequest == kCodeStandBy)
        Say(c.console.err, c.label +
                               ": verify: waiting for the receiver to send its copy "
                               "(the request goes out after every 50 s of silence)");
    const RunSetup setup = SetupFor(c.options, LinkMode::ReadBack, c.portIndex, into, c.kind, c.level);
    QueueNotifier notifier(c.label, c.console.err);
    StderrTracer tracer(c.console.err);
    auto progress = MakeProgressView(c.style, c.console.err, c.label + " verify " + c.file);
    const RunOutcome outcome =
        RunLink(setup, std::move(port), notifier, progress.get(), c.options.trace ? &tracer : nullptr);
    switch (outcome.end) {
        case RunEnd::Finished: break;
        case RunEnd::TimedOut: return "no progress for " + std::to_string(int(setup.timeoutSeconds)) + " s";
        case RunEnd::Vanished: return "the device vanished";
        case RunEnd::Interrupted: return "interrupted";
        case RunEnd::NotStarted:
        case RunEnd::VersionReady: return "the link worker could not be started";
    }
    if (outcome.result == kResultLengthMismatch) return "it came back shorter or longer than the receiver announced";
    if (outcome.result != kResultSuccess) return "the read-back failed";
    return {};
}

}  // namespace

std::string ReadBackRefusal(ImageKind kind, AccessLevel level) {
    const KindRules& rules = Rules(kind);
    if (!rules.readBackRequest) return "the receiver has no read-back for kind " + KindNameAndId(kind);
    if (rules.ReadBackEnabledAt(level)) return {};
    return "reading back kind " + KindNameAndId(kind) + " needs the level-2 service password";
}

std::string VerifyRefusal(ImageKind kind, AccessLevel level) {
    const std::string refusal = ReadBackRefusal(kind, level);
    return refusal.empty() ? refusal : "--verify reads the image back, and " + refusal;
}

ImageComparison CompareImages(const std::string& receiverCopy, const std::string& sourceFile) {
    const std::vector<char> got = ReadAll(receiverCopy), want = ReadAll(sourceFile);
    ImageComparison r;
    r.receiverLength = got.size();
    r.fileLength = want.size();
    const auto parted = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
    r.firstDifference = std::size_t(parted.first - got.begin());
    r.identical = got.size() == want.size() && parted.first == got.end();
    return r;
}

int SettleUpload(const UploadCheck& c, PortHandle port, UploadDoubt doubt) {
    const std::string where = c.label + ": " + c.file + ": ";
    if (doubt != UploadDoubt::None && c.console.record && c.console.record->doubt.empty())
        c.console.record->doubt = DoubtWord(doubt);
    if (!c.options.verify) {
        if (doubt == UploadDoubt::None) return kExitOk;
        Say(c.console.err, where + "finished, but the receiver's copy is unconfirmed: " + UploadDoubtText(doubt) +
                               ". Check it: upload again with --verify, or read it back and compare.");
        ReportOutcome(c, std::string("unconfirmed: ") + UploadDoubtText(doubt));
        return kExitUnconfirmed;
    }
    if (doubt != UploadDoubt::None)
        Say(c.console.err, where + "the line was disturbed (" + UploadDoubtText(doubt) + "); reading the image back");
    ReportVerify(c, kVerifyReading);  // the parent's row turns to the second phase
    ScratchFile copy;
    std::string failure = copy.Path().empty() ? "no temporary file for the receiver's copy" : std::string();
    if (failure.empty() && !port) failure = "the port is no longer open";
    if (failure.empty()) failure = ReadBackCopy(c, std::move(port), copy.Path());
    if (!failure.empty()) {
        Say(c.console.err,
            where + "sent, but the check could not be made: " + failure + ". The receiver's copy is unconfirmed.");
        ReportVerify(c, "not done", "not done");
        ReportOutcome(c, "unconfirmed: the check could not be made: " + failure);
        return kExitUnconfirmed;
    }
    const ImageComparison cmp = CompareImages(copy.Path(), c.file);
    if (!cmp.identical) {
        const std::string text = "the receiver's copy differs from the file at offset " +
                                 std::to_string(cmp.firstDifference) + " (receiver " +
                                 std::to_string(cmp.receiverLength) + " bytes, file " + std::to_string(cmp.fileLength) +
                                 " bytes). Please send it again.";
        Say(c.console.err, where + text);
        ReportVerify(c, "DIFFERENT at offset " + std::to_string(cmp.firstDifference), "different");
        ReportOutcome(c, "the receiver's copy differs at offset " + std::to_string(cmp.firstDifference) +
                             " (receiver " + std::to_string(cmp.receiverLength) + " bytes, file " +
                             std::to_string(cmp.fileLength) + ")");
        return kExitVerifyMismatch;
    }
    Say(c.console.err,
        where + "verified: the receiver's copy is identical (" + std::to_string(cmp.fileLength) + " bytes)");
    ReportVerify(c, "identical", "identical");
    return kExitOk;
}

}  // namespace tarven::cli
