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
// How often a wait for input looks at the driver's input queue.
constexpr int kInputPollMs = 1;

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

PortHandle WinSerialPort::Adopt(HANDLE handle, std::string device) {
    HANDLE readEvent = ManualResetEvent();
    HANDLE writeEvent = ManualResetEvent();
    if (!readEvent || !writeEvent) {
        if (readEvent) ::CloseHandle(readEvent);
        if (writeEvent) ::CloseHandle(writeEvent);
        ::CloseHandle(handle);
        return nullptr;
    }
    return PortHandle(new WinSerialPort(handle, std::move(device), readEvent, writeEvent));
}

WinSerialPort::WinSerialPort(HANDLE handle, std::string device, HANDLE readEvent, HANDLE writeEvent)
    : handle_(handle), device_(std::move(device)), readEvent_(readEvent), writeEvent_(writeEvent),
      readBuffer_(kDriverQueueBytes), writeBuffer_(kDriverQueueBytes) {}

WinSerialPort::~WinSerialPort() {
    DiscardOutput();
    ::CloseHandle(handle_);
    ::CloseHandle(readEvent_);
    ::CloseHandle(writeEvent_);
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
    ::CancelIoEx(handle_, &record);
    DWORD done = 0;
    ::GetOverlappedResult(handle_, &record, &done, TRUE);
    pending = false;
}

int WinSerialPort::ReadQueued(std::uint8_t* destination, int maxBytes) {
    if (maxBytes <= 0) return 0;
    const int queued = InputQueued();
    if (queued == kGone) return kGone;
    const DWORD wanted = DWORD(std::min({queued, maxBytes, int(readBuffer_.size())}));
    if (wanted == 0) return 0;
    ::ResetEvent(readEvent_);
    readRecord_ = OVERLAPPED{};
    readRecord_.hEvent = readEvent_;
    DWORD got = 0;
    if (!::ReadFile(handle_, readBuffer_.data(), wanted, &got, &readRecord_)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) {
            InputQueued();
            return IsGoneError(error) ? kGone : 0;
        }
        ::WaitForSingleObject(readEvent_, kReadCompletionWaitMs);
        if (!::GetOverlappedResult(handle_, &readRecord_, &got, FALSE)) {
            // Still in the driver's hands: take it back before the buffer is
            // used again; whatever it gathered until then still counts.
            bool pending = true;
            FinishPending(readRecord_, pending);
            got = DWORD(readRecord_.InternalHigh);
            InputQueued();
        }
    }
    got = std::min(got, wanted);
    if (got) std::memcpy(destination, readBuffer_.data(), got);
    return int(got);
}

void WinSerialPort::WaitForInput(int maxMs, const WakeEvent* wake) {
    if (maxMs <= 0) return;
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(maxMs);
    for (;;) {
        if (InputQueued() > 0) return;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0) return;
        // A vanished device sleeps out the slice (still waking for a stop) so the caller never spins.
        const int step = gone_ ? int(left) : std::min(kInputPollMs, int(left));
        if (wake) {
            if (wake->Wait(step)) return;
        } else {
            ::Sleep(DWORD(step));
        }
    }
}

bool WinSerialPort::WriteSettled() {
    if (!writePending_) return true;
    DWORD sent = 0;
    if (!::GetOverlappedResult(handle_, &writeRecord_, &sent, FALSE) && ::GetLastError() == ERROR_IO_INCOMPLETE)
        return false;
    // Done, or failed: a failed write is abandoned, as every write failure is.
    writePending_ = false;
    return true;
}

int WinSerialPort::WriteSome(const std::uint8_t* source, int count) {
    if (count <= 0) return 0;
    // One write in flight at a time: the driver takes the next once it has this one.
    if (!WriteSettled()) return 0;
    const DWORD n = DWORD(std::min<std::size_t>(std::size_t(count), writeBuffer_.size()));
    std::memcpy(writeBuffer_.data(), source, n);
    ::ResetEvent(writeEvent_);
    writeRecord_ = OVERLAPPED{};
    writeRecord_.hEvent = writeEvent_;
    DWORD sent = 0;
    if (::WriteFile(handle_, writeBuffer_.data(), n, &sent, &writeRecord_)) {
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
    ::PurgeComm(handle_, PURGE_TXCLEAR | PURGE_RXCLEAR);
}

int WinSerialPort::OutputQueued() {
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
    ::PurgeComm(handle_, PURGE_TXABORT | PURGE_TXCLEAR);
    FinishPending(writeRecord_, writePending_);
}

DCB DriverRecord(const PortSettings& settings) {
    // Every field the settings do not name stays zero: no flow control of any
    // kind, no special characters.
    DCB dcb;
    std::memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = settings.baudRate;
    dcb.fBinary = 1;
    dcb.ByteSize = settings.byteSize;
    dcb.Parity = settings.parity;
    dcb.StopBits = settings.stopBits;
    return dcb;
}

bool WinSerialPort::Apply(const PortSettings& settings) {
    DCB dcb = DriverRecord(settings);
    const bool ok = ::SetCommState(handle_, &dcb) != 0;
    // DTR and RTS stay low, as the receiver's cable expects.
    ::EscapeCommFunction(handle_, CLRDTR);
    ::EscapeCommFunction(handle_, CLRRTS);
    return ok;
}

}  // namespace tarven
