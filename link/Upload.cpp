// Sends one image file to the receiver: the whole file is read first, then a
// start command chosen by kind and access level, then 4,096-byte blocks each
// acknowledged by the receiver, then the end code.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "Frames.h"
#include "LinkEngine.h"

namespace tarven {
namespace {

// Reads the image into a zero-filled buffer of the fixed upload size, so the
// first block of a short image carries zeros after it, never stale memory.
// A file that does not fit is refused like one that cannot be opened.
bool ReadImage(const std::string& name, std::vector<std::uint8_t>& image, std::int32_t& length) {
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kUploadBufferSize;
    if (ok) {
        try {
            image.assign(kUploadBufferSize, 0);
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    std::size_t got = 0;
    while (ok && got < std::size_t(st.st_size)) {
        const ssize_t n = ::read(fd, image.data() + got, std::size_t(st.st_size) - got);
        if (n <= 0) ok = false;
        else got += std::size_t(n);
    }
    ::close(fd);
    length = std::int32_t(got);
    return ok;
}

bool HasPreamble(std::int32_t kind) { return kind >= KindFactoryData && kind <= KindSoftwareDataLoader; }

std::uint16_t StartCode(std::int32_t kind, AccessLevel level) {
    if (!HasPreamble(kind)) return kCodeChipStart;
    const auto& table = level == 0 ? kStartCodesLevel0 : kStartCodesLevel1;
    return table[std::size_t(KindIndex(kind))];
}

}  // namespace

const char* UploadDoubtText(UploadDoubt doubt) {
    switch (doubt) {
        case UploadDoubt::None: return "";
        case UploadDoubt::AckAfterRepeat:
            return "an acknowledgement came after a repeat request; it may have answered an earlier block, "
                   "so the receiver may hold a block twice or miss one";
        case UploadDoubt::EndUnanswered:
            return "the receiver never acknowledged the end code (sent four times)";
        case UploadDoubt::BlockResent:
            return "the receiver asked for a block again; if that request was an acknowledgement altered on "
                   "the line, it holds the block twice";
    }
    return "";
}

void LinkEngine::RunUpload() {
    std::vector<std::uint8_t> image;
    std::int32_t length = 0;
    if (!ReadImage(fileName, image, length)) {
        ShowMessage(fileName + "File Open Error");
        Post(WM_LINK_EVENT, kEventFinished, kResultFailure);
        IdleUntilStopped();
        return;
    }
    Post(WM_LINK_PROGRESS, kProgressTotal, length / 1024);

    std::vector<std::uint8_t> block;
    try {
        block.assign(kFirstBlockSize, 0);
    } catch (const std::bad_alloc&) {
        SendCommand(kCodeAbort);
        return;
    }

    if (HasPreamble(imageKind)) {
        SendCommand(kCodeUploadPreamble);
        while (!StopRequested() && ReceiveFrame({}, nullptr, kPreambleTimeout) != kCodeStandBy) {
        }
    }
    if (StopRequested()) return;
    SendCommand(StartCode(imageKind, accessLevel));
    Pause(kStartCodePauseMs);
    if (StopRequested()) return;
    PurgePort();

    WriteBigEndian32(block.data(), std::uint32_t(length));
    std::memcpy(block.data() + kLengthHeaderSize, image.data(), kBlockSize);
    SendDataFrame(block.data(), kFirstBlockSize);
    std::int32_t lastBlockSize = kFirstBlockSize;
    std::int64_t acknowledged = 0;
    std::size_t source = kBlockSize;
    int endCounter = 0;
    const std::int64_t total = std::int64_t(length) + kLengthHeaderSize;
    uploadDoubt.store(UploadDoubt::None);
    // Set once the PC has asked for a repeat on its own: from then on an
    // acknowledgement may be the receiver's earlier one said again.
    bool repeatAsked = false;
    auto doubt = [&](UploadDoubt why) {
        if (uploadDoubt.load() == UploadDoubt::None) uploadDoubt.store(why);
    };

    auto finish = [&](int result) {
        image = {};
        block = {};
        Post(WM_LINK_EVENT, kEventFinished, result);
        IdleUntilStopped();
    };

    while (!StopRequested()) {
        const int result = ReceiveFrame({}, nullptr, kUploadRecvTimeout);
        if (StopRequested()) return;
        switch (result) {
            case kCodeAck:
                if (repeatAsked) doubt(UploadDoubt::AckAfterRepeat);
                if (endCounter != 0) return finish(kResultSuccess);
                acknowledged += lastBlockSize;
                if (acknowledged < total) {
                    const std::int32_t size = std::int32_t(std::min<std::int64_t>(kBlockSize, total - acknowledged));
                    std::memcpy(block.data(), image.data() + source, std::size_t(size));
                    SendDataFrame(block.data(), size);
                    source += std::size_t(size);
                    lastBlockSize = size;
                    Pause(kBlockPauseMs);
                    Post(WM_LINK_PROGRESS, kProgressPosition, std::intptr_t(acknowledged / 1024));
                } else {
                    SendCommand(kCodeEndOfImage);
                    endCounter = 1;
                    Post(WM_LINK_PROGRESS, kProgressPosition, length / 1024);
                }
                break;
            case kCodeRepeat:
                doubt(UploadDoubt::BlockResent);
                SendDataFrame(block.data(), lastBlockSize);
                break;
            case kCodeSpeedChange:
                doubt(UploadDoubt::BlockResent);
                SetBaudRate(kBaudSlow);
                Pause(kSpeedChangePauseMs);
                SendDataFrame(block.data(), lastBlockSize);
                break;
            case kCodeUploadDone:
                return finish(kResultSuccess);
            case kRecvBadMagic:
            case kRecvTimeout:
            case kRecvShortFrame:
                if (endCounter == 0) {
                    PurgePort();
                    Pause(kBlockPauseMs);
                    SendCommand(kCodeRepeat);
                    repeatAsked = true;
                } else if (endCounter < kEndCodeSendsMax) {
                    SendCommand(kCodeEndOfImage);
                    ++endCounter;
                } else {
                    // Four unanswered end codes count as done, as the receiver
                    // expects; whether it holds the image only a read-back can say.
                    doubt(UploadDoubt::EndUnanswered);
                    return finish(kResultSuccess);
                }
                break;
            default:
                SendCommand(kCodeAbort);
                image = {};
                block = {};
                SetBaudRate(kBaudNormal);
                Post(WM_LINK_EVENT, kEventFinished, kResultFailure);
                IdleUntilStopped();
                return;
        }
    }
}

}  // namespace tarven
