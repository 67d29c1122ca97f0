#include "SerialPortWin.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstring>

#include "LinkConstants.h"

namespace tarven {
namespace {

constexpr DWORD kDriverQueueBytes = 16384;
// A read asks only for bytes already queued, so it completes at once; one the
// driver still holds after a slice is taken back, so a stop never waits on it.
constexpr DWORD kReadCompletionWaitMs = kWaitSliceMs;
// How often a wait for input looks at the input queue, on a handle whose
// driver took no read time-outs (the tests' pipes).
constexpr int kInputPollMs = 1;
// The longest a read on an empty queue stays in the driver's hands before it
// ends with nothing; it is then put back. Long, so a quiet line costs nothing.
constexpr DWORD kArrivalReadMs = 60000;
// Longest wait for the driver to hand back a cancelled transfer. The
// documentation promises the cancelled request completes; a driver wedged by
// a pulled adapter may never, and Annuler must still return.
constexpr DWORD kCancelWaitMs = 1000;
// What a pulled USB adapter answers: the handle stays, the device does not.
bool IsGoneError(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case ERROR_BAD_COMMAND:
        case ERROR_DEVICE_REMOVED:
        case ERROR_DEVICE_NOT_CONNECTED:
        case ERROR_GEN_FAILURE:
        case ERROR_INVALID_HANDLE:
        case ERROR_FILE_NOT_FOUND: return true;
        default: return false;
    }
}

HANDLE ManualResetEvent() { return ::CreateEventA(nullptr, TRUE, FALSE, nullptr); }

}  // namespace

PortHandle WinSerialPort::Open(const std::string& device, PortStatus* status) {
    auto fail = [&](PortState state, DWORD error) -> PortHandle {
        if (status) *status = PortStatus{state, device, int(error)};
        return nullptr;
    };
    if (device.empty()) return fail(PortState::NoDevice, 0);
    // No sharing: while we hold it nobody else opens it, this program included.
    HANDLE handle = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        return fail(PortStateFromWinError(error), error);
    }
    DCB found{};
    found.DCBlength = sizeof found;
    if (!::GetCommState(handle, &found)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(handle);
        return fail(PortState::NotATerminal, error);
    }
    PortHandle port = Adopt(handle, device);
    if (!port) return fail(PortState::OtherError, ::GetLastError());
    if (status) *status = PortStatus{PortState::Available, device, 0};
    return port;
}

PortHandle WinSerialPort::Adopt(HANDLE handle, std::string device, const CommCalls& calls) {
    HANDLE events[3] = {ManualResetEvent(), ManualResetEvent(), ManualResetEvent()};
    if (!events[0] || !events[1] || !events[2]) {
        for (HANDLE event : events)
            if (event) ::CloseHandle(event);
        ::CloseHandle(handle);
        return nullptr;
    }
    return PortHandle(new WinSerialPort(handle, std::move(device), calls, events[0], events[1], events[2]));
}

WinSerialPort::WinSerialPort(HANDLE handle, std::string device, const CommCalls& calls, HANDLE readEvent,
                             HANDLE writeEvent, HANDLE arrivalEvent)
    : handle_(handle),
      device_(std::move(device)),
      calls_(calls),
      readEvent_(readEvent),
      writeEvent_(writeEvent),
      arrivalEvent_(arrivalEvent),
      io_(std::make_unique<InFlight>()) {
    io_->readBuffer.resize(kDriverQueueBytes);
    io_->writeBuffer.resize(kDriverQueueBytes);
}

WinSerialPort::~WinSerialPort() {
    DiscardOutput();
    if (io_) FinishPending(io_->arrival, arrivalPending_);
    ::CloseHandle(handle_);
    if (wedged_) return;  // the driver may still write into the records and signal their events
    ::CloseHandle(readEvent_);
    ::CloseHandle(writeEvent_);
    ::CloseHandle(arrivalEvent_);
}

