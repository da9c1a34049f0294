// A visible step of a thread that a stop must not overlap.
#pragma once

#include <functional>

// Runs step unless the calling thread has been stopped; false when it was not
// run. A killThread on the caller waits for a step in progress, so once it has
// returned no further step of the stopped thread can begin. The step must be
// short and must not wait for another thread (the stopping thread may be the
// one it would wait for). Threads not made by startThread always run it. Any
// thread.
bool runVisibleStep(const std::function<void()>& step);
