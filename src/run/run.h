// One wallpaper run as the user interface starts and stops it.
//
// Each run has a record of its own (save folder, counters, locks, threads) that
// its worker, reporter and download tasks share and keep alive, so a task of a
// stopped run still counts and locks within its own run. The wallpaper list
// shows the entries of one run at a time, the last one started; only that run
// writes to the list, the status label and the progress bar.
#pragma once

#include <string_view>

#include "runtime/threads.h"
#include "text/text.h"

// The gallery page every run of the program fetches.
inline constexpr std::string_view galleryPageUrl =
    "http://windows.microsoft.com/zh-CN/windows/wallpaper/?T1=all";

// Makes a new run that saves into saveFolder (which ends in a separator) and
// fetches the gallery page from pageUrl, makes it the run whose entries the
// list shows, and starts its worker. The caller has already put the window into
// the running state and cleared the list. The worker's handle, 0 if it could
// not be started. User interface thread.
ThreadHandle startRun(const Text& saveFolder, const Text& pageUrl);

// Ends the last started run's worker and parse-progress reporter at once,
// without waiting; from its return on they change nothing visible. Download
// tasks already started go on to their end. User interface thread.
void stopRun();

// The save folder of the run whose entries the list shows; empty before the
// first run and after forgetShownRun. User interface thread.
[[nodiscard]] Text shownRunFolder();

// The list is going away with the main window: no run's entries are shown any
// more, so tasks still running leave the window alone. User interface thread.
void forgetShownRun();

struct RunThreads {
  ThreadHandle worker = 0;
  ThreadHandle reporter = 0;  // 0 until the worker has started it
};
// The threads of the last started run, zeros before the first run. User
// interface thread.
[[nodiscard]] RunThreads lastRunThreads();
