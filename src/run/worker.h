// The run worker: fetch, parse with progress, download tasks in strict batches
// of N, the completion message and the return to the idle state.
#pragma once

#include <memory>

#include "run/run_state.h"

// The whole run on the calling thread, a thread of the run-time layer that the
// stop action may end: it then returns without any further visible step.
void runWorker(const std::shared_ptr<Run>& run);
