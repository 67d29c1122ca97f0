// Several receivers at once needs one child process per port, which the
// Windows build does not start yet: it says so and sends nothing.
#include <cstdio>

#include "Batch.h"

namespace tarven::cli {

int RunBatchUpload(const Options&, Console& console, const std::string&) {
    std::fprintf(console.err,
                 "Updating several receivers at once is not available on Windows yet; "
                 "run one tarven-link.exe per port (one --port each).\n");
    return kExitUsage;
}

}  // namespace tarven::cli
