// The receiver's side of the three exchanges: what it answers to the
// version request, how it takes an upload, and how it serves a read-back.
#include <algorithm>
#include <cstdio>

#include "SimReceiverImpl.h"

namespace tarven::sim {

namespace {

std::string Hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

// Copies `text` to `at`, leaving room for the terminating zero before `limit`.
void PutText(Bytes& block, std::size_t at, std::size_t limit, const std::string& text) {
    const std::size_t room = limit - at - 1;
    const std::size_t count = std::min(room, text.size());
    std::copy_n(text.begin(), count, block.begin() + std::ptrdiff_t(at));
}

}  // namespace

StartCodeMeaning MeaningOfStartCode(std::uint16_t code) {
    switch (code) {
        case 30: return {KindFactoryData, -1, true};
        case 49: return {KindUserData, -1, true};
        case 55: return {KindSoftware, -1, true};
        case 18: return {KindFullImage, 0, true};
        case 54: return {KindFullImage, 1, true};
        case 34: return {KindSoftwareDataLoader, 0, true};
        case 53: return {KindSoftwareDataLoader, 1, true};
        case kCodeChipStart: return {0, -1, true};
        default: return {};
    }
}

Bytes MakeVersionBlock(const std::string& hardware, const std::string& software) {
    Bytes block(kVersionBlockSize, 0);
    PutText(block, kVersionHardwareOffset, kVersionSoftwareOffset, hardware);
    PutText(block, kVersionSoftwareOffset, kVersionBlockSize, software);
    return block;
}

// ============================================================ dispatch

void SimReceiver::Impl::Dispatch(const ParsedFrame& frame) {
    const SimOptions o = OptionsSnapshot();
    if (phase == Phase::ReadBack) rb.lastActivityUs = NowUs();
    if (DispatchInPhase(frame, o)) return;
    switch (frame.kind) {
        case ParsedFrame::Kind::BadMagic:
            Anomaly("12 bytes without the frame magic");
            return;
        case ParsedFrame::Kind::Data:
        case ParsedFrame::Kind::BadCrc:
            Anomaly("data frame outside an upload");
            return;
        case ParsedFrame::Kind::Command:
            DispatchIdle(frame.code, o);
            return;
    }
}

bool SimReceiver::Impl::DispatchInPhase(const ParsedFrame& frame, const SimOptions& o) {
    const bool command = frame.kind == ParsedFrame::Kind::Command;
    const std::uint16_t code = frame.code;
    switch (phase) {
        case Phase::Idle:
            return false;
        case Phase::Version:
            if (command && code == kCodeAck) OnVersionAck();
            else if (command && code == kCodeRepeat) ResendLastReply();
            else return false;
            return true;
        case Phase::UploadAwaitStart:
            // Kind 11993 at level 0 uses 18 for both: after the preamble's 4, an 18 is the start code.
            if (command && MeaningOfStartCode(code).isStartCode) BeginUpload(code, true);
            else if (command && code == kCodeRepeat) ResendLastReply();
            else return false;
            return true;
        case Phase::UploadReceiving:
            switch (frame.kind) {
                case ParsedFrame::Kind::Data:
                case ParsedFrame::Kind::BadCrc:
                    OnUploadData(frame, o);
                    return true;
                case ParsedFrame::Kind::BadMagic:
                    // Line noise; the program repeats once it misses our answer.
                    Anomaly("12 bytes without the frame magic during an upload");
                    return true;
                case ParsedFrame::Kind::Command:
                    if (code == kCodeEndOfImage) OnUploadEnd(o);
                    else if (code == kCodeRepeat) ResendLastReply();
                    else if (code == kCodeAbort) OnUploadAbortedByProgram();
                    else return false;
                    return true;
            }
            return false;
        case Phase::ReadBack:
            if (!command) return false;
            if (code == kCodeAck) OnReadBackAck();
            else if (code == kCodeRepeat) OnReadBackRepeat();
            else if (code == kCodeSpeedChange) OnReadBackSpeedChange();
            else return false;
            return true;
    }
    return false;
}

void SimReceiver::Impl::DispatchIdle(std::uint16_t code, const SimOptions& o) {
    switch (code) {
        case kCodeVersionRequest:
            OnVersionRequest(o);
            return;
        case kCodeUploadPreamble:
            OnPreamble(o);
            return;
        case kCodeChipStart:
            LeavePhase("transfer cut short by a start code");
            BeginUpload(code, false);
            return;
        case 32:
        case 51:
        case kCodeStandBy:
            OnReadBackRequest(code, o);
            return;
        case kCodeEndOfImage:
            if (uploadEnded && phase == Phase::Idle) OnUploadEnd(o);
            else Anomaly("end code 19 outside an upload");
            return;
        case kCodeRepeat:
            ResendLastReply();
            return;
        case kCodeAck:
            return;  // a stray acknowledgement asks for nothing
        case kCodeAbort:
            Anomaly("program sent 2 (abort) outside an upload");
            return;
        default:
            if (MeaningOfStartCode(code).isStartCode)
                Anomaly("start code " + std::to_string(code) + " without a preamble: ignored");
            else
                Anomaly("unexpected code " + std::to_string(code));
            return;
    }
}

void SimReceiver::Impl::LeavePhase(const char* why) {
    if (phase == Phase::Idle) return;
    if (phase == Phase::UploadReceiving || phase == Phase::UploadAwaitStart) {
        if (phase == Phase::UploadReceiving) {
            WithUpload([](UploadRecord& r) { r.aborted = true; });
            Event(SimEvent::Type::UploadAborted, std::string("upload abandoned: ") + why);
        }
    }
    if (phase != Phase::UploadAwaitStart) Anomaly(why);
    phase = Phase::Idle;
}

// ============================================================ version query

void SimReceiver::Impl::OnVersionRequest(const SimOptions& o) {
    if (phase != Phase::Version) LeavePhase("transfer cut short by a version request");
    ++versionRequests;
    if (versionRequests <= o.version.silentRequests) return;
    if (o.version.standbyFirst && !versionStandbySent) {
        versionStandbySent = true;
        phase = Phase::Idle;
        ReplyCommand(kCodeStandBy);
        if (o.version.standbyAnswerAfterMs >= 0)
            After(RealUsOfLinkMs(o.version.standbyAnswerAfterMs), [this] { StartVersionAnswer(OptionsSnapshot()); });
        return;
    }
    StartVersionAnswer(o);
}

void SimReceiver::Impl::StartVersionAnswer(const SimOptions& o) {
    const Bytes block = o.version.block ? *o.version.block : MakeVersionBlock(o.version.hardware, o.version.software);
    versionChunks.clear();
    if (!o.version.endCodeOnly && !block.empty()) {
        const std::size_t parts = std::clamp<std::size_t>(std::size_t(std::max(1, o.version.split)), 1, block.size());
        std::size_t at = 0;
        for (std::size_t i = 0; i < parts; ++i) {
            const std::size_t size = block.size() / parts + (i < block.size() % parts ? 1 : 0);
            versionChunks.emplace_back(block.begin() + std::ptrdiff_t(at), block.begin() + std::ptrdiff_t(at + size));
            at += size;
        }
    }
    versionEndCode = o.version.endCode;
    versionStep = 0;
    phase = Phase::Version;
    if (versionChunks.empty()) ReplyCommand(versionEndCode);
    else ReplyData(versionChunks[0]);
}

void SimReceiver::Impl::OnVersionAck() {
    if (versionStep < versionChunks.size()) {
        ++versionStep;
        if (versionStep < versionChunks.size()) ReplyData(versionChunks[versionStep]);
        else ReplyCommand(versionEndCode);
        return;
    }
    phase = Phase::Idle;
    {
        std::lock_guard lock(mutex);
        ++versionAnswers;
        NotifyLocked();
    }
    Event(SimEvent::Type::VersionAnswered, "version answered");
}

// ============================================================ upload

void SimReceiver::Impl::WithUpload(const std::function<void(UploadRecord&)>& fn) {
    std::lock_guard lock(mutex);
    if (uploadLatest) fn(*uploadLatest);
    NotifyLocked();
}

void SimReceiver::Impl::OnPreamble(const SimOptions& o) {
    LeavePhase("transfer cut short by a new preamble");
    ++preambles;
    if (preambles <= o.upload.silentPreambles) return;
    phase = Phase::UploadAwaitStart;
    ReplyCommand(kCodeStandBy);
}

void SimReceiver::Impl::BeginUpload(std::uint16_t startCode, bool preamble) {
    const StartCodeMeaning meaning = MeaningOfStartCode(startCode);
    {
        std::lock_guard lock(mutex);
        if (uploadLatest) uploadsDone.push_back(std::move(*uploadLatest));
        UploadRecord record;
        record.startCode = startCode;
        record.preamble = preamble;
        record.kind = meaning.kind;
        record.accessLevel = meaning.accessLevel;
        uploadLatest = std::move(record);
        NotifyLocked();
    }
    phase = Phase::UploadReceiving;
    uploadBlock = 1;
    uploadFired = {};
    endCodesIgnored = 0;
    uploadEnded = false;
    Event(SimEvent::Type::UploadStarted, "upload started: start code " + std::to_string(startCode) +
                                             (meaning.kind ? ", kind " + std::to_string(meaning.kind) : std::string()));
}

void SimReceiver::Impl::OnUploadData(const ParsedFrame& frame, const SimOptions& o) {
    const UploadOptions& u = o.upload;
    const int block = uploadBlock;
    if (frame.kind == ParsedFrame::Kind::BadCrc) {
        WithUpload([](UploadRecord& r) { ++r.refusedFrames; });
        ReplyCommand(kCodeRepeat);
        return;
    }
    if (u.abortAtBlock == block && !uploadFired.abort) {
        uploadFired.abort = true;
        ReplyCommand(kCodeAbort);
        WithUpload([](UploadRecord& r) { r.aborted = true; });
        phase = Phase::Idle;
        Event(SimEvent::Type::UploadAborted, "receiver aborted the upload at block " + std::to_string(block));
        return;
    }
    if (u.speedChangeAtBlock == block && !uploadFired.speed) {
        uploadFired.speed = true;
        ReplyCommand(kCodeSpeedChange);
        Event(SimEvent::Type::SpeedChange, "asked for 57600 baud at block " + std::to_string(block));
        return;
    }
    if (u.repeatAtBlock == block && !uploadFired.repeat) {
        uploadFired.repeat = true;
        ReplyCommand(kCodeRepeat);
        return;
    }
    const Bytes& payload = frame.payload;
    WithUpload([&](UploadRecord& r) {
        if (block == 1 && payload.size() >= std::size_t(kLengthHeaderSize)) {
            r.announcedLength = ReadBigEndian32(payload.data());
            r.image.assign(payload.begin() + kLengthHeaderSize, payload.end());
        } else {
            r.image.insert(r.image.end(), payload.begin(), payload.end());
        }
        r.payloadBytes += payload.size();
        ++r.blocks;
    });
    if (block == 1 && payload.size() != std::size_t(kFirstBlockSize))
        Anomaly("first block carries " + std::to_string(payload.size()) + " bytes, not " +
                std::to_string(kFirstBlockSize));
    if (block > 1 && payload.size() > std::size_t(kBlockSize))
        Anomaly("block " + std::to_string(block) + " carries " + std::to_string(payload.size()) + " bytes");
    ++uploadBlock;
    FrameFlags flags;
    if (u.corruptReplyAtBlock == block && !uploadFired.corrupt) flags.corrupted = uploadFired.corrupt = true;
    if (u.dropReplyAtBlock == block && !uploadFired.drop) flags.dropped = uploadFired.drop = true;
    if (u.slowAckAtBlock == block && !uploadFired.slow) {
        uploadFired.slow = true;
        pausedUntilUs = std::max(pausedUntilUs, NowUs() + RealUsOfLinkMs(u.slowAckMs));
    }
    ReplyCommand(kCodeAck, flags);
}

void SimReceiver::Impl::OnUploadEnd(const SimOptions& o) {
    const bool first = !uploadEnded;
    UploadRecord summary;
    WithUpload([&](UploadRecord& r) {
        ++r.endCodes;
        if (first) {
            r.complete = r.image.size() >= r.announcedLength;
            if (r.complete) {
                r.image.resize(r.announcedLength);
                r.imageCrc = Crc32(r.image);
            }
        }
        summary.complete = r.complete;
        summary.announcedLength = r.announcedLength;
        summary.imageCrc = r.imageCrc;
        summary.payloadBytes = r.image.size();
    });
    if (first) {
        uploadEnded = true;
        phase = Phase::Idle;
        if (summary.complete)
            Event(SimEvent::Type::UploadComplete, "upload complete: " + std::to_string(summary.announcedLength) +
                                                      " bytes, CRC-32 " + Hex32(summary.imageCrc));
        else
            Event(SimEvent::Type::UploadComplete, "upload ended short: " + std::to_string(summary.payloadBytes) +
                                                      " of " + std::to_string(summary.announcedLength) + " bytes");
    }
    if (o.upload.ignoreEndCodes < 0 || endCodesIgnored < o.upload.ignoreEndCodes) {
        ++endCodesIgnored;
        return;
    }
    ReplyCommand(o.upload.answerDoneAtEnd ? kCodeUploadDone : kCodeAck);
}

void SimReceiver::Impl::OnUploadAbortedByProgram() {
    WithUpload([](UploadRecord& r) { r.aborted = true; });
    phase = Phase::Idle;
    Event(SimEvent::Type::UploadAborted, "program aborted the upload at block " + std::to_string(uploadBlock));
}

// ============================================================ read-back

void SimReceiver::Impl::WithReadBack(const std::function<void(ReadBackRecord&)>& fn) {
    std::lock_guard lock(mutex);
    if (readBackLatest) fn(*readBackLatest);
    NotifyLocked();
}

void SimReceiver::Impl::OnReadBackRequest(std::uint16_t code, const SimOptions& o) {
    // The program asking again while we serve means it missed our 18: start over.
    if (phase != Phase::ReadBack) LeavePhase("transfer cut short by a read-back request");
    ++readBackRequests;
    if (readBackRequests <= o.readBack.silentRequests) return;
    if (o.readBack.standbyFirst && !readBackStandbySent) {
        readBackStandbySent = true;
        phase = Phase::Idle;
        ReplyCommand(kCodeStandBy);
        return;
    }
    BeginReadBack(code, o);
}

void SimReceiver::Impl::BeginReadBack(std::uint16_t requestCode, const SimOptions& o) {
    if (phase != Phase::ReadBack) LeavePhase("transfer cut short by a read-back");
    rb = ReadBackState{};
    rb.o = o.readBack;
    rb.o.firstPayloadSize = std::max(kLengthHeaderSize, rb.o.firstPayloadSize);
    rb.o.sliceSize = std::max(1, rb.o.sliceSize);
    rb.image = CurrentReadBackImage();
    rb.sendLength = rb.image.size() - (rb.o.omitLastByte && !rb.image.empty() ? 1 : 0);
    rb.announced = rb.o.announcedLength.value_or(std::uint32_t(rb.image.size()));
    const std::size_t inFirst = std::min(std::size_t(rb.o.firstPayloadSize - kLengthHeaderSize), rb.sendLength);
    const std::size_t rest = rb.sendLength - inFirst;
    rb.frameCount = 1 + int((rest + std::size_t(rb.o.sliceSize) - 1) / std::size_t(rb.o.sliceSize));
    {
        std::lock_guard lock(mutex);
        if (readBackLatest) readBacksDone.push_back(std::move(*readBackLatest));
        ReadBackRecord record;
        record.requestCode = requestCode;
        record.announcedLength = rb.announced;
        readBackLatest = record;
        NotifyLocked();
    }
    phase = Phase::ReadBack;
    ReplyCommand(kCodeReadBackReady);
    SendReadBackBlock(1);
    Event(SimEvent::Type::ReadBackStarted, "read-back started: request code " + std::to_string(requestCode) +
                                               ", announcing " + std::to_string(rb.announced) + " bytes in " +
                                               std::to_string(rb.frameCount) + " frames");
}

Bytes SimReceiver::Impl::ReadBackPayload(int block) const {
    const std::size_t inFirst = std::size_t(rb.o.firstPayloadSize - kLengthHeaderSize);
    auto slice = [&](std::size_t from, std::size_t count) {
        from = std::min(from, rb.sendLength);
        const std::size_t to = std::min(from + count, rb.sendLength);
        return Bytes(rb.image.begin() + std::ptrdiff_t(from), rb.image.begin() + std::ptrdiff_t(to));
    };
    if (block == 1) {
        Bytes payload(kLengthHeaderSize);
        WriteBigEndian32(payload.data(), rb.announced);
        const Bytes first = slice(0, inFirst);
        payload.insert(payload.end(), first.begin(), first.end());
        return payload;
    }
    return slice(inFirst + std::size_t(block - 2) * std::size_t(rb.o.sliceSize), std::size_t(rb.o.sliceSize));
}

void SimReceiver::Impl::SendReadBackBlock(int block) {
    FrameFlags flags;
    if (block == rb.o.shortFrameAtBlock && rb.shortSent < rb.o.shortFrameCount) {
        ++rb.shortSent;
        flags.truncated = true;
    } else if (block == rb.o.corruptCrcAtBlock && !rb.crcCorrupted) {
        rb.crcCorrupted = true;
        flags.corrupted = true;
    }
    rb.current = block;
    rb.lastActivityUs = NowUs();
    ReplyData(ReadBackPayload(block), flags);
    WithReadBack([](ReadBackRecord& r) { ++r.framesSent; });
}

void SimReceiver::Impl::OnReadBackAck() {
    if (rb.endSent) {
        phase = Phase::Idle;
        WithReadBack([](ReadBackRecord& r) { r.finished = true; });
        Event(SimEvent::Type::ReadBackFinished, "read-back finished");
        return;
    }
    if (rb.o.repeatAfterBlock == rb.current && !rb.repeatAsked) {
        rb.repeatAsked = true;
        ReplyCommand(kCodeRepeat);
        return;
    }
    const std::size_t payload = ReadBackPayload(rb.current).size();
    const std::size_t imageBytes = rb.current == 1 ? payload - kLengthHeaderSize : payload;
    WithReadBack([&](ReadBackRecord& r) {
        ++r.blocksAcknowledged;
        r.imageBytesSent += imageBytes;
    });
    if (rb.current < rb.frameCount) {
        SendReadBackBlock(rb.current + 1);
        return;
    }
    rb.endSent = true;
    rb.lastActivityUs = NowUs();
    ReplyCommand(rb.o.endCode);
    WithReadBack([](ReadBackRecord& r) { r.endSent = true; });
}

void SimReceiver::Impl::OnReadBackRepeat() {
    rb.lastActivityUs = NowUs();
    if (rb.endSent) ReplyCommand(rb.o.endCode);
    else SendReadBackBlock(rb.current);
}

void SimReceiver::Impl::OnReadBackSpeedChange() {
    WithReadBack([](ReadBackRecord& r) { r.speedChangeRequested = true; });
    Event(SimEvent::Type::SpeedChange, "program asked for 57600 baud");
    if (rb.awaitingSpeed) return;
    rb.awaitingSpeed = true;
    ResendWhenSlow(NowUs() + RealUsOfLinkMs(rb.o.speedChangeWaitMs));
}

void SimReceiver::Impl::ResendWhenSlow(std::int64_t deadlineUs) {
    if (phase != Phase::ReadBack) {
        rb.awaitingSpeed = false;
        return;
    }
    // The program switches its own line a little after it asks; what we send
    // before that would be lost to the speed mismatch on a real line.
    if (Baud() == kBaudSlow || NowUs() >= deadlineUs) {
        rb.awaitingSpeed = false;
        OnReadBackRepeat();
        return;
    }
    After(2000, [this, deadlineUs] { ResendWhenSlow(deadlineUs); });
}

}  // namespace tarven::sim
