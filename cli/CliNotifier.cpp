#include "CliNotifier.h"

#include <cinttypes>

#include "Frames.h"

namespace tarven::cli {
namespace {

const char* CodeName(int code) {
    switch (code) {
        case kCodeAck: return "ack";
        case kCodeRepeat: return "repeat";
        case kCodeAbort: return "abort";
        case kCodeStandBy: return "stand-by";
        case kCodeVersionRequest: return "version request";
        case kCodeVersionEnd:
        case kCodeVersionEndAlt: return "version end";
        case kCodeUploadPreamble: return "preamble/ready";
        case kCodeEndOfImage:
        case kCodeEndOfImageAlt: return "end of image";
        case kCodeChipStart: return "chip start";
        case kCodeUploadDone: return "upload done";
        case kCodeSpeedChange: return "speed change";
        default: return nullptr;
    }
}

std::string CommandText(int code) {
    std::string text = "command " + std::to_string(code);
    if (const char* name = CodeName(code)) text += std::string(" (") + name + ")";
    return text;
}

}  // namespace

void QueueNotifier::OnLinkEvent(const LinkEvent& event) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(event);
    }
    arrived_.notify_one();
}

void QueueNotifier::ShowMessageBox(const std::string& text, std::stop_token) {
    {
        std::lock_guard lock(mutex_);
        boxes_.push_back(text);
    }
    // Nobody is there to press OK: the text is reported and the worker goes on.
    std::fprintf(err_, "%s: %s\n", label_.c_str(), text.c_str());
    std::fflush(err_);
}

std::optional<LinkEvent> QueueNotifier::Wait(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_for(lock, limit, [&] { return !queue_.empty(); })) return std::nullopt;
    const LinkEvent m = queue_.front();
    queue_.pop_front();
    return m;
}

std::vector<std::string> QueueNotifier::Boxes() const {
    std::lock_guard lock(mutex_);
    return boxes_;
}

std::string DescribeSentFrame(const std::uint8_t* frame, std::size_t size) {
    if (size < std::size_t(kFrameHeaderSize)) return "-> " + std::to_string(size) + " bytes (incomplete frame)";
    const int code = frame[8] << 8 | frame[9];
    if (code != kCodeDataMarker) return "-> " + CommandText(code);
    const std::size_t payload = size >= std::size_t(kDataFrameOverhead) ? size - kDataFrameOverhead : 0;
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08" PRIx32, size >= 4 ? ReadBigEndian32(frame + size - 4) : 0u);
    return "-> data " + std::to_string(payload) + " bytes, CRC " + crc;
}

std::string DescribeReceivedFrame(int result, std::uint32_t payloadLength) {
    const std::string length = std::to_string(payloadLength) + " bytes";
    switch (result) {
        case kRecvDataFrame: return "<- data " + length + ", CRC good";
        case kRecvBadCrc: return "<- data " + length + ", CRC BAD";
        case kRecvTooLarge: return "<- data " + length + ", CRC good, too large for the buffer";
        case kRecvShortFrame: return "<- short data frame";
        case kRecvTimeout: return "<- nothing (time-out)";
        case kRecvBadMagic: return "<- bad magic";
        case kRecvNoMemory: return "<- frame dropped (no memory)";
        default: return "<- " + CommandText(result);
    }
}

void StderrTracer::Sent(const std::uint8_t* frame, std::size_t size) {
    if (muted_.load()) return;
    std::fprintf(err_, "trace %s\n", DescribeSentFrame(frame, size).c_str());
}

void StderrTracer::Received(int result, std::uint32_t payloadLength) {
    if (muted_.load()) return;
    std::fprintf(err_, "trace %s\n", DescribeReceivedFrame(result, payloadLength).c_str());
}

}  // namespace tarven::cli
