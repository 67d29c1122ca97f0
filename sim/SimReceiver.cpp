// Thread ownership: callers on any thread; Run() and the callbacks on the line thread.
// The simulated receiver as its users see it: the line thread that drives the
// line and the protocol, the callbacks, and the public members.
#include "SimReceiver.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <thread>

#include "SimLine.h"
#include "SimProtocol.h"
#include "SimShared.h"

namespace tarven::sim {

struct SimReceiver::Impl {
    explicit Impl(SimOptions initial)
        : shared(std::move(initial)), options(shared), line(shared, options), protocol(line, shared, options) {
        thread = std::jthread([this](std::stop_token stop) { Run(stop); });
    }
    ~Impl() {
        thread.request_stop();
        line.Wake();
        if (thread.joinable()) thread.join();
    }

    // Runs `fn` on the line thread.
    void Post(std::function<void()> fn) {
        shared.Post(std::move(fn));
        line.Wake();
    }
    void Run(std::stop_token stop);
    void RunPosted();
    void HandleFrame(const SimLine::Received& received);
    void FlushEvents();

    SimShared shared;
    OptionsView options;  // the line thread's copy
    SimLine line;
    SimProtocol protocol;
    // Held while a callback runs, so that replacing one waits for a call in
    // progress. Recursive: a callback may replace itself.
    std::recursive_mutex callbackMutex;
    FrameHook hook;
    EventCallback eventCallback;
    std::jthread thread;  // last: starts once everything above is built
};

// ============================================================ the line thread

void SimReceiver::Impl::RunPosted() {
    std::vector<std::function<void()>> batch = shared.TakePosted();
    for (auto& fn : batch) fn();
    if (line.OutputEmpty() && !batch.empty()) shared.SetOutputIdle(true);
}

void SimReceiver::Impl::HandleFrame(const SimLine::Received& received) {
    std::optional<std::vector<Outgoing>> answer;
    {
        std::lock_guard lock(callbackMutex);
        if (hook) answer = hook(received.record);
    }
    if (answer) {
        for (const Outgoing& item : *answer) line.QueueOutgoing(Send::Reply, item);
        return;
    }
    protocol.Dispatch(received.frame);
}

void SimReceiver::Impl::FlushEvents() {
    const std::vector<SimEvent> batch = line.TakeEvents();
    if (batch.empty()) return;
    std::lock_guard lock(callbackMutex);
    for (const SimEvent& event : batch)
        if (eventCallback) eventCallback(event);
}

void SimReceiver::Impl::Run(std::stop_token stop) {
    while (!stop.stop_requested()) {
        RunPosted();
        if (!line.Vanished()) line.ReadInput(NowUs());
        std::int64_t now = NowUs();
        while (auto received = line.NextFrame(now)) {
            HandleFrame(*received);
            FlushEvents();
        }
        line.RunTimers(now);
        line.Resync(now);
        protocol.Tick(now);
        line.EndSilence(now);
        const std::int64_t outputWake = line.Pump(NowUs());
        FlushEvents();
        line.Sleep(outputWake);
    }
}

// ============================================================ SimReceiver: the line

SimReceiver::SimReceiver(SimOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

SimReceiver::~SimReceiver() = default;

const std::string& SimReceiver::DevicePath() const { return impl_->line.DevicePath(); }

std::uint32_t SimReceiver::CurrentBaud() const { return impl_->line.BaudFromAnyThread(); }

void SimReceiver::Vanish() {
    Impl* impl = impl_.get();
    if (std::this_thread::get_id() == impl->thread.get_id()) {
        impl->line.Vanish();  // from a callback: the line thread is ours already
        return;
    }
    impl->Post([impl] { impl->line.Vanish(); });
    WaitFor([impl] { return impl->line.Vanished(); }, std::chrono::seconds(2));
}

bool SimReceiver::Vanished() const { return impl_->line.Vanished(); }

void SimReceiver::Pause(int ms) {
    Impl* impl = impl_.get();
    impl->Post([impl, ms] { impl->line.PauseFor(ms); });
}

void SimReceiver::GoSilent(int ms) {
    Impl* impl = impl_.get();
    impl->Post([impl, ms] { impl->line.GoSilent(ms); });
}

SerialPort& SimReceiver::MasterPort() { return impl_->line.Port(); }

// ============================================================ SimReceiver: configuration

SimOptions SimReceiver::Options() const { return impl_->shared.Options(); }

void SimReceiver::SetOptions(const SimOptions& options) {
    impl_->shared.UpdateOptions([&](SimOptions& o) { o = options; });
}

void SimReceiver::UpdateOptions(const std::function<void(SimOptions&)>& change) { impl_->shared.UpdateOptions(change); }

void SimReceiver::SetReadBackImage(Bytes image) { impl_->shared.SetReadBackImage(std::move(image)); }

bool SimReceiver::LoadReadBackImage(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    Bytes image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) return false;
    SetReadBackImage(std::move(image));
    return true;
}

Bytes SimReceiver::ReadBackImage() const { return impl_->shared.CurrentReadBackImage(); }

void SimReceiver::SetFrameHook(FrameHook hook) {
    std::lock_guard lock(impl_->callbackMutex);
    impl_->hook = std::move(hook);
}

void SimReceiver::SetEventCallback(EventCallback callback) {
    std::lock_guard lock(impl_->callbackMutex);
    impl_->eventCallback = std::move(callback);
}

// ============================================================ SimReceiver: direct output

void SimReceiver::SendCommand(std::uint16_t code) {
    Impl* impl = impl_.get();
    impl->Post([impl, code] { impl->line.QueueOutgoing(Send::Direct, Outgoing::Command(code)); });
}

void SimReceiver::SendData(Bytes payload) {
    Impl* impl = impl_.get();
    impl->Post([impl, p = std::move(payload)] { impl->line.QueueOutgoing(Send::Direct, Outgoing::Data(p)); });
}

void SimReceiver::SendRaw(Bytes bytes) {
    Impl* impl = impl_.get();
    impl->Post([impl, b = std::move(bytes)] { impl->line.QueueOutgoing(Send::Direct, Outgoing::Raw(b)); });
}

void SimReceiver::StartReadBack() {
    Impl* impl = impl_.get();
    impl->Post([impl] { impl->protocol.StartReadBack(); });
}

// ============================================================ SimReceiver: records

std::vector<FrameRecord> SimReceiver::Frames() const { return impl_->shared.Frames(); }
std::vector<FrameRecord> SimReceiver::ReceivedFrames() const { return impl_->shared.Frames(Direction::FromProgram); }
std::vector<FrameRecord> SimReceiver::SentFrames() const { return impl_->shared.Frames(Direction::ToProgram); }
std::vector<ByteChunk> SimReceiver::ByteLog() const { return impl_->shared.ByteLog(); }
Bytes SimReceiver::ReceivedBytes() const { return impl_->shared.AllBytes(Direction::FromProgram); }
Bytes SimReceiver::SentBytes() const { return impl_->shared.AllBytes(Direction::ToProgram); }
std::vector<UploadRecord> SimReceiver::Uploads() const { return impl_->shared.Uploads(); }
std::vector<ReadBackRecord> SimReceiver::ReadBacks() const { return impl_->shared.ReadBacks(); }
std::vector<SimEvent> SimReceiver::Events() const { return impl_->shared.Events(); }
int SimReceiver::VersionAnswers() const { return impl_->shared.VersionAnswers(); }
std::vector<std::uint16_t> SimReceiver::ReceivedCodes() const { return impl_->shared.ReceivedCodes(); }
void SimReceiver::ClearRecords() { impl_->shared.ClearRecords(); }

// ============================================================ SimReceiver: waiting

bool SimReceiver::WaitFor(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) {
    return impl_->shared.WaitFor(predicate, timeout);
}

bool SimReceiver::WaitForFrames(std::size_t receivedCount, std::chrono::milliseconds timeout) {
    return WaitFor([&] { return ReceivedFrames().size() >= receivedCount; }, timeout);
}

bool SimReceiver::WaitForCode(std::uint16_t code, std::chrono::milliseconds timeout, std::size_t occurrences) {
    return WaitFor(
        [&] {
            const auto codes = ReceivedCodes();
            return std::size_t(std::count(codes.begin(), codes.end(), code)) >= occurrences;
        },
        timeout);
}

bool SimReceiver::WaitForUpload(std::chrono::milliseconds timeout) {
    return WaitFor(
        [&] {
            const auto uploads = Uploads();
            return !uploads.empty() && uploads.back().endCodes > 0;
        },
        timeout);
}

bool SimReceiver::WaitForEvent(SimEvent::Type type, std::chrono::milliseconds timeout) {
    return WaitFor(
        [&] {
            const auto events = Events();
            return std::any_of(events.begin(), events.end(), [&](const SimEvent& e) { return e.type == type; });
        },
        timeout);
}

bool SimReceiver::WaitUntilSent(std::chrono::milliseconds timeout) {
    return WaitFor([&] { return impl_->shared.SentAll(); }, timeout);
}

std::size_t SimReceiver::UnreadByProgram() const { return impl_->line.UnreadByProgram(); }

bool SimReceiver::WaitUntilDelivered(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    if (!WaitUntilSent(timeout)) return false;
    // The program's reads change no record, so this one is polled.
    while (UnreadByProgram() > 0) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace tarven::sim
