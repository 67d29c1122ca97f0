// Where a read-back's bytes go, for the window and tarven-link alike. They
// arrive in a temporary file beside the target, which replaces the target
// only once a whole image is in (Commit). On any other end (a short or failed
// read-back, a cancel, a teardown without a commit) the target stays as it
// was, byte for byte, and what arrived is kept as "<target>.partial"; a
// temporary that received nothing is simply removed, so a silent receiver
// leaves nothing behind. Names are UTF-8; the platform part is
// ReadBackSinkUnix.cpp or ReadBackSinkWin.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarven {

class ReadBackSink {
public:
    // Creates the temporary file. A target that is a symbolic link is
    // replaced where the link points, so the link itself stays.
    explicit ReadBackSink(std::string target);
    // Neither committed nor kept: keeps what arrived (KeepPartial).
    ~ReadBackSink();
    ReadBackSink(const ReadBackSink&) = delete;
    ReadBackSink& operator=(const ReadBackSink&) = delete;

    // 0 when the temporary file is there to take the bytes, else the errno
    // of its creation: the target's folder is missing or read-only, or the
    // target exists and is no regular file (EISDIR, ENODEV).
    int CreateError() const { return createError_; }

    // Appends the bytes: 0, or the errno of the failed write. A disk that is
    // full or a file-size limit is an error here, never a short success.
    int Write(const std::uint8_t* bytes, std::size_t count);
    // The bytes the temporary file holds.
    std::int64_t Written() const { return written_; }

    // A whole image: flushes the file and renames it over the target, with
    // the target's permission bits when it existed. 0, or the errno of the
    // step that failed; the target is then untouched and the bytes are kept
    // as KeepPartial keeps them.
    int Commit();
    // Any other end: what arrived goes to "<target>.partial" (or stays under
    // the temporary name when it cannot be moved there); returns that name,
    // empty when nothing had arrived and the temporary was removed. Once
    // committed or kept, it does nothing more.
    std::string KeepPartial();

    const std::string& Target() const { return target_; }
    static std::string PartialName(const std::string& target) { return target + ".partial"; }

private:
    void CloseTemporary();

    std::string target_;     // as given
    std::string temporary_;  // beside the file the target names
    std::string final_;      // that file: the target, or where its symbolic link points
    std::intptr_t handle_ = -1;
    int createError_ = 0;
    std::int64_t written_ = 0;
    bool settled_ = false;  // committed, kept or never created
};

// A read-back nobody keeps (tarven-link's --verify): a new, empty file of
// this user's own in the system's temporary folder. Its name, or empty with
// the errno in `error`.
std::string CreateScratchFile(int& error);
// Removes the file and whatever a read-back into it kept beside it.
void RemoveScratchFile(const std::string& path);

}  // namespace tarven
