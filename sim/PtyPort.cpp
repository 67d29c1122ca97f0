#include "PtyPort.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <system_error>
#include <thread>

namespace tarven::sim {

PtyMasterPort::PtyMasterPort(int masterFd, std::string slavePath) : fd_(masterFd), slavePath_(std::move(slavePath)) {}

PtyMasterPort::~PtyMasterPort() { Close(); }

void PtyMasterPort::Close() {
    const int fd = fd_.exchange(-1);
    if (fd >= 0) ::close(fd);
}

int PtyMasterPort::ReadQueued(std::uint8_t* destination, int maxBytes) {
    const int fd = fd_.load();
    if (fd < 0) return kGone;
    if (maxBytes <= 0) return 0;
    const ssize_t n = ::read(fd, destination, std::size_t(maxBytes));
    if (n > 0) return int(n);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    // EIO on a master means no slave descriptor is open; ours always is, so
    // treat it as a quiet line rather than a vanished device.
    if (n < 0 && errno == EIO) return 0;
    return kGone;
}

int PtyMasterPort::WriteSome(const std::uint8_t* source, int count) {
    const int fd = fd_.load();
    if (fd < 0) return kGone;
    if (count <= 0) return 0;
    const ssize_t n = ::write(fd, source, std::size_t(count));
    if (n >= 0) return int(n);
    if (errno == EAGAIN || errno == EINTR || errno == EIO) return 0;
    return kGone;
}

void PtyMasterPort::Wait(short events, int maxMs, const WakeEvent* wake) {
    if (maxMs <= 0) return;
    const int wakeFd = wake && wake->Valid() ? int(wake->Native()) : -1;
    pollfd fds[2] = {{fd_.load(), events, 0}, {wakeFd, POLLIN, 0}};
    // poll skips negative descriptors, so a closed port just sleeps (or waits for the wake).
    if (fds[0].fd < 0 && wakeFd < 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(maxMs));
        return;
    }
    ::poll(fds, 2, maxMs);
}

void PtyMasterPort::WaitForInput(int maxMs, const WakeEvent* wake) { Wait(POLLIN, maxMs, wake); }

void PtyMasterPort::WaitForOutput(int maxMs, const WakeEvent* wake) { Wait(POLLOUT, maxMs, wake); }

void PtyMasterPort::Purge() {
    const int fd = fd_.load();
    if (fd < 0) return;
    std::uint8_t scratch[4096];
    while (::read(fd, scratch, sizeof scratch) > 0) {
    }
    ::tcflush(fd, TCIOFLUSH);
}

int PtyMasterPort::OutputQueued() {
    const int fd = fd_.load();
    if (fd < 0) return kGone;
    int queued = 0;
    return ::ioctl(fd, TIOCOUTQ, &queued) == 0 ? std::max(queued, 0) : 0;
}

void PtyMasterPort::DiscardOutput() {
    const int fd = fd_.load();
    if (fd >= 0) ::tcflush(fd, TCOFLUSH);
}

bool PtyMasterPort::Apply(const PortSettings&) { return true; }

PtyPair OpenPtyPair() {
    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
        throw std::system_error(errno, std::generic_category(), "openpty");
    // Raw from the start: a cooked terminal would echo the program's bytes
    // back to it and translate line endings inside frames.
    termios tio{};
    ::tcgetattr(slave, &tio);
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&tio, B115200);
    ::cfsetospeed(&tio, B115200);
    ::tcsetattr(slave, TCSANOW, &tio);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    return PtyPair{master, slave, name};
}

std::uint32_t TerminalBaud(int fd) {
    termios tio{};
    if (fd < 0 || ::tcgetattr(fd, &tio) != 0) return 0;
    switch (::cfgetospeed(&tio)) {
        case B1200: return 1200;
        case B2400: return 2400;
        case B4800: return 4800;
        case B9600: return 9600;
        case B19200: return 19200;
        case B38400: return 38400;
        case B57600: return 57600;
        case B115200: return 115200;
        case B230400: return 230400;
        case B460800: return 460800;
        case B921600: return 921600;
        default: return 0;
    }
}

}  // namespace tarven::sim
