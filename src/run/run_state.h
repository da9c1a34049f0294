// The record one run's threads share, and the helpers they meet through.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "runtime/threads.h"
#include "text/text.h"

struct Run {
  // Fixed before any thread of the run starts.
  Text saveFolder;
  Text pageUrl;
  std::uint64_t id = 0;

  // Made by the worker before it starts any task.
  LockHandle listLock = 0;
  LockHandle counterLock = 0;

  // Written by the worker, read by the reporter and the tasks without a lock.
  std::atomic<std::int32_t> parseProgress{0};
  std::atomic<std::int32_t> foundCount{0};
  // Incremented by tasks under counterLock, read without it.
  std::atomic<std::int32_t> finishedCount{0};

  std::atomic<ThreadHandle> workerThread{0};
  std::atomic<ThreadHandle> reporterThread{0};
  // Set by the stop action on the user interface thread, where the reporter
  // also tests it, so a reporter whose handle the stop action could not see
  // yet still shows nothing after the stop.
  std::atomic<bool> stopped{false};
};

// Makes the record of a new run and makes it the run whose entries the list
// shows; its threads are still to be started. User interface thread.
[[nodiscard]] std::shared_ptr<Run> beginRun(const Text& saveFolder, const Text& pageUrl);

// Starts body on a new thread of the run-time layer, so that it can be stopped
// and waited for like any other. 0 when no thread was made (the body is then
// dropped), also when the calling thread has been stopped. Any thread.
[[nodiscard]] ThreadHandle startRunThread(std::function<void()> body);

// Queues fn to run on the user interface thread, in order with every other
// call handed to that thread, but only if run is then the run whose entries
// the list shows; returns at once. Any thread.
void postWhileShown(const std::shared_ptr<Run>& run, std::function<void()> fn);
