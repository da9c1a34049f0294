// One wallpaper's download task.
#pragma once

#include <memory>

#include "run/run_state.h"
#include "text/text.h"

// taskText is the cleaned title, "|" and the image link. Adds the list entry,
// skips an existing file or downloads the image and writes it, counts itself
// and refreshes the status. Once a newer run shows its entries the task still
// writes its file and counts in its own run, but leaves the window alone. Runs
// on a thread of its own.
void runDownloadTask(const std::shared_ptr<Run>& run, const Text& taskText);