void WinSerialPort::ConfigureDriver() {
    ::SetupComm(handle_, kDriverQueueBytes, kDriverQueueBytes);
    // The documented special case of the read time-outs (interval and
    // multiplier MAXDWORD, a constant below it): a read returns at once with
    // what is queued, and on an empty queue as soon as the first byte comes,
    // or after the constant with nothing. So ReadQueued, which asks only for
    // queued bytes, never waits, and a one-byte read is a wait for input the
    // driver ends itself. WaitCommEvent would do as well on Windows, but wine
    // serves each one with a thread of its server polling the line, some
    // 3,000 wake-ups a second. Writes have no time-out of the driver's own
    // (the engine bounds its waits itself).
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = kArrivalReadMs;
    arrivalReads_ = calls_.setCommTimeouts(handle_, &timeouts) != 0;
}

int WinSerialPort::InputQueued() {
    if (wedged_) return kGone;
    DWORD errors = 0;
    COMSTAT state{};
    // Also clears the line's error state (framing, overrun, parity): the
    // frame magic and CRC catch what those errors damaged.
    if (!calls_.clearCommError(handle_, &errors, &state)) {
        gone_ = IsGoneError(::GetLastError());
        return gone_ ? kGone : 0;
    }
    gone_ = false;
    return int(std::min<DWORD>(state.cbInQue, INT_MAX));
}

void WinSerialPort::FinishPending(OVERLAPPED& record, bool& pending) {
    if (!pending) return;
    pending = false;
    if (wedged_) return;
    ::CancelIoEx(handle_, &record);
    if (::WaitForSingleObject(record.hEvent, kCancelWaitMs) == WAIT_OBJECT_0) {
        DWORD done = 0;
        ::GetOverlappedResult(handle_, &record, &done, FALSE);
        return;
    }
    // The driver still holds the transfer and its buffer. The port is given
    // up: every call reports the device gone, and what the driver may still
    // write into is never freed (see Wedge()).
    Wedge();
}

void WinSerialPort::Wedge() {
    wedged_ = true;
    gone_ = true;
    // Deliberately leaked, with the events: a wedged driver may still
    // complete into the records and buffers, and signal the events, later.
    (void)io_.release();
}

int WinSerialPort::ReadQueued(std::uint8_t* destination, int maxBytes) {
    if (maxBytes <= 0) return 0;
    if (wedged_) return kGone;
    // While the arrival read is in the driver's hands the queue was empty when
    // it was put there, and the driver gives the next byte to it first; a read
    // now would only queue behind it.
    if (!CollectArrival()) return InputQueued() == kGone ? kGone : 0;
    // What the driver already handed over came first on the line: it goes first.
    int given = TakeHeld(destination, maxBytes);
    if (given == maxBytes) return given;
    const int read = ReadFromQueue();
    if (read == kGone && given == 0) return kGone;
    return given + TakeHeld(destination + given, maxBytes - given);
}

int WinSerialPort::InputAvailable() {
    if (wedged_) return kUnknown;
    // A finished arrival read's bytes have come too; one still pending means
    // nothing has.
    if (!CollectArrival()) return 0;
    const int queued = InputQueued();
    return queued == kGone ? kUnknown : int(HeldCount()) + queued;
}

int WinSerialPort::TakeHeld(std::uint8_t* destination, int maxBytes) {
    const int n = std::min(maxBytes, int(held_.size() - heldAt_));
    if (n <= 0) return 0;
    std::memcpy(destination, held_.data() + heldAt_, std::size_t(n));
    heldAt_ += std::size_t(n);
    if (heldAt_ == held_.size()) {
        held_.clear();
        heldAt_ = 0;
    }
    return n;
}

