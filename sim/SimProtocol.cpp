// Thread ownership: the line thread alone; no member is locked.
// The receiver's side of the exchanges: dispatch by phase, the version query
// and the upload (the read-back is in SimProtocolReadBack.cpp).
#include <algorithm>
#include <cstdio>

#include "SimProtocol.h"
#include "SimReceiver.h"

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

void SimProtocol::Dispatch(const ParsedFrame& frame) {
    const SimOptions o = options_.Get();
    if (phase_ == Phase::ReadBack) rb_.lastActivityUs = NowUs();
    if (DispatchInPhase(frame, o)) return;
    switch (frame.kind) {
        case ParsedFrame::Kind::BadMagic: line_.Anomaly("12 bytes without the frame magic"); return;
        case ParsedFrame::Kind::Data:
        case ParsedFrame::Kind::BadCrc:
        case ParsedFrame::Kind::Short: line_.Anomaly("data frame outside an upload"); return;
        case ParsedFrame::Kind::Command: DispatchIdle(frame.code, o); return;
    }
}

bool SimProtocol::DispatchInPhase(const ParsedFrame& frame, const SimOptions& o) {
    const bool command = frame.kind == ParsedFrame::Kind::Command;
    const std::uint16_t code = frame.code;
    switch (phase_) {
        case Phase::Idle: return false;
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
        case Phase::UploadReceiving: return DispatchUpload(frame, o);
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

bool SimProtocol::DispatchUpload(const ParsedFrame& frame, const SimOptions& o) {
    switch (frame.kind) {
        case ParsedFrame::Kind::Data:
        case ParsedFrame::Kind::BadCrc:
        case ParsedFrame::Kind::Short: OnUploadData(frame, o); return true;
        case ParsedFrame::Kind::BadMagic:
            // Line noise; the program repeats once it misses our answer.
            line_.Anomaly("12 bytes without the frame magic during an upload");
            return true;
        case ParsedFrame::Kind::Command:
            if (frame.code == kCodeEndOfImage) OnUploadEnd(o);
            else if (frame.code == kCodeRepeat) ResendLastReply();
            else if (frame.code == kCodeAbort) OnUploadAbortedByProgram();
            else return false;
            return true;
    }
    return false;
}

void SimProtocol::DispatchIdle(std::uint16_t code, const SimOptions& o) {
    switch (code) {
        case kCodeVersionRequest: OnVersionRequest(o); return;
        case kCodeUploadPreamble: OnPreamble(o); return;
        case kCodeChipStart:
            LeavePhase("transfer cut short by a start code");
            BeginUpload(code, false);
            return;
        case 32:
        case 51:
        case kCodeStandBy: OnReadBackRequest(code, o); return;
        case kCodeEndOfImage:
            if (uploadEnded_ && phase_ == Phase::Idle) OnUploadEnd(o);
            else line_.Anomaly("end code 19 outside an upload");
            return;
        case kCodeRepeat: ResendLastReply(); return;
        case kCodeAck: return;  // a stray acknowledgement asks for nothing
        case kCodeAbort: line_.Anomaly("program sent 2 (abort) outside an upload"); return;
        default:
            if (MeaningOfStartCode(code).isStartCode)
                line_.Anomaly("start code " + std::to_string(code) + " without a preamble: ignored");
            else line_.Anomaly("unexpected code " + std::to_string(code));
            return;
    }
}

void SimProtocol::LeavePhase(const char* why) {
    if (phase_ == Phase::Idle) return;
    if (phase_ == Phase::UploadReceiving || phase_ == Phase::UploadAwaitStart) {
        if (phase_ == Phase::UploadReceiving) {
            shared_.WithUpload([](UploadRecord& r) { r.aborted = true; });
            line_.Event(SimEvent::Type::UploadAborted, std::string("upload abandoned: ") + why);
        }
    }
    if (phase_ != Phase::UploadAwaitStart) line_.Anomaly(why);
    phase_ = Phase::Idle;
}

// ============================================================ replies

void SimProtocol::ReplyCommand(std::uint16_t code, FrameFlags flags) {
    const CommandFrame frame = EncodeCommandFrame(code);
    Bytes wire(frame.begin(), frame.end());
    lastReply_ = LineFrame{FrameKind::Command, code, {}, wire, {}};
    if (flags.corrupted) wire[std::size_t(code) % kFrameMagic.size()] ^= 0x20;  // still 12 bytes, wrong magic
    line_.Queue(Send::Reply, LineFrame{FrameKind::Command, code, {}, std::move(wire), flags});
}

void SimProtocol::ReplyData(const Bytes& payload, FrameFlags flags) {
    Bytes wire = DataFrame(payload);
    lastReply_ = LineFrame{FrameKind::Data, kCodeDataMarker, payload, wire, {}};
    if (flags.corrupted) wire.back() ^= 0x01;
    if (flags.truncated) wire.resize(std::size_t(kFrameHeaderSize) + (payload.size() + kCrcSize) / 2);
    line_.Queue(Send::Reply, LineFrame{FrameKind::Data, kCodeDataMarker, payload, std::move(wire), flags});
}

void SimProtocol::ResendLastReply() {
    if (lastReply_.wire.empty()) return;
    line_.Queue(Send::Reply, lastReply_);
}

// ============================================================ version query

void SimProtocol::OnVersionRequest(const SimOptions& o) {
    if (phase_ != Phase::Version) LeavePhase("transfer cut short by a version request");
    ++versionRequests_;
    if (versionRequests_ <= o.version.silentRequests) return;
    if (o.version.standbyFirst && !versionStandbySent_) {
        versionStandbySent_ = true;
        phase_ = Phase::Idle;
        ReplyCommand(kCodeStandBy);
        if (o.version.standbyAnswerAfterMs >= 0)
            line_.After(RealUsOfLinkMs(o.version.standbyAnswerAfterMs), [this] { StartVersionAnswer(options_.Get()); });
        return;
    }
    StartVersionAnswer(o);
}

void SimProtocol::StartVersionAnswer(const SimOptions& o) {
    const Bytes block = o.version.block ? *o.version.block : MakeVersionBlock(o.version.hardware, o.version.software);
    versionChunks_.clear();
    if (!o.version.endCodeOnly && !block.empty()) {
        const std::size_t parts = std::clamp<std::size_t>(std::size_t(std::max(1, o.version.split)), 1, block.size());
        std::size_t at = 0;
        for (std::size_t i = 0; i < parts; ++i) {
            const std::size_t size = block.size() / parts + (i < block.size() % parts ? 1 : 0);
            versionChunks_.emplace_back(block.begin() + std::ptrdiff_t(at), block.begin() + std::ptrdiff_t(at + size));
            at += size;
        }
    }
    versionEndCode_ = o.version.endCode;
    versionStep_ = 0;
    phase_ = Phase::Version;
    if (versionChunks_.empty()) ReplyCommand(versionEndCode_);
    else ReplyData(versionChunks_[0]);
}

void SimProtocol::OnVersionAck() {
    if (versionStep_ < versionChunks_.size()) {
        ++versionStep_;
        if (versionStep_ < versionChunks_.size()) ReplyData(versionChunks_[versionStep_]);
        else ReplyCommand(versionEndCode_);
        return;
    }
    phase_ = Phase::Idle;
    shared_.CountVersionAnswer();
    line_.Event(SimEvent::Type::VersionAnswered, "version answered");
}

// ============================================================ upload

void SimProtocol::OnPreamble(const SimOptions& o) {
    LeavePhase("transfer cut short by a new preamble");
    ++preambles_;
    if (preambles_ <= o.upload.silentPreambles) return;
    phase_ = Phase::UploadAwaitStart;
    ReplyCommand(kCodeStandBy);
}

void SimProtocol::BeginUpload(std::uint16_t startCode, bool preamble) {
    const StartCodeMeaning meaning = MeaningOfStartCode(startCode);
    UploadRecord record;
    record.startCode = startCode;
    record.preamble = preamble;
    record.kind = meaning.kind;
    record.accessLevel = meaning.accessLevel;
    shared_.BeginUpload(std::move(record));
    phase_ = Phase::UploadReceiving;
    uploadBlock_ = 1;
    uploadFired_ = {};
    endCodesIgnored_ = 0;
    uploadEnded_ = false;
    line_.Event(SimEvent::Type::UploadStarted,
                "upload started: start code " + std::to_string(startCode) +
                    (meaning.kind ? ", kind " + std::to_string(meaning.kind) : std::string()));
}

// Plays the fault set for this block that answers in place of taking it;
// true when one did.
bool SimProtocol::PlayUploadFault(int block, const UploadOptions& u) {
    if (u.abortAtBlock == block && !uploadFired_.abort) {
        uploadFired_.abort = true;
        ReplyCommand(kCodeAbort);
        shared_.WithUpload([](UploadRecord& r) { r.aborted = true; });
        phase_ = Phase::Idle;
        line_.Event(SimEvent::Type::UploadAborted, "receiver aborted the upload at block " + std::to_string(block));
        return true;
    }
    if (u.speedChangeAtBlock == block && !uploadFired_.speed) {
        uploadFired_.speed = true;
        ReplyCommand(kCodeSpeedChange);
        line_.Event(SimEvent::Type::SpeedChange, "asked for 57600 baud at block " + std::to_string(block));
        return true;
    }
    if (u.repeatAtBlock == block && !uploadFired_.repeat) {
        uploadFired_.repeat = true;
        ReplyCommand(kCodeRepeat);
        return true;
    }
    return false;
}

void SimProtocol::OnUploadData(const ParsedFrame& frame, const SimOptions& o) {
    const UploadOptions& u = o.upload;
    const int block = uploadBlock_;
    if (frame.kind != ParsedFrame::Kind::Data) {
        shared_.WithUpload([](UploadRecord& r) { ++r.refusedFrames; });
        ReplyCommand(kCodeRepeat);
        return;
    }
    if (PlayUploadFault(block, u)) return;
    const Bytes& payload = frame.payload;
    shared_.WithUpload([&](UploadRecord& r) {
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
        line_.Anomaly("first block carries " + std::to_string(payload.size()) + " bytes, not " +
                      std::to_string(kFirstBlockSize));
    if (block > 1 && payload.size() > std::size_t(kBlockSize))
        line_.Anomaly("block " + std::to_string(block) + " carries " + std::to_string(payload.size()) + " bytes");
    ++uploadBlock_;
    FrameFlags flags;
    if (u.corruptReplyAtBlock == block && !uploadFired_.corrupt) flags.corrupted = uploadFired_.corrupt = true;
    if (u.dropReplyAtBlock == block && !uploadFired_.drop) flags.dropped = uploadFired_.drop = true;
    if (u.slowAckAtBlock == block && !uploadFired_.slow) {
        uploadFired_.slow = true;
        line_.HoldOutputUntil(NowUs() + RealUsOfLinkMs(u.slowAckMs));
    }
    ReplyCommand(kCodeAck, flags);
}

void SimProtocol::OnUploadEnd(const SimOptions& o) {
    const bool first = !uploadEnded_;
    UploadRecord summary;
    shared_.WithUpload([&](UploadRecord& r) {
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
        uploadEnded_ = true;
        phase_ = Phase::Idle;
        if (summary.complete)
            line_.Event(SimEvent::Type::UploadComplete, "upload complete: " + std::to_string(summary.announcedLength) +
                                                            " bytes, CRC-32 " + Hex32(summary.imageCrc));
        else
            line_.Event(SimEvent::Type::UploadComplete, "upload ended short: " + std::to_string(summary.payloadBytes) +
                                                            " of " + std::to_string(summary.announcedLength) +
                                                            " bytes");
    }
    if (o.upload.ignoreEndCodes < 0 || endCodesIgnored_ < o.upload.ignoreEndCodes) {
        ++endCodesIgnored_;
        return;
    }
    ReplyCommand(o.upload.answerDoneAtEnd ? kCodeUploadDone : kCodeAck);
}

void SimProtocol::OnUploadAbortedByProgram() {
    shared_.WithUpload([](UploadRecord& r) { r.aborted = true; });
    phase_ = Phase::Idle;
    line_.Event(SimEvent::Type::UploadAborted, "program aborted the upload at block " + std::to_string(uploadBlock_));
}

}  // namespace tarven::sim
