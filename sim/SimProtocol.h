// The simulated receiver's side of the three exchanges: what it answers to
// the version request, how it takes an upload, and how it serves a read-back.
// Thread ownership: the line thread alone; no member is locked.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "SimLine.h"

namespace tarven::sim {

class SimProtocol {
public:
    SimProtocol(SimLine& line, SimShared& shared, OptionsView& options)
        : line_(line), shared_(shared), options_(options) {}

    // A frame from the program that no hook took.
    void Dispatch(const ParsedFrame& frame);
    // Resends the last read-back frame when the program stays quiet.
    void Tick(std::int64_t now);
    // Starts a read-back unprompted, as a receiver's own menu does.
    void StartReadBack();

private:
    enum class Phase { Idle, Version, UploadAwaitStart, UploadReceiving, ReadBack };

    bool DispatchInPhase(const ParsedFrame& frame, const SimOptions& o);
    bool DispatchUpload(const ParsedFrame& frame, const SimOptions& o);
    void DispatchIdle(std::uint16_t code, const SimOptions& o);
    void LeavePhase(const char* why);

    void ReplyCommand(std::uint16_t code, FrameFlags flags = {});
    void ReplyData(const Bytes& payload, FrameFlags flags = {});
    void ResendLastReply();

    void OnVersionRequest(const SimOptions& o);
    void StartVersionAnswer(const SimOptions& o);
    void OnVersionAck();

    void OnPreamble(const SimOptions& o);
    void BeginUpload(std::uint16_t startCode, bool preamble);
    bool PlayUploadFault(int block, const UploadOptions& u);
    void OnUploadData(const ParsedFrame& frame, const SimOptions& o);
    void OnUploadEnd(const SimOptions& o);
    void OnUploadAbortedByProgram();

    void OnReadBackRequest(std::uint16_t code, const SimOptions& o);
    void BeginReadBack(std::uint16_t requestCode, const SimOptions& o);
    Bytes ReadBackPayload(int block) const;
    void SendReadBackBlock(int block);
    void OnReadBackAck();
    void OnReadBackRepeat();
    void OnReadBackSpeedChange();
    void ResendWhenSlow(std::int64_t deadlineUs);

    SimLine& line_;
    SimShared& shared_;
    OptionsView& options_;
    Phase phase_ = Phase::Idle;
    // The last frame the behaviour sent, for the program's repeat request (1).
    LineFrame lastReply_;

    // Version query.
    int versionRequests_ = 0;
    bool versionStandbySent_ = false;
    std::vector<Bytes> versionChunks_;
    std::size_t versionStep_ = 0;  // frame awaiting its acknowledgement; == chunks: the end code
    std::uint16_t versionEndCode_ = kCodeVersionEnd;

    // Upload.
    int preambles_ = 0;
    int uploadBlock_ = 0;  // number of the block expected next
    struct UploadFaultsFired {
        bool speed = false, repeat = false, abort = false, corrupt = false, drop = false, slow = false;
    } uploadFired_;
    int endCodesIgnored_ = 0;
    bool uploadEnded_ = false;  // an upload took its end code: later end codes are answered again

    // Read-back.
    int readBackRequests_ = 0;
    bool readBackStandbySent_ = false;
    struct ReadBackState {
        Bytes image;
        std::uint32_t announced = 0;
        std::size_t sendLength = 0;  // image bytes that go out
        int frameCount = 0;
        int current = 0;  // block sent last
        bool endSent = false;
        int shortSent = 0;
        bool crcCorrupted = false;
        bool repeatAsked = false;
        bool awaitingSpeed = false;
        std::int64_t lastActivityUs = 0;
        ReadBackOptions o;
    } rb_;
};

}  // namespace tarven::sim