int WinSerialPort::ReadFromQueue() {
    const int queued = InputQueued();
    if (queued == kGone) return kGone;
    // All that is queued, whatever the caller asked for: under wine every
    // read costs several server round trips, so a frame's header and the
    // body queued behind it come in one. What is not asked for is held.
    const DWORD wanted = DWORD(std::min(queued, int(io_->readBuffer.size())));
    if (wanted == 0) return 0;
    // ReadFile and WriteFile set the record's event to nonsignaled as they
    // start: resetting it first would cost a server round trip under wine.
    io_->read = OVERLAPPED{};
    io_->read.hEvent = readEvent_;
    DWORD got = 0;
    if (!::ReadFile(handle_, io_->readBuffer.data(), wanted, &got, &io_->read)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) {
            InputQueued();
            return IsGoneError(error) ? kGone : 0;
        }
        ::WaitForSingleObject(readEvent_, kReadCompletionWaitMs);
        if (!::GetOverlappedResult(handle_, &io_->read, &got, FALSE)) {
            // Still in the driver's hands: take it back before the buffer is
            // used again; whatever it gathered until then still counts.
            bool pending = true;
            FinishPending(io_->read, pending);
            if (wedged_) return kGone;
            got = DWORD(io_->read.InternalHigh);
            InputQueued();
        }
    }
    got = std::min(got, wanted);
    held_.insert(held_.end(), io_->readBuffer.data(), io_->readBuffer.data() + got);
    return int(got);
}

bool WinSerialPort::ArmArrivalRead() {
    if (arrivalPending_) return true;
    io_->arrival = OVERLAPPED{};
    io_->arrival.hEvent = arrivalEvent_;
    DWORD got = 0;
    // One byte: the documented time-outs end a longer read at its first byte
    // too, but under wine 8.0 a window's upload that asked for more stalled.
    if (::ReadFile(handle_, &io_->arrivalByte, 1, &got, &io_->arrival)) {
        // Answered at once: a byte had come since the queue was looked at.
        // Nothing at once would mean a driver that ignores the time-outs.
        if (got == 1) held_.push_back(io_->arrivalByte);
        else arrivalReads_ = false;
        return got == 1;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_IO_PENDING) {
        arrivalPending_ = true;
        return true;
    }
    if (IsGoneError(error)) gone_ = true;
    else arrivalReads_ = false;
    return false;
}

bool WinSerialPort::CollectArrival() {
    if (!arrivalPending_) return true;
    DWORD got = 0;
    if (!::GetOverlappedResult(handle_, &io_->arrival, &got, FALSE)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_IO_INCOMPLETE) return false;
        // Ended with nothing: the constant ran out, or the read was cancelled
        // (Windows cancels what a thread issued when the thread ends). A
        // failed read is a pulled adapter, or a driver whose reads cannot
        // wait (then the queue is looked at in slices from now on).
        const bool quiet = error == ERROR_OPERATION_ABORTED || error == ERROR_TIMEOUT || error == ERROR_SEM_TIMEOUT;
        if (IsGoneError(error)) gone_ = true;
        else if (!quiet) arrivalReads_ = false;
    } else if (got == 1) {
        held_.push_back(io_->arrivalByte);
    }
    // Nothing with success: the constant ran out on a quiet line.
    arrivalPending_ = false;
    return true;
}

void WinSerialPort::WaitForInput(int maxMs, const WakeEvent* wake) {
    if (maxMs <= 0 || HeldCount() > 0) return;
    if (wedged_ || !arrivalReads_) return SleepOrPoll(maxMs, wake);
    // A read still in the driver's hands stays there; one that has ended is
    // collected and, when it brought nothing, put back.
    if (CollectArrival()) {
        if (HeldCount() > 0) return;
        if (!ArmArrivalRead()) return SleepOrPoll(maxMs, wake);
        if (!arrivalPending_) return;  // a byte at once
    }
    // The driver ends the read with the next byte, the stop event ends the
    // wait; the read stays in the driver's hands across slices, so a quiet
    // line costs no wake-ups beyond the slices themselves.
    HANDLE handles[2] = {arrivalEvent_, nullptr};
    DWORD count = 1;
    if (wake && wake->Valid()) handles[count++] = reinterpret_cast<HANDLE>(wake->Native());
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    if (::WaitForMultipleObjects(count, handles, FALSE, DWORD(maxMs)) != WAIT_OBJECT_0) return;
    CollectArrival();
    // A read the driver failed at once must not turn the caller's loop into a spin.
    if (HeldCount() == 0 && (gone_ || !arrivalReads_)) {
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        SleepOrPoll(maxMs - int(spent), wake);
    }
}

