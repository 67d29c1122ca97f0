// Sends one image file to the receiver: the whole file is read first, then a
// start command chosen by kind and access level, then 4,096-byte blocks each
// acknowledged by the receiver, then the end code.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "Frames.h"
#include "ImageFile.h"
#include "KindTable.h"
#include "LinkEngine.h"

namespace tarven {
namespace {

// Reads the image into a zero-filled buffer of the fixed upload size, so the
// first block of a short image carries zeros after it, never stale memory.
// A file that does not fit is refused like one that cannot be opened, and so
// is a FIFO or a device named like an image, without waiting on it.
// 0, or the errno of what failed (EFBIG for a file too large).
int ReadImage(const std::string& name, std::vector<std::uint8_t>& image, std::int32_t& length) {
    length = 0;
    const ImageFile file = OpenImage(name);
    if (!file.IsOpen()) return file.Error();
    if (file.Size() > kUploadBufferSize) return EFBIG;
    try {
        image.assign(kUploadBufferSize, 0);
    } catch (const std::bad_alloc&) {
        return ENOMEM;
    }
    if (const int error = file.ReadFully(0, image.data(), std::size_t(file.Size())); error != 0) return error;
    length = std::int32_t(file.Size());
    return 0;
}

// How long, after the end is answered, the PC listens for a reply nobody asked
// for: twice the receiver's slowest answer of this run (counted from the end
// of the frame it answered), so a slow receiver's last word is still heard,
// and never longer than the PC waits for any answer.
std::int32_t StrayListenTimeout(std::int64_t slowestReplyUs) {
    const std::int64_t unitUs = std::int64_t(kTimeoutUnitMs) * 1000;
    const std::int64_t units = (2 * slowestReplyUs + unitUs - 1) / unitUs;
    return std::int32_t(std::clamp<std::int64_t>(units, kStrayListenMinUnits, kUploadRecvTimeout));
}

// One upload's state between the receiver's answers. Each answer is handled
// by the row of the switch in Run() that names it.
class UploadExchange {
public:
    explicit UploadExchange(LinkEngine& engine) : e_(engine) {}
    void Run();

private:
    bool Prepare();
    void SendStart();
    void OnAck();
    void OnLineFault();
    // The first doubt of a run is the one reported.
    void Doubt(UploadDoubt why) {
        if (doubt_ == UploadDoubt::None) doubt_ = why;
    }
    // An answer's time counts from the moment the frame has left the line,
    // so the receiver's own delay is measured, not the frame's time on the wire.
    void SendBlock(std::int32_t size) {
        e_.SendDataFrame(block_.data(), size);
        sentAtUs_ = e_.LineClearUs();
    }
    void SendCode(std::uint16_t code) {
        e_.SendCommand(code);
        sentAtUs_ = e_.LineClearUs();
    }
    bool ListenForStrayReply();
    void Finish(int result);
    void Abort();

