// Reads an image back from the receiver into a file of the working folder and
// checks its length against the length the receiver announced. The file is
// replaced only by a whole image; see ReadBackSink.
#include <new>
#include <optional>

#include "Frames.h"
#include "KindTable.h"
#include "LinkEngine.h"
#include "ReadBackSink.h"

namespace tarven {
namespace {

// One read-back's state between frames. Each result of ReceiveFrame is
// handled by the row of the switch in ReceiveImage() that names it.
class ReadBackExchange {
public:
    // A read-back cut off mid-way leaves the file as it was; the sink keeps
    // what it received so far beside it.
    explicit ReadBackExchange(LinkEngine& engine) : e_(engine) {}
    ReadBackExchange(const ReadBackExchange&) = delete;
    ReadBackExchange& operator=(const ReadBackExchange&) = delete;
    void Run();

private:
    bool Prepare();
    bool AwaitReady(std::uint16_t request);
    void ReceiveImage();
    void OnDataFrame(std::uint32_t n);
    void OnEnd();
    void OnShortFrame();
    void Finish(int result);
    void FinishUnopened();
    std::uint32_t AnnouncedLength() const { return ReadBigEndian32(buffer_.data() + kReadBackBufferOffset); }

    LinkEngine& e_;
    std::optional<ReadBackSink> sink_;  // while the image is being received
    RunFailure failure_;
    std::vector<std::uint8_t> buffer_;
    std::size_t writePosition_ = kReadBackBufferOffset;
    std::int64_t received_ = 0;
    int blocks_ = 0;
    int shortFrames_ = 0;
    bool done_ = false;
};

void ReadBackExchange::Run() {
    // The chip kinds have no request code: refuse before the file is touched
    // and before anything goes on the line.
    const KindRules* rules = FindRules(e_.Kind());
    const std::optional<std::uint16_t> request = rules ? rules->readBackRequest : std::nullopt;
    if (!request) return FinishUnopened();
    if (!Prepare() || !AwaitReady(*request)) return;
    e_.Pause(kReadBackStartPauseMs);
    ReceiveImage();
}

// Creates the file the image arrives in and the receive buffer; false when
// the run is over.
bool ReadBackExchange::Prepare() {
    sink_.emplace(e_.FileName());
    if (const int error = sink_->CreateError(); error != 0) {
        sink_.reset();
        failure_ = {RunFault::OutputNotCreated, error};
        e_.ShowMessage(e_.FileName() + "create failed !");
        FinishUnopened();
        return false;
    }
    try {
        buffer_.assign(kReadBackBufferSize, 0);
    } catch (const std::bad_alloc&) {
        Finish(kResultFailure);
        return false;
    }
    return true;
}

// Asks until the receiver says it is ready; false when stopped first.
bool ReadBackExchange::AwaitReady(std::uint16_t request) {
    if (request != kCodeStandBy) e_.SendCommand(request);
    while (!e_.StopRequested()) {
        const int result = e_.ReceiveFrame({}, nullptr, kReadBackRequestTimeout);
        if (result == kCodeReadBackReady) break;
        if (result == kCodeStandBy || result == kRecvTimeout) e_.SendCommand(request);
    }
    return !e_.StopRequested();
}

void ReadBackExchange::ReceiveImage() {
    while (!done_ && !e_.StopRequested()) {
        std::uint32_t n = 0;
        const std::span<std::uint8_t> room(buffer_.data() + writePosition_, buffer_.size() - writePosition_);
        const int result = e_.ReceiveFrame(room, &n, kReadBackDataTimeout);
        if (e_.StopRequested()) return;
        switch (result) {
            case kRecvDataFrame: OnDataFrame(n); break;
            case kCodeEndOfImage:
            case kCodeEndOfImageAlt: OnEnd(); break;
            case kCodeRepeat:
                e_.PurgePort();
                e_.Pause(kReadBackRepeatPauseMs);
                e_.SendCommand(kCodeAck);
                break;
            case kRecvBadCrc:
                e_.Pause(kReadBackBadCrcPauseMs);
                e_.PurgePort();
                e_.Pause(kReadBackRepeatPauseMs);
                e_.SendCommand(kCodeRepeat);
                break;
            case kRecvShortFrame: OnShortFrame(); break;
            case kRecvTooLarge:
                // The image does not fit the buffer: what fitted is kept beside the file.
                failure_ = {RunFault::ImageTooLarge, 0};
                Finish(kResultLengthMismatch);
                break;
            default:
                e_.Pause(kReadBackConfusedPauseMs);
                e_.PurgePort();
                break;
        }
    }
}

void ReadBackExchange::OnDataFrame(std::uint32_t n) {
    e_.SendCommand(kCodeAck);
    e_.Pause(kReadBackAckPauseMs);
    const std::uint8_t* payload = buffer_.data() + writePosition_;
    writePosition_ += n;
    received_ += n;
    shortFrames_ = 0;
    int writeError;
    if (blocks_ == 0) {
        // Without a whole length header nothing received can be checked.
        if (n < std::uint32_t(kLengthHeaderSize)) return Finish(kResultLengthMismatch);
        writeError = sink_->Write(payload + kLengthHeaderSize, n - kLengthHeaderSize);
        e_.Report(Progress{Progress::Step::Total, AnnouncedLength() / 1024});
    } else {
        writeError = sink_->Write(payload, n);
    }
    // A file that could not take the bytes (disk full) is never a success.
    if (writeError != 0) {
        failure_ = {RunFault::OutputNotWritten, writeError};
        return Finish(kResultLengthMismatch);
    }
    e_.Report(Progress{Progress::Step::Position, received_ / 1024});
    ++blocks_;
}

void ReadBackExchange::OnEnd() {
    e_.SendCommand(kCodeAck);
    // An end code before any data frame leaves nothing to compare with.
    if (blocks_ == 0) return Finish(kResultLengthMismatch);
    e_.Pause(kReadBackEndPauseMs);
    const bool complete = sink_->Written() == std::int64_t(AnnouncedLength());
    Finish(complete ? kResultSuccess : kResultLengthMismatch);
}

// Six short frames in a row ask the receiver for the slower line.
void ReadBackExchange::OnShortFrame() {
    ++shortFrames_;
    e_.PurgePort();
    e_.Pause(kReadBackShortFramePauseMs);
    if (shortFrames_ < kReadBackShortFramesBeforeSlowdown) {
        e_.SendCommand(kCodeRepeat);
        e_.Pause(kReadBackRepeatPauseMs);
    } else {
        e_.SendCommand(kCodeSpeedChange);
        e_.Pause(kReadBackSlowdownPauseMs);
        if (e_.SetBaudRate(kBaudSlow) != 0) {
            failure_ = {RunFault::SpeedRefused, 0};
            Finish(kResultFailure);
        }
    }
}

// Only a whole image replaces the file; a replacement that fails (the rename,
// or a write the file system owned up to only at the close) is a failure too.
void ReadBackExchange::Finish(int result) {
    if (result == kResultSuccess) {
        if (const int error = sink_->Commit(); error != 0) {
            failure_ = {RunFault::OutputNotWritten, error};
            result = kResultLengthMismatch;
        }
    }
    if (result != kResultSuccess) sink_->KeepPartial();
    sink_.reset();
    buffer_ = {};
    done_ = true;
    e_.FinishRun(Finished{result, UploadDoubt::None, failure_});
}

// Ends a run that never had its file open.
void ReadBackExchange::FinishUnopened() {
    done_ = true;
    e_.FinishRun(Finished{kResultFailure, UploadDoubt::None, failure_});
}

}  // namespace

void LinkEngine::RunReadBack() { ReadBackExchange(*this).Run(); }

}  // namespace tarven