void WinSerialPort::SleepOrPoll(int maxMs, const WakeEvent* wake) {
    if (maxMs <= 0) return;
    // A vanished device sleeps (still waking for a stop) so the caller never
    // spins, but no longer than a slice, so its next read soon says so.
    if (wedged_ || gone_) {
        const int step = std::min(maxMs, kWaitSliceMs);
        if (wake) wake->Wait(step);
        else ::Sleep(DWORD(step));
        return;
    }
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(maxMs);
    // Bytes, or a device found gone, end the wait: the caller's read says which.
    if (InputQueued() != 0) return;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0) return;
        const int step = std::min(kInputPollMs, int(left));
        if (wake ? wake->Wait(step) : (::Sleep(DWORD(step)), false)) return;
        if (InputQueued() != 0) return;
    }
}

bool WinSerialPort::WriteSettled() {
    if (!writePending_ || wedged_) return true;
    DWORD sent = 0;
    if (!::GetOverlappedResult(handle_, &io_->write, &sent, FALSE) && ::GetLastError() == ERROR_IO_INCOMPLETE)
        return false;
    // Done, or failed: a failed write is abandoned, as every write failure is.
    writePending_ = false;
    return true;
}

int WinSerialPort::WriteSome(const std::uint8_t* source, int count) {
    if (count <= 0) return 0;
    if (wedged_) return kGone;
    // One write in flight at a time: the driver takes the next once it has this one.
    if (!WriteSettled()) return 0;
    const DWORD n = DWORD(std::min<std::size_t>(std::size_t(count), io_->writeBuffer.size()));
    std::memcpy(io_->writeBuffer.data(), source, n);
    io_->write = OVERLAPPED{};
    io_->write.hEvent = writeEvent_;
    DWORD sent = 0;
    if (::WriteFile(handle_, io_->writeBuffer.data(), n, &sent, &io_->write)) {
        InputQueued();  // clears an error state the write may have left
        return int(sent);
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_IO_PENDING) {
        // Handed over: the driver owns the copy until the write completes.
        writePending_ = true;
        return int(n);
    }
    return IsGoneError(error) ? kGone : 0;
}

void WinSerialPort::WaitForOutput(int maxMs, const WakeEvent* wake) {
    if (maxMs <= 0) return;
    if (WriteSettled()) return;
    HANDLE handles[2] = {writeEvent_, nullptr};
    DWORD count = 1;
    if (wake && wake->Valid()) handles[count++] = reinterpret_cast<HANDLE>(wake->Native());
    ::WaitForMultipleObjects(count, handles, FALSE, DWORD(maxMs));
}

void WinSerialPort::Purge() {
    // Leaves a write in flight alone; only what waits in the queues goes,
    // with the bytes held: they were input as well. The arrival read
    // itself stays for the next byte to come.
    if (wedged_) return;
    CollectArrival();
    held_.clear();
    heldAt_ = 0;
    ::PurgeComm(handle_, PURGE_TXCLEAR | PURGE_RXCLEAR);
}

int WinSerialPort::OutputQueued() {
    if (wedged_) return kGone;
    DWORD errors = 0;
    COMSTAT state{};
    const bool known = calls_.clearCommError(handle_, &errors, &state) != 0;
    const bool gone = !known && IsGoneError(::GetLastError());
    const int queued = known ? int(std::min<DWORD>(state.cbOutQue, INT_MAX)) : 0;
    // A write the driver has not finished is output still to go, whether or
    // not the driver counts it in its queue.
    if (!WriteSettled()) return std::max(queued, 1);
    return gone ? kGone : queued;
}

void WinSerialPort::DiscardOutput() {
    if (wedged_) return;
    ::PurgeComm(handle_, PURGE_TXABORT | PURGE_TXCLEAR);
    FinishPending(io_->write, writePending_);
}

}  // namespace tarven
