// The file system as the main window uses it: the working folder (which is
// always also the current directory), the image files in it and what they
// hold. Behind an interface so a front end or a test can hand the window
// another file system; LocalImageFiles is the machine's own.
//
// Names and folders are UTF-8 text; a name is relative to the current
// directory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ImageRules.h"

namespace tarven {

class ImageFiles {
public:
    virtual ~ImageFiles() = default;

    virtual std::string CurrentFolder() = 0;
    // False when the folder cannot be made current; the old one stays.
    virtual bool SetCurrentFolder(const std::string& folder) = 0;
    // Entries of the current directory matching "*.bi*", folders included.
    virtual std::vector<std::string> ImageCandidates() = 0;
    // The length of a regular file that can be opened for reading.
    virtual std::optional<std::int64_t> RegularFileSize(const std::string& name) = 0;
    virtual std::optional<ImageVersions> ReadImageVersions(const std::string& name) = 0;
    // True when the file exists and can be opened and held for reading.
    virtual bool CanOpenForReading(const std::string& name) = 0;
    // A pipe, a device or a socket: nothing a file can be received into
    // without a write that may never return.
    virtual bool IsSpecialFile(const std::string& name) = 0;
};

class FileSystem;

// The machine's own files, over the file system the front end hands in (the
// one the folder dialogs use, so both agree on the current folder).
class LocalImageFiles : public ImageFiles {
public:
    explicit LocalImageFiles(FileSystem& system) : system_(system) {}
    std::string CurrentFolder() override;
    bool SetCurrentFolder(const std::string& folder) override;
    std::vector<std::string> ImageCandidates() override;
    std::optional<std::int64_t> RegularFileSize(const std::string& name) override;
    std::optional<ImageVersions> ReadImageVersions(const std::string& name) override;
    bool CanOpenForReading(const std::string& name) override;
    bool IsSpecialFile(const std::string& name) override;

private:
    FileSystem& system_;
};

// The "*.bi*" wildcard, without regard to letter case.
bool MatchesImageWildcard(std::string_view name);

// Names in `folder` matching the wildcard, in case-insensitive name order
// (names equal but for case keep a fixed byte order).
std::vector<std::string> ListImageCandidates(const std::string& folder);

// Candidates that `files` finds of a size the kind accepts, in listing
// order. Folders and files that cannot be opened drop out silently.
std::vector<std::string> ListAcceptedImages(ImageFiles& files, ImageKind kind);

}  // namespace tarven
