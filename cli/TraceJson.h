// --trace=json: the run as one JSON object per line on standard error, for
// scripts (bench/) that would otherwise have to read the human trace.
//
//   {"t":12.345678,"event":"sent","kind":"command","code":18,"bytes":12}
//   {"t":...,"event":"sent","kind":"data","payload":4100,"bytes":4116,"crc":"1a2b3c4d"}
//   {"t":...,"event":"received","kind":"data","payload":4096,"crc":"good"}   (or "bad", "too large")
//   {"t":...,"event":"received","kind":"command","code":0}
//   {"t":...,"event":"received","kind":"timeout"}                  (or "short", "bad magic", "no memory")
//   {"t":...,"event":"progress","total_kb":1028}                   (or "position_kb")
//   {"t":...,"event":"version"}
//   {"t":...,"event":"finished","result":0,"unconfirmed":false}
//   {"t":...,"event":"ended","how":"finished"}     (or "version", "timed out", "vanished", "interrupted")
//
// t is seconds on the monotonic clock (CLOCK_MONOTONIC on Linux, the clock of
// Python's time.monotonic()), taken when the event happened, not when a
// reader got the line. Other messages on standard error are not JSON.
// Thread ownership: frames come from the worker thread, the rest from the main
// thread; each line goes out in one write, so lines never interleave.
#pragma once

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <string>

#include "Frames.h"
#include "LinkEngine.h"

namespace tarven::cli {

class JsonTrace final : public FrameTracer {
public:
    explicit JsonTrace(std::FILE* err = stderr) : err_(err) {}

    void Sent(const std::uint8_t* frame, std::size_t size) override {
        if (size < std::size_t(kFrameHeaderSize)) return Line("sent", "\"kind\":\"incomplete\",\"bytes\":" + Num(size));
        const int code = frame[8] << 8 | frame[9];
        if (code != kCodeDataMarker) return Line("sent", Command(code) + ",\"bytes\":" + Num(size));
        const std::size_t payload = size >= std::size_t(kDataFrameOverhead) ? size - kDataFrameOverhead : 0;
        char crc[16];
        std::snprintf(crc, sizeof crc, "%08" PRIx32, ReadBigEndian32(frame + size - 4));
        Line("sent",
             "\"kind\":\"data\",\"payload\":" + Num(payload) + ",\"bytes\":" + Num(size) + ",\"crc\":\"" + crc + "\"");
    }

    void Received(int result, std::uint32_t payloadLength) override {
        const std::string data = "\"kind\":\"data\",\"payload\":" + Num(payloadLength) + ",\"crc\":";
        switch (result) {
            case kRecvDataFrame: return Line("received", data + "\"good\"");
            case kRecvBadCrc: return Line("received", data + "\"bad\"");
            case kRecvTooLarge: return Line("received", data + "\"too large\"");
            case kRecvShortFrame: return Line("received", "\"kind\":\"short\"");
            case kRecvTimeout: return Line("received", "\"kind\":\"timeout\"");
            case kRecvBadMagic: return Line("received", "\"kind\":\"bad magic\"");
            case kRecvNoMemory: return Line("received", "\"kind\":\"no memory\"");
            default: return Line("received", Command(result));
        }
    }

    void Total(long kb) { Line("progress", "\"total_kb\":" + Num(kb)); }
    void Position(long kb) { Line("progress", "\"position_kb\":" + Num(kb)); }
    void VersionReady() { Line("version", ""); }
    void Finished(int result, bool unconfirmed) {
        Line("finished", "\"result\":" + Num(result) + ",\"unconfirmed\":" + (unconfirmed ? "true" : "false"));
    }
    // How the watching loop ended; frames the stopping worker still reports are no traffic.
    void Ended(const char* how) {
        Line("ended", std::string("\"how\":\"") + how + "\"");
        muted_.store(true);
    }

private:
    template <class N>
    static std::string Num(N n) {
        return std::to_string(n);
    }
    static std::string Command(int code) { return "\"kind\":\"command\",\"code\":" + Num(code); }

    void Line(const char* event, const std::string& fields) {
        if (muted_.load()) return;
        const double t = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
        char head[64];
        std::snprintf(head, sizeof head, "{\"t\":%.6f,\"event\":\"%s\"", t, event);
        const std::string line = head + (fields.empty() ? std::string() : "," + fields) + "}\n";
        std::fputs(line.c_str(), err_);
        std::fflush(err_);
    }

    std::FILE* err_;
    std::atomic<bool> muted_{false};
};

}  // namespace tarven::cli
