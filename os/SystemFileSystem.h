// The real file system of the platform the program was built for, which the
// front ends hand to the models; os/FileSystemUnix.cpp or FileSystemWin.cpp
// defines it, whichever CMake chose.
#pragma once

#include "FileSystem.h"

namespace tarven {

FileSystem& SystemFileSystem();

}  // namespace tarven
