#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "WorkerPriority.h"

namespace tarven {

void SetCurrentWorkerPriority(WorkerPriority priority) {
    // Lowering the nice value needs a privilege most users lack; that is fine.
    const int nice = priority == WorkerPriority::Raised ? -2 : 1;
    ::setpriority(PRIO_PROCESS, id_t(::syscall(SYS_gettid)), nice);
}

}  // namespace tarven
