#include <windows.h>

#include "WorkerPriority.h"

namespace tarven {

void SetCurrentWorkerPriority(WorkerPriority priority) {
    ::SetThreadPriority(::GetCurrentThread(),
                        priority == WorkerPriority::Raised ? THREAD_PRIORITY_HIGHEST : THREAD_PRIORITY_BELOW_NORMAL);
}

}  // namespace tarven
