// The worker's thread priority, set best effort from inside the worker: the
// transfers that must keep pace with the receiver run a little above normal,
// the read-back a little below. A refusal is ignored.
#pragma once

namespace tarven {

enum class WorkerPriority { Raised, Lowered };

void SetCurrentWorkerPriority(WorkerPriority priority);

}  // namespace tarven
