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
// How often a wait for input looks at the driver's input queue, on a handle
// whose driver cannot signal an arriving byte (WaitCommEvent refused).
constexpr int kInputPollMs = 1;
// Longest wait for the driver to hand back a cancelled transfer. The
// documentation promises the cancelled request completes; a driver wedged by
// a pulled adapter may never, and Annuler must still return.
constexpr DWORD kCancelWaitMs = 1000;
// Characters a driver accepts in its record: SetCommState refuses a record
// whose XonChar equals XoffChar, even with XON/XOFF off.
constexpr char kXon = 0x11;
constexpr char kXoff = 0x13;

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

const CommCalls& SystemCommCalls() {
    static const CommCalls calls{::GetCommState, ::SetCommState};
    return calls;
}

PortState PortStateFromWinError(DWORD error) {
    switch (error) {
        case ERROR_SUCCESS: return PortState::Available;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_NETPATH:
        case ERROR_DEV_NOT_EXIST: return PortState::Missing;
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY: return PortState::Busy;
        case ERROR_ACCESS_DENIED: return PortState::PermissionDenied;
        case ERROR_INVALID_FUNCTION:
        case ERROR_NOT_SUPPORTED: return PortState::NotATerminal;
        default: return PortState::OtherError;
    }
}

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
    // A read returns at once with what is queued; writes have no time-out of
    // the driver's own (the engine bounds its waits itself).
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    ::SetCommTimeouts(handle_, &timeouts);
}

int WinSerialPort::InputQueued() {
    if (wedged_) return kGone;
    DWORD errors = 0;
    COMSTAT state{};
    // Also clears the line's error state (framing, overrun, parity): the
    // frame magic and CRC catch what those errors damaged.
    if (!::ClearCommError(handle_, &errors, &state)) {
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
    const int queued = InputQueued();
    if (queued == kGone) return kGone;
    const DWORD wanted = DWORD(std::min({queued, maxBytes, int(io_->readBuffer.size())}));
    if (wanted == 0) return 0;
    ::ResetEvent(readEvent_);
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
    if (got) std::memcpy(destination, io_->readBuffer.data(), got);
    return int(got);
}

bool WinSerialPort::ArmArrivalWait() {
    if (arrivalUnsupported_) return false;
    if (arrivalPending_) return true;
    if (io_->arrivalMask == 0 && !::SetCommMask(handle_, EV_RXCHAR)) {
        arrivalUnsupported_ = true;
        return false;
    }
    ::ResetEvent(arrivalEvent_);
    io_->arrival = OVERLAPPED{};
    io_->arrival.hEvent = arrivalEvent_;
    io_->arrivalMask = EV_RXCHAR;
    if (::WaitCommEvent(handle_, &io_->arrivalMask, &io_->arrival)) {
        // Answered at once: collected like a pending one.
        ::SetEvent(arrivalEvent_);
    } else if (const DWORD error = ::GetLastError(); error != ERROR_IO_PENDING) {
        if (IsGoneError(error)) gone_ = true;
        else arrivalUnsupported_ = true;
        return false;
    }
    arrivalPending_ = true;
    return true;
}

void WinSerialPort::WaitForInput(int maxMs, const WakeEvent* wake) {
    if (maxMs <= 0) return;
    HANDLE handles[2] = {arrivalEvent_, nullptr};
    DWORD count = 1;
    if (wake && wake->Valid()) handles[count++] = reinterpret_cast<HANDLE>(wake->Native());
    if (!wedged_ && InputQueued() > 0) return;
    // A vanished device sleeps out the slice (still waking for a stop) so the caller never spins.
    if (wedged_ || gone_ || !ArmArrivalWait()) {
        using Clock = std::chrono::steady_clock;
        const auto end = Clock::now() + std::chrono::milliseconds(maxMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0) return;
            const int step = wedged_ || gone_ ? int(left) : std::min(kInputPollMs, int(left));
            if (wake ? wake->Wait(step) : (::Sleep(DWORD(step)), false)) return;
            if (!wedged_ && InputQueued() > 0) return;
        }
    }
    // A byte that came while the wait was being armed raised no event.
    if (InputQueued() > 0) return;
    // The driver wakes us for the next byte, the stop event for a stop; the
    // wait stays armed across slices, so a quiet line costs no wake-ups of its own.
    if (::WaitForMultipleObjects(count, handles, FALSE, DWORD(maxMs)) == WAIT_OBJECT_0) {
        DWORD unused = 0;
        ::GetOverlappedResult(handle_, &io_->arrival, &unused, FALSE);
        arrivalPending_ = false;
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
    ::ResetEvent(writeEvent_);
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
    // Leaves a write in flight alone; only what waits in the queues goes.
    if (!wedged_) ::PurgeComm(handle_, PURGE_TXCLEAR | PURGE_RXCLEAR);
}

int WinSerialPort::OutputQueued() {
    if (wedged_) return kGone;
    DWORD errors = 0;
    COMSTAT state{};
    const bool known = ::ClearCommError(handle_, &errors, &state) != 0;
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

DCB DriverRecord(const DCB& found, const PortSettings& settings) {
    // The driver's own record keeps what the settings do not name (its
    // XonLim and XoffLim, which it checks against its queues); everything
    // that could hold the line back is off.
    DCB dcb = found;
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = settings.baudRate;
    dcb.ByteSize = settings.byteSize;
    dcb.Parity = settings.parity;
    dcb.StopBits = settings.stopBits;
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 1;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = 0;
    dcb.XonChar = kXon;
    dcb.XoffChar = kXoff;
    dcb.wReserved = 0;
    return dcb;
}

bool WinSerialPort::Apply(const PortSettings& settings) {
    if (wedged_) return false;
    DCB found{};
    found.DCBlength = sizeof found;
    if (!calls_.getCommState(handle_, &found)) return false;
    DCB dcb = DriverRecord(found, settings);
    const bool ok = calls_.setCommState(handle_, &dcb) != 0;
    // DTR and RTS stay low, as the receiver's cable expects.
    ::EscapeCommFunction(handle_, CLRDTR);
    ::EscapeCommFunction(handle_, CLRRTS);
    return ok;
}

}  // namespace tarven
