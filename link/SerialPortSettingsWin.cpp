// The line record a Windows driver gets, the comm calls that depend on the
// driver, and what an error from opening a port means.
#include "SerialPortWin.h"

namespace tarven {
namespace {

// Characters a driver accepts in its record: SetCommState refuses a record
// whose XonChar equals XoffChar, even with XON/XOFF off.
constexpr char kXon = 0x11;
constexpr char kXoff = 0x13;

}  // namespace

const CommCalls& SystemCommCalls() {
    static const CommCalls calls{::GetCommState, ::SetCommState, ::SetCommTimeouts, ::ClearCommError};
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
