// What a finished upload is worth: the engine's word that the receiver holds
// the image, or its doubt, and on request the receiver's own copy read back
// over the same line and compared byte for byte with the file.
#pragma once

#include <cstddef>
#include <string>

#include "Commands.h"
#include "LinkEngine.h"
#include "Progress.h"

namespace tarven::cli {

// Empty when a read-back of `kind` is allowed at `level`, else the reason.
std::string ReadBackRefusal(ImageKind kind, AccessLevel level);

// Empty when --verify can be honoured for this kind at this level, else why
// not (a kind with no read-back, or one whose read-back needs level 2).
std::string VerifyRefusal(ImageKind kind, AccessLevel level);

// Where two images part: the first offset that differs, or the shorter
// length when one is the start of the other.
struct ImageComparison {
    bool identical = false;
    std::size_t firstDifference = 0;
    std::size_t receiverLength = 0, fileLength = 0;
};
ImageComparison CompareImages(const std::string& receiverCopy, const std::string& sourceFile);

// The upload of `file` ended with result 1 on `port` (still open). Prints
// what the technician must know and returns the exit status: 0 confirmed or
// verified identical, 5 unconfirmed (or the check could not be done), 6 the
// receiver's copy differs.
struct UploadCheck {
    const Options& options;
    Console& console;
    int portIndex;
    std::string label;
    std::string file;
    ImageKind kind;
    AccessLevel level;
    ProgressStyle style;
};
int SettleUpload(const UploadCheck& check, PortHandle port, UploadDoubt doubt);

}  // namespace tarven::cli