    LinkEngine& e_;
    UploadDoubt doubt_ = UploadDoubt::None;
    RunFailure failure_;
    std::vector<std::uint8_t> image_;
    std::vector<std::uint8_t> block_;
    std::int32_t length_ = 0;
    std::int32_t lastBlockSize_ = kFirstBlockSize;
    std::int64_t acknowledged_ = 0;
    std::size_t source_ = kBlockSize;
    int endCounter_ = 0;
    // Set once the PC has asked for a repeat on its own: from then on an
    // acknowledgement may be the receiver's earlier one said again.
    bool repeatAsked_ = false;
    bool done_ = false;
    std::int64_t sentAtUs_ = 0;
    std::int64_t slowestReplyUs_ = 0;
};

bool UploadExchange::Prepare() {
    if (const int error = ReadImage(e_.FileName(), image_, length_); error != 0) {
        failure_ = {RunFault::ImageUnreadable, error};
        e_.ShowMessage(e_.FileName() + "File Open Error");
        Finish(kResultFailure);
        return false;
    }
    e_.Report(Progress{Progress::Step::Total, length_ / 1024});
    try {
        block_.assign(kFirstBlockSize, 0);
    } catch (const std::bad_alloc&) {
        e_.SendCommand(kCodeAbort);
        return false;
    }
    return true;
}

void UploadExchange::SendStart() {
    // A kind outside the table starts like the chip kinds.
    const KindRules* rules = FindRules(e_.Kind());
    if (rules && rules->preamble) {
        e_.SendCommand(kCodeUploadPreamble);
        while (!e_.StopRequested() && e_.ReceiveFrame({}, nullptr, kPreambleTimeout) != kCodeStandBy) {
        }
    }
    if (e_.StopRequested()) return;
    e_.SendCommand(rules ? rules->StartCodeAt(e_.Level()) : std::uint16_t{kCodeChipStart});
    e_.Pause(kStartCodePauseMs);
    if (e_.StopRequested()) return;
    e_.PurgePort();

    WriteBigEndian32(block_.data(), std::uint32_t(length_));
    std::memcpy(block_.data() + kLengthHeaderSize, image_.data(), kBlockSize);
    SendBlock(kFirstBlockSize);
}

void UploadExchange::Run() {
    if (!Prepare()) return;
    SendStart();
    while (!done_ && !e_.StopRequested()) {
        const int result = e_.ReceiveFrame({}, nullptr, kUploadRecvTimeout);
        if (e_.StopRequested()) return;
        if (result >= 0) slowestReplyUs_ = std::max(slowestReplyUs_, e_.Clock().NowUs() - sentAtUs_);
        switch (result) {
            case kCodeAck: OnAck(); break;
            case kCodeRepeat:
                Doubt(UploadDoubt::BlockResent);
                SendBlock(lastBlockSize_);
                break;
            case kCodeSpeedChange:
                Doubt(UploadDoubt::BlockResent);
                if (e_.SetBaudRate(kBaudSlow) != 0) {
                    failure_ = {RunFault::SpeedRefused, 0};
                    Finish(kResultFailure);
                    break;
                }
                e_.Pause(kSpeedChangePauseMs);
                SendBlock(lastBlockSize_);
                break;
            case kCodeUploadDone:
                if (ListenForStrayReply()) Finish(kResultSuccess);
                break;
            case kRecvBadMagic:
            case kRecvTimeout:
            case kRecvShortFrame: OnLineFault(); break;
            default: Abort(); break;
        }
    }
}

void UploadExchange::OnAck() {
    if (repeatAsked_) Doubt(UploadDoubt::AckAfterRepeat);
    if (endCounter_ != 0) {
        if (ListenForStrayReply()) Finish(kResultSuccess);
        return;
    }
    acknowledged_ += lastBlockSize_;
    const std::int64_t total = std::int64_t(length_) + kLengthHeaderSize;
    if (acknowledged_ < total) {
        const std::int32_t size = std::int32_t(std::min<std::int64_t>(kBlockSize, total - acknowledged_));
        std::memcpy(block_.data(), image_.data() + source_, std::size_t(size));
        SendBlock(size);
        source_ += std::size_t(size);
        lastBlockSize_ = size;
        e_.Pause(kBlockPauseMs);
        e_.Report(Progress{Progress::Step::Position, acknowledged_ / 1024});
    } else {
        SendCode(kCodeEndOfImage);
        endCounter_ = 1;
        e_.Report(Progress{Progress::Step::Position, length_ / 1024});
    }
}

void UploadExchange::OnLineFault() {
    if (endCounter_ == 0) {
        e_.PurgePort();
        e_.Pause(kBlockPauseMs);
        SendCode(kCodeRepeat);
        repeatAsked_ = true;
    } else if (endCounter_ < kEndCodeSendsMax) {
        SendCode(kCodeEndOfImage);
        ++endCounter_;
    } else {
        // Four unanswered end codes count as done, as the receiver
        // expects; whether it holds the image only a read-back can say.
        Doubt(UploadDoubt::EndUnanswered);
        Finish(kResultSuccess);
    }
}

// The receiver answers every frame once, so a reply still to come after the
// end's answer means one answer the PC took was not for its latest frame (a
// reply the line said twice looks perfect): the blocks were counted one
// ahead and the copy may differ. Nothing is written; the PC only listens.
// False when the run was stopped meanwhile.
bool UploadExchange::ListenForStrayReply() {
    if (doubt_ != UploadDoubt::None) return true;
    const int result = e_.ReceiveFrame({}, nullptr, StrayListenTimeout(slowestReplyUs_));
    if (e_.StopRequested()) return false;
    if (result != kRecvTimeout) Doubt(UploadDoubt::StrayReply);
    return true;
}

void UploadExchange::Finish(int result) {
    image_ = {};
    block_ = {};
    done_ = true;
    e_.FinishRun(Finished{result, doubt_, failure_});
}

void UploadExchange::Abort() {
    e_.SendCommand(kCodeAbort);
    image_ = {};
    block_ = {};
    done_ = true;
    e_.SetBaudRate(kBaudNormal);
    e_.FinishRun(Finished{kResultFailure, doubt_, failure_});
}

}  // namespace

const char* UploadDoubtText(UploadDoubt doubt) {
    switch (doubt) {
        case UploadDoubt::None: return "";
        case UploadDoubt::AckAfterRepeat:
            return "an acknowledgement came after a repeat request; it may have answered an earlier block, "
                   "so the receiver may hold a block twice or miss one";
        case UploadDoubt::EndUnanswered: return "the receiver never acknowledged the end code (sent four times)";
        case UploadDoubt::BlockResent:
            return "the receiver asked for a block again; if that request was an acknowledgement altered on "
                   "the line, it holds the block twice";
        case UploadDoubt::StrayReply:
            return "the receiver answered once more after the end; an answer the PC took was not for its latest "
                   "frame (a reply said twice on the line), so blocks may have been counted one ahead";
    }
    return "";
}

void LinkEngine::RunUpload() { UploadExchange(*this).Run(); }

}  // namespace tarven
