#include "SerialPortUnix.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <thread>

#include "LinkConstants.h"

namespace tarven {
namespace {

speed_t SpeedConstant(std::uint32_t baud) {
    switch (baud) {
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 230400: return B230400;
        case 115200:
        default: return B115200;
    }
}

// A USB adapter holds short packets back for its latency timer (16 ms on an
// FTDI chip unless told otherwise), and this protocol waits for every 12-byte
// answer: each would wait the timer out. Drivers that know the low-latency
// flag lower the timer for as long as it is set. A pseudo-terminal or an
// on-board UART without the request refuses it or ignores it; either is fine.
// The flags found, when they were changed, so closing can put them back.
std::optional<int> RequestLowLatency(int fd) {
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) return std::nullopt;
    if (serial.flags & ASYNC_LOW_LATENCY) return std::nullopt;
    const int found = serial.flags;
    serial.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(fd, TIOCSSERIAL, &serial) != 0) return std::nullopt;
    return found;
}

void RestoreSerialFlags(int fd, int flags) {
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
    serial.flags = flags;
    ::ioctl(fd, TIOCSSERIAL, &serial);
}

bool IsGoneErrno(int error) { return error == EIO || error == ENXIO || error == ENODEV || error == EBADF; }

void SetFraming(termios& tio, const PortSettings& s) {
    tio.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= (s.byteSize == 7 ? CS7 : CS8) | CLOCAL | CREAD;
    if (s.stopBits == 2) tio.c_cflag |= CSTOPB;
}

void SetNoSoftwareFlow(termios& tio) { tio.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY); }

void SetNonBlockingReads(termios& tio) {
    // Reads only ever ask for queued bytes; the engine does its own waiting.
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
}

void HoldModemLinesInactive(int fd) {
    // DTR and RTS stay low, as the receiver's cable expects. Pseudo-terminals
    // have no modem lines and refuse; that is fine.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd, TIOCMBIC, &lines);
}

}  // namespace

std::vector<std::string> SystemConsoles(const std::string& consoleList) {
    // One line of names relative to /dev, e.g. "tty0 ttyS0".
    std::vector<std::string> devices;
    std::ifstream list(consoleList.empty() ? std::string(kKernelConsoleList) : consoleList);
    std::string name;
    while (list >> name) devices.push_back("/dev/" + name);
    return devices;
}

bool IsSystemConsole(const std::string& device, const std::string& consoleList) {
    // By device number, so a symbolic link or another spelling of the path is caught too.
    struct stat candidate {};
    if (::stat(device.c_str(), &candidate) != 0 || !S_ISCHR(candidate.st_mode)) return false;
    for (const std::string& console : SystemConsoles(consoleList)) {
        struct stat known {};
        if (::stat(console.c_str(), &known) == 0 && S_ISCHR(known.st_mode) && known.st_rdev == candidate.st_rdev)
            return true;
    }
    return false;
}

PortState PortStateFromErrno(int error) {
    switch (error) {
        case 0: return PortState::Available;
        case ENOENT:
        case ENODEV:
        case ENXIO: return PortState::Missing;
        case EBUSY:
        case EWOULDBLOCK: return PortState::Busy;
        case EACCES:
        case EPERM:
        case EROFS: return PortState::PermissionDenied;
        case ENOTTY:
        case EISDIR: return PortState::NotATerminal;
        default: return PortState::OtherError;
    }
}

PortHandle UnixSerialPort::Open(const std::string& device, PortStatus* status, const std::string& consoleList) {
    auto fail = [&](int error) -> PortHandle {
        if (status) *status = PortStatus{PortStateFromErrno(error), device, error};
        return nullptr;
    };
    if (device.empty()) {
        if (status) *status = PortStatus{PortState::NoDevice, device, 0};
        return nullptr;
    }
    auto refuse = [&](int fd, PortState state) -> PortHandle {
        if (fd >= 0) ::close(fd);
        if (status) *status = PortStatus{state, device, 0};
        return nullptr;
    };
    // The console is refused before it is even opened: frames sent there
    // would land in the kernel's log and on whoever watches it.
    if (IsSystemConsole(device, consoleList)) return refuse(-1, PortState::SystemConsole);
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fail(errno);
    if (::tcgetsid(fd) == ::getsid(0)) return refuse(fd, PortState::OwnTerminal);
    // Root opens a terminal another program holds with TIOCEXCL; such a port
    // is busy, and nothing here may touch its flag or its settings.
    int exclusive = 0;
    if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive) return refuse(fd, PortState::Busy);
    // TIOCEXCL alone does not stop root; the lock does, for every user. A
    // second descriptor that fails here must not clear the holder's TIOCEXCL.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return fail(error == EWOULDBLOCK ? EBUSY : error);
    }
    termios found{};
    if (::tcgetattr(fd, &found) != 0) {
        const int error = errno;
        ::close(fd);
        return fail(error == EINVAL ? ENOTTY : error);
    }
    ::ioctl(fd, TIOCEXCL);
    if (status) *status = PortStatus{PortState::Available, device, 0};
    auto* port = new UnixSerialPort(fd, device, found);
    port->serialFlags_ = RequestLowLatency(fd);
    return PortHandle(port);
}

