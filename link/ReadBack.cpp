// Reads an image back from the receiver into a file of the working folder and
// checks its length against the length the receiver announced.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "Frames.h"
#include "LinkEngine.h"

namespace tarven {
namespace {

bool HasRequestCode(std::int32_t kind) { return kind >= KindFactoryData && kind <= KindSoftwareDataLoader; }

// 0 when every byte was written, else the errno of the failed write.
int WriteAll(int fd, const std::uint8_t* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, bytes, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? errno : EIO;
        bytes += n;
        count -= std::size_t(n);
    }
    return 0;
}

std::int64_t FileLength(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? std::int64_t(st.st_size) : -1;
}

}  // namespace

void LinkEngine::RunReadBack() {
    // The chip kinds have no request code: refuse before the file is touched
    // and before anything goes on the line.
    if (!HasRequestCode(imageKind)) {
        Post(WM_LINK_EVENT, kEventFinished, kResultFailure);
        IdleUntilStopped();
        return;
    }
    imageFile = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (imageFile < 0) {
        imageFileErrno = errno;
        ShowMessage(fileName + "create failed !");
        Post(WM_LINK_EVENT, kEventFinished, kResultFailure);
        IdleUntilStopped();
        return;
    }
    std::vector<std::uint8_t> buffer;
    try {
        buffer.assign(kReadBackBufferSize, 0);
    } catch (const std::bad_alloc&) {
        ::close(imageFile);
        imageFile = -1;
        Post(WM_LINK_EVENT, kEventFinished, kResultFailure);
        IdleUntilStopped();
        return;
    }
    std::size_t writePosition = kReadBackBufferOffset;
    std::int64_t received = 0;
    int blocks = 0;
    int shortFrames = 0;

    auto finish = [&](int result) {
        ::close(imageFile);
        imageFile = -1;
        buffer = {};
        Post(WM_LINK_EVENT, kEventFinished, result);
        IdleUntilStopped();
    };
    auto announcedLength = [&] { return ReadBigEndian32(buffer.data() + kReadBackBufferOffset); };

    const std::uint16_t request = kReadBackRequestCodes[std::size_t(KindIndex(imageKind))];
    if (request != kCodeStandBy) SendCommand(request);

    while (!StopRequested()) {
        const int result = ReceiveFrame({}, nullptr, kReadBackRequestTimeout);
        if (result == kCodeReadBackReady) break;
        if (result == kCodeStandBy || result == kRecvTimeout) SendCommand(request);
    }

    if (StopRequested()) return;
    Pause(kReadBackStartPauseMs);
    while (!StopRequested()) {
        std::uint32_t n = 0;
        const std::span<std::uint8_t> room(buffer.data() + writePosition, buffer.size() - writePosition);
        const int result = ReceiveFrame(room, &n, kReadBackDataTimeout);
        if (StopRequested()) return;
        switch (result) {
            case kRecvDataFrame: {
                SendCommand(kCodeAck);
                Pause(kReadBackAckPauseMs);
                const std::uint8_t* payload = buffer.data() + writePosition;
                writePosition += n;
                received += n;
                shortFrames = 0;
                int writeError;
                if (blocks == 0) {
                    // Without a whole length header nothing received can be checked.
                    if (n < std::uint32_t(kLengthHeaderSize)) return finish(kResultLengthMismatch);
                    writeError = WriteAll(imageFile, payload + kLengthHeaderSize, n - kLengthHeaderSize);
                    Post(WM_LINK_PROGRESS, kProgressTotal, std::intptr_t(announcedLength() / 1024));
                } else {
                    writeError = WriteAll(imageFile, payload, n);
                }
                // A file that could not take the bytes (disk full) is never a success.
                if (writeError != 0) {
                    imageFileErrno = writeError;
                    return finish(kResultLengthMismatch);
                }
                Post(WM_LINK_PROGRESS, kProgressPosition, std::intptr_t(received / 1024));
                ++blocks;
                break;
            }
            case kCodeEndOfImage:
            case kCodeEndOfImageAlt: {
                SendCommand(kCodeAck);
                // An end code before any data frame leaves nothing to compare with.
                if (blocks == 0) return finish(kResultLengthMismatch);
                Pause(kReadBackEndPauseMs);
                const bool complete = FileLength(imageFile) == std::int64_t(announcedLength());
                return finish(complete ? kResultSuccess : kResultLengthMismatch);
            }
            case kCodeRepeat:
                PurgePort();
                Pause(kReadBackRepeatPauseMs);
                SendCommand(kCodeAck);
                break;
            case kRecvBadCrc:
                Pause(kReadBackBadCrcPauseMs);
                PurgePort();
                Pause(kReadBackRepeatPauseMs);
                SendCommand(kCodeRepeat);
                break;
            case kRecvShortFrame:
                ++shortFrames;
                PurgePort();
                Pause(kReadBackShortFramePauseMs);
                if (shortFrames < kReadBackShortFramesBeforeSlowdown) {
                    SendCommand(kCodeRepeat);
                    Pause(kReadBackRepeatPauseMs);
                } else {
                    SendCommand(kCodeSpeedChange);
                    Pause(kReadBackSlowdownPauseMs);
                    SetBaudRate(kBaudSlow);
                }
                break;
            case kRecvTooLarge:
                // The image does not fit the buffer: the file keeps what fitted.
                imageTooLarge = true;
                return finish(kResultLengthMismatch);
            default:
                Pause(kReadBackConfusedPauseMs);
                PurgePort();
                break;
        }
    }
}

}  // namespace tarven
