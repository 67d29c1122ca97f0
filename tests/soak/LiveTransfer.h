// One transfer between the engine's worker and a simulated receiver, set up
// the way the program sets up a run: COM1 mapped to the simulator's device,
// the engine opening it, the worker started with a notifier.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "LinkEngine.h"
#include "LinkSession.h"
#include "SimReceiver.h"
#include "SoakRun.h"
#include "SoakSupport.h"

namespace tarven::soak {

class LiveTransfer {
public:
    // Writes the image file (upload) or serves the image (read-back).
    LiveTransfer(Transfer transfer, const sim::SimOptions& options, const Bytes& image, std::int32_t kind);
    // Stops the worker, tears the engine down, removes the files.
    ~LiveTransfer();
    LiveTransfer(const LiveTransfer&) = delete;
    LiveTransfer& operator=(const LiveTransfer&) = delete;

    bool Opened() const { return session_ && session_->Engine().HasPort(); }
    bool Start();
    // Stops the worker, timed: its real milliseconds.
    double Stop();
    bool Running() const { return session_ && session_->Running(); }
    bool DeviceGone() const { return session_ && session_->DeviceGone(); }
    // Deletes the engine (closing its port and file) and drops the COM1 mapping.
    void TearDown();

    sim::SimReceiver& Sim() { return *sim_; }
    const std::string& File() const { return file_; }
    // What a read-back received: the file once a whole image took its place,
    // else what the run kept beside it.
    std::string Arrived() const;
    Transfer Kind() const { return transfer_; }
    // Where the run is, from the frames the engine has sent and received so far.
    std::string Phase() const;

    FrameLog log;
    SoakNotifier notifier;

private:
    Transfer transfer_;
    std::string dir_, file_;
    std::unique_ptr<sim::SimReceiver> sim_;
    std::unique_ptr<LinkSession> session_;
};

}  // namespace tarven::soak
