#include "ReadBackSink.h"

#include <cerrno>
#include <utility>

#include "ReadBackSinkPlatform.h"

namespace tarven {

ReadBackSink::ReadBackSink(std::string target) : target_(std::move(target)) {
    final_ = sinkfile::FinalPath(target_);
    createError_ = sinkfile::CreateBeside(final_, temporary_, handle_);
    settled_ = createError_ != 0;
}

ReadBackSink::~ReadBackSink() { KeepPartial(); }

int ReadBackSink::Write(const std::uint8_t* bytes, std::size_t count) {
    if (handle_ == -1) return createError_ != 0 ? createError_ : EBADF;
    const int error = sinkfile::WriteAll(handle_, bytes, count);
    // What a failed write managed to put down is not counted: the length
    // check then fails, as it must.
    if (error == 0) written_ += std::int64_t(count);
    return error;
}

void ReadBackSink::CloseTemporary() {
    if (handle_ == -1) return;
    (void)sinkfile::Close(handle_, false);
    handle_ = -1;
}

int ReadBackSink::Commit() {
    if (settled_) return createError_ != 0 ? createError_ : EINVAL;
    const std::intptr_t handle = handle_;
    handle_ = -1;
    // A file system that reports a lost write only when the file is closed
    // (full quota on a network share) fails here, not after the rename.
    int error = sinkfile::Close(handle, true);
    if (error == 0) error = sinkfile::MoveOver(temporary_, final_);
    if (error != 0) return error;
    settled_ = true;
    return 0;
}

std::string ReadBackSink::KeepPartial() {
    if (settled_) return {};
    settled_ = true;
    CloseTemporary();
    if (written_ == 0) {
        sinkfile::Remove(temporary_);
        return {};
    }
    const std::string partial = PartialName(target_);
    return sinkfile::MoveOver(temporary_, partial) == 0 ? partial : temporary_;
}

std::string CreateScratchFile(int& error) {
    std::string name;
    std::intptr_t handle = -1;
    error = sinkfile::CreateBeside(sinkfile::TemporaryFolder() + "/scratch", name, handle, true);
    if (error != 0) return {};
    (void)sinkfile::Close(handle, false);
    return name;
}

void RemoveScratchFile(const std::string& path) {
    sinkfile::Remove(path);
    sinkfile::Remove(ReadBackSink::PartialName(path));
}

}  // namespace tarven
