// Thread ownership: the line thread alone; no member is locked.
// The read-back half of the receiver's protocol: it serves its image in
// frames, repeats what the program missed, and follows a speed change.
#include <algorithm>

#include "SimProtocol.h"

namespace tarven::sim {

void SimProtocol::OnReadBackRequest(std::uint16_t code, const SimOptions& o) {
    // The program asking again while we serve means it missed our 18: start over.
    if (phase_ != Phase::ReadBack) LeavePhase("transfer cut short by a read-back request");
    ++readBackRequests_;
    if (readBackRequests_ <= o.readBack.silentRequests) return;
    if (o.readBack.standbyFirst && !readBackStandbySent_) {
        readBackStandbySent_ = true;
        phase_ = Phase::Idle;
        ReplyCommand(kCodeStandBy);
        return;
    }
    BeginReadBack(code, o);
}

void SimProtocol::BeginReadBack(std::uint16_t requestCode, const SimOptions& o) {
    if (phase_ != Phase::ReadBack) LeavePhase("transfer cut short by a read-back");
    rb_ = ReadBackState{};
    rb_.o = o.readBack;
    rb_.o.firstPayloadSize = std::max(kLengthHeaderSize, rb_.o.firstPayloadSize);
    rb_.o.sliceSize = std::max(1, rb_.o.sliceSize);
    rb_.image = shared_.CurrentReadBackImage();
    rb_.sendLength = rb_.image.size() - (rb_.o.omitLastByte && !rb_.image.empty() ? 1 : 0);
    rb_.announced = rb_.o.announcedLength.value_or(std::uint32_t(rb_.image.size()));
    const std::size_t inFirst = std::min(std::size_t(rb_.o.firstPayloadSize - kLengthHeaderSize), rb_.sendLength);
    const std::size_t rest = rb_.sendLength - inFirst;
    rb_.frameCount = 1 + int((rest + std::size_t(rb_.o.sliceSize) - 1) / std::size_t(rb_.o.sliceSize));
    ReadBackRecord record;
    record.requestCode = requestCode;
    record.announcedLength = rb_.announced;
    shared_.BeginReadBack(record);
    phase_ = Phase::ReadBack;
    ReplyCommand(kCodeReadBackReady);
    SendReadBackBlock(1);
    line_.Event(SimEvent::Type::ReadBackStarted, "read-back started: request code " + std::to_string(requestCode) +
                                                     ", announcing " + std::to_string(rb_.announced) + " bytes in " +
                                                     std::to_string(rb_.frameCount) + " frames");
}

Bytes SimProtocol::ReadBackPayload(int block) const {
    const std::size_t inFirst = std::size_t(rb_.o.firstPayloadSize - kLengthHeaderSize);
    auto slice = [&](std::size_t from, std::size_t count) {
        from = std::min(from, rb_.sendLength);
        const std::size_t to = std::min(from + count, rb_.sendLength);
        return Bytes(rb_.image.begin() + std::ptrdiff_t(from), rb_.image.begin() + std::ptrdiff_t(to));
    };
    if (block == 1) {
        Bytes payload(kLengthHeaderSize);
        WriteBigEndian32(payload.data(), rb_.announced);
        const Bytes first = slice(0, inFirst);
        payload.insert(payload.end(), first.begin(), first.end());
        return payload;
    }
    return slice(inFirst + std::size_t(block - 2) * std::size_t(rb_.o.sliceSize), std::size_t(rb_.o.sliceSize));
}

void SimProtocol::SendReadBackBlock(int block) {
    FrameFlags flags;
    if (block == rb_.o.shortFrameAtBlock && rb_.shortSent < rb_.o.shortFrameCount) {
        ++rb_.shortSent;
        flags.truncated = true;
    } else if (block == rb_.o.corruptCrcAtBlock && !rb_.crcCorrupted) {
        rb_.crcCorrupted = true;
        flags.corrupted = true;
    }
    rb_.current = block;
    rb_.lastActivityUs = NowUs();
    ReplyData(ReadBackPayload(block), flags);
    shared_.WithReadBack([](ReadBackRecord& r) { ++r.framesSent; });
}

void SimProtocol::OnReadBackAck() {
    if (rb_.endSent) {
        phase_ = Phase::Idle;
        shared_.WithReadBack([](ReadBackRecord& r) { r.finished = true; });
        line_.Event(SimEvent::Type::ReadBackFinished, "read-back finished");
        return;
    }
    if (rb_.o.repeatAfterBlock == rb_.current && !rb_.repeatAsked) {
        rb_.repeatAsked = true;
        ReplyCommand(kCodeRepeat);
        return;
    }
    const std::size_t payload = ReadBackPayload(rb_.current).size();
    const std::size_t imageBytes = rb_.current == 1 ? payload - kLengthHeaderSize : payload;
    shared_.WithReadBack([&](ReadBackRecord& r) {
        ++r.blocksAcknowledged;
        r.imageBytesSent += imageBytes;
    });
    if (rb_.current < rb_.frameCount) {
        SendReadBackBlock(rb_.current + 1);
        return;
    }
    rb_.endSent = true;
    rb_.lastActivityUs = NowUs();
    ReplyCommand(rb_.o.endCode);
    shared_.WithReadBack([](ReadBackRecord& r) { r.endSent = true; });
}

void SimProtocol::OnReadBackRepeat() {
    rb_.lastActivityUs = NowUs();
    if (rb_.endSent) ReplyCommand(rb_.o.endCode);
    else SendReadBackBlock(rb_.current);
}

void SimProtocol::OnReadBackSpeedChange() {
    shared_.WithReadBack([](ReadBackRecord& r) { r.speedChangeRequested = true; });
    line_.Event(SimEvent::Type::SpeedChange, "program asked for 57600 baud");
    if (rb_.awaitingSpeed) return;
    rb_.awaitingSpeed = true;
    ResendWhenSlow(NowUs() + RealUsOfLinkMs(rb_.o.speedChangeWaitMs));
}

void SimProtocol::ResendWhenSlow(std::int64_t deadlineUs) {
    if (phase_ != Phase::ReadBack) {
        rb_.awaitingSpeed = false;
        return;
    }
    // The program switches its own line a little after it asks; what we send
    // before that would be lost to the speed mismatch on a real line.
    if (line_.Baud() == kBaudSlow || NowUs() >= deadlineUs) {
        rb_.awaitingSpeed = false;
        OnReadBackRepeat();
        return;
    }
    line_.After(2000, [this, deadlineUs] { ResendWhenSlow(deadlineUs); });
}

void SimProtocol::StartReadBack() {
    line_.AnswersNotBefore(0);
    BeginReadBack(0, options_.Get());
}

void SimProtocol::Tick(std::int64_t now) {
    if (phase_ == Phase::ReadBack && !rb_.awaitingSpeed && rb_.o.resendAfterMs > 0 && line_.OutputEmpty() &&
        now - std::max(rb_.lastActivityUs, line_.LineFreeUs()) >= RealUsOfLinkMs(rb_.o.resendAfterMs)) {
        line_.Anomaly("no answer from the program: resending");
        OnReadBackRepeat();
    }
}

}  // namespace tarven::sim
