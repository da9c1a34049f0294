// The status label and the progress bar during a run. The bar's range 0..1000
// is the parse phase in its first half and the download phase in its second.
#pragma once

#include <memory>

#include "run/run_state.h"

// The parse-progress reporter: every 100 ms shows run.parseProgress until its
// thread is stopped, the run is stopped or the main window is gone. Runs on a
// thread of its own.
void runProgressReporter(const std::shared_ptr<Run>& run);

// Shows the finished and found counts of the run and the matching bar
// position. User interface thread.
void showDownloadStatus(const Run& run);
// Queues showDownloadStatus while the run's entries are the ones shown. Any
// thread.
void refreshDownloadStatus(const std::shared_ptr<Run>& run);
