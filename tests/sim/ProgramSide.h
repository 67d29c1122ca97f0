// The program's end of the simulator's line, opened the way the updater opens
// a port, with frame helpers built on the link's own encoders.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Frames.h"

namespace tarven::sim::testing {

using Bytes = std::vector<std::uint8_t>;
using Ms = std::chrono::milliseconds;

class ProgramSide {
public:
    explicit ProgramSide(const std::string& device, speed_t speed = B115200) {
        fd_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0) throw std::runtime_error("cannot open " + device);
        ::flock(fd_, LOCK_EX | LOCK_NB);
        ::ioctl(fd_, TIOCEXCL);
        SetSpeed(speed);
    }
    ~ProgramSide() { Close(); }
    ProgramSide(const ProgramSide&) = delete;
    ProgramSide& operator=(const ProgramSide&) = delete;

    void Close() {
        if (fd_ < 0) return;
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
        fd_ = -1;
    }
    int Fd() const { return fd_; }

    void SetSpeed(speed_t speed) {
        termios tio{};
        ::tcgetattr(fd_, &tio);
        ::cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        ::cfsetispeed(&tio, speed);
        ::cfsetospeed(&tio, speed);
        ::tcsetattr(fd_, TCSANOW, &tio);
    }

    void Write(const Bytes& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) done += std::size_t(n);
            else {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 10);
            }
        }
    }
    void Command(std::uint16_t code) {
        const auto frame = EncodeCommandFrame(code);
        Write(Bytes(frame.begin(), frame.end()));
    }
    void Data(const Bytes& payload) { Write(DataFrame(payload)); }

    // The next whole frame, or nothing within `timeout`.
    std::optional<ParsedFrame> Next(Ms timeout = Ms(2000)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (auto frame = parser_.Next()) return frame;
            const auto left = std::chrono::duration_cast<Ms>(deadline - std::chrono::steady_clock::now()).count();
            if (left <= 0) return std::nullopt;
            Pull(int(left));
        }
    }
    // Expects a command frame next and returns its code (-1: none, -2: something else).
    int NextCode(Ms timeout = Ms(2000)) {
        auto frame = Next(timeout);
        if (!frame) return -1;
        return frame->kind == ParsedFrame::Kind::Command ? frame->code : -2;
    }
    // Everything that arrives until the line has been quiet for `idle`, as raw bytes.
    Bytes ReadUntilQuiet(Ms idle) {
        Bytes all;
        std::uint8_t buffer[4096];
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, int(idle.count())) <= 0) return all;
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0) return all;
            all.insert(all.end(), buffer, buffer + n);
        }
    }
    // True when nothing at all arrives within `window`.
    bool Quiet(Ms window) { return parser_.Pending() == 0 && ReadUntilQuiet(window).empty(); }

private:
    void Pull(int maxMs) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, std::min(maxMs, 50)) <= 0) return;
        std::uint8_t buffer[4096];
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n > 0) parser_.Feed(buffer, std::size_t(n));
    }

    int fd_ = -1;
    FrameParser parser_;
};

inline Bytes Pattern(std::size_t size, unsigned salt = 1) {
    Bytes bytes(size);
    std::uint32_t x = 2463534242u ^ salt;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = std::uint8_t(x);
    }
    return bytes;
}

// The payloads an upload sends for `image`: 4-byte length and 4,096 bytes
// (zero-filled past a short image), then slices of up to 4,096.
inline std::vector<Bytes> UploadPayloads(const Bytes& image) {
    std::vector<Bytes> payloads;
    Bytes first(kFirstBlockSize, 0);
    WriteBigEndian32(first.data(), std::uint32_t(image.size()));
    std::copy_n(image.begin(), std::min<std::size_t>(image.size(), kBlockSize), first.begin() + kLengthHeaderSize);
    payloads.push_back(first);
    for (std::size_t at = kBlockSize; at < image.size(); at += kBlockSize)
        payloads.emplace_back(image.begin() + std::ptrdiff_t(at),
                              image.begin() + std::ptrdiff_t(std::min(at + kBlockSize, image.size())));
    return payloads;
}

}  // namespace tarven::sim::testing