UnixSerialPort::~UnixSerialPort() {
    // Closing a terminal waits until its output queue has drained; a cancel
    // must not sit out the tail of a frame nobody will acknowledge.
    DiscardOutput();
    // The port is shared with terminal programs and consoles that expect the
    // settings they left.
    ::tcsetattr(fd_, TCSANOW, &found_);
    if (serialFlags_) RestoreSerialFlags(fd_, *serialFlags_);
    // The exclusive flag belongs to the terminal, not to this descriptor: left
    // set, it would keep everyone but root out after we close.
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
}

int UnixSerialPort::ReadQueued(std::uint8_t* destination, int maxBytes) {
    if (maxBytes <= 0) return 0;
    const ssize_t n = ::read(fd_, destination, std::size_t(maxBytes));
    if (n > 0) return int(n);
    if (n < 0 && errno != EAGAIN && errno != EINTR) return IsGoneErrno(errno) ? kGone : 0;
    // A raw terminal with nothing queued reads 0 bytes, exactly as one whose
    // other side has hung up: only the poll flags tell them apart.
    pollfd probe{fd_, POLLIN, 0};
    if (::poll(&probe, 1, 0) > 0 && (probe.revents & (POLLHUP | POLLERR | POLLNVAL))) return kGone;
    return 0;
}

void UnixSerialPort::Wait(short events, int maxMs, const WakeEvent* wake) {
    if (maxMs <= 0) return;
    const int wakeFd = wake && wake->Valid() ? int(wake->Native()) : -1;
    const auto start = std::chrono::steady_clock::now();
    pollfd fds[2] = {{fd_, events, 0}, {wakeFd, POLLIN, 0}};
    const int count = wakeFd >= 0 ? 2 : 1;
    const int ready = ::poll(fds, nfds_t(count), maxMs);
    if (ready <= 0) return;
    if (count == 2 && (fds[1].revents & POLLIN)) return;
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
        // A vanished device reports ready at once, forever: sleep (still
        // waking for a stop) so the caller never spins, but no longer than a
        // slice, so the caller's next read soon says the device is gone.
        const auto used =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
        const int rest = std::min(maxMs - int(used), kWaitSliceMs);
        if (rest <= 0) return;
        if (wake) wake->Wait(rest);
        else std::this_thread::sleep_for(std::chrono::milliseconds(rest));
    }
}

void UnixSerialPort::WaitForInput(int maxMs, const WakeEvent* wake) { Wait(POLLIN, maxMs, wake); }

int UnixSerialPort::InputAvailable() {
    int queued = 0;
    return ::ioctl(fd_, FIONREAD, &queued) == 0 ? std::max(queued, 0) : kUnknown;
}

void UnixSerialPort::WaitForOutput(int maxMs, const WakeEvent* wake) { Wait(POLLOUT, maxMs, wake); }

int UnixSerialPort::WriteSome(const std::uint8_t* source, int count) {
    if (count <= 0) return 0;
    const ssize_t n = ::write(fd_, source, std::size_t(count));
    if (n >= 0) return int(n);
    if (errno == EAGAIN || errno == EINTR) return 0;
    return IsGoneErrno(errno) ? kGone : 0;
}

void UnixSerialPort::Purge() { ::tcflush(fd_, TCIOFLUSH); }

int UnixSerialPort::OutputQueued() {
    int queued = 0;
    if (::ioctl(fd_, TIOCOUTQ, &queued) == 0) return std::max(queued, 0);
    return IsGoneErrno(errno) ? kGone : 0;
}

void UnixSerialPort::DiscardOutput() { ::tcflush(fd_, TCOFLUSH); }

bool UnixSerialPort::Apply(const PortSettings& settings) {
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) return false;
    ::cfmakeraw(&tio);
    SetFraming(tio, settings);
    SetNoSoftwareFlow(tio);
    SetNonBlockingReads(tio);
    const speed_t speed = SpeedConstant(settings.baudRate);
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    const bool ok = ::tcsetattr(fd_, TCSANOW, &tio) == 0;
    HoldModemLinesInactive(fd_);
    return ok;
}

}  // namespace tarven
