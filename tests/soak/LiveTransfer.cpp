#include "LiveTransfer.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "PortAccess.h"

namespace tarven::soak {

LiveTransfer::LiveTransfer(Transfer transfer, const sim::SimOptions& options, const Bytes& image, std::int32_t kind)
    : transfer_(transfer) {
    char pattern[] = "/tmp/tarven-soak-XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("no temporary folder");
    dir_ = pattern;
    file_ = dir_ + (transfer == Transfer::Upload ? "/image.bin" : "/readback.bin");
    if (transfer == Transfer::Upload) {
        std::ofstream out(file_, std::ios::binary);
        out.write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    }
    sim_ = std::make_unique<sim::SimReceiver>(options);
    if (transfer == Transfer::ReadBack) sim_->SetReadBackImage(image);
    const RunRequest request{.mode = transfer == Transfer::Upload ? LinkMode::Upload : LinkMode::ReadBack,
                             .fileName = file_,
                             .kind = ImageKind(kind)};
    session_ = std::make_unique<LinkSession>(request, LinkTime(),
                                             OpenDevice(sim_->DevicePath(), PortSettingsFor(request.portIndex)), &log);
}

LiveTransfer::~LiveTransfer() {
    TearDown();
    sim_.reset();
    ::unlink(file_.c_str());
    ::unlink((file_ + ".partial").c_str());
    ::rmdir(dir_.c_str());
}

std::string LiveTransfer::Arrived() const { return ::access(file_.c_str(), F_OK) == 0 ? file_ : file_ + ".partial"; }

bool LiveTransfer::Start() { return session_ && session_->Start(&notifier); }

double LiveTransfer::Stop() {
    const auto start = std::chrono::steady_clock::now();
    if (session_) session_->Stop();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void LiveTransfer::TearDown() {
    if (!session_) return;
    session_.reset();
}

std::string LiveTransfer::Phase() const {
    if (notifier.Result() >= 0) return "finished";
    const auto codes = log.SentCodes();
    const auto results = log.Results();
    const auto has = [](const auto& list, int value) {
        return std::find(list.begin(), list.end(), value) != list.end();
    };
    if (transfer_ == Transfer::Upload) {
        if (has(codes, kCodeEndOfImage)) return "ending";
        if (log.SentDataFrames() > 0) return "blocks";
        if (codes.empty()) return "reading file";
        if (codes.back() == kCodeUploadPreamble && !has(results, kCodeStandBy)) return "preamble wait";
        return "start pause";
    }
    if (has(results, kCodeReadBackReady)) return "data";
    return "request wait";
}

}  // namespace tarven::soak
