#include "run/run.h"

#include <map>
#include <mutex>
#include <utility>

#include "run/run_state.h"
#include "run/worker.h"
#include "runtime/ui_thread.h"

namespace {

// Bodies waiting for their thread to pick them up; the thread routine gets
// only an integer, which names its body here.
std::mutex pendingMutex;
std::map<std::int32_t, std::function<void()>> pendingBodies;
std::int32_t lastBodyId = 0;

void runPendingBody(std::int32_t id) {
  std::function<void()> body;
  {
    std::lock_guard guard(pendingMutex);
    auto found = pendingBodies.find(id);
    if (found == pendingBodies.end()) return;
    body = std::move(found->second);
    pendingBodies.erase(found);
  }
  body();
}

// The run whose entries the list shows, and the last run started, which is the
// only one that can be active. Changed only on the user interface thread; the
// mutex serves the tests' direct calls without a Qt application.
std::mutex runsMutex;
std::shared_ptr<Run> shownRun;
std::shared_ptr<Run> lastRun;
std::uint64_t lastRunId = 0;

std::shared_ptr<Run> lastStartedRun() {
  std::lock_guard guard(runsMutex);
  return lastRun;
}

}  // namespace

ThreadHandle startRunThread(std::function<void()> body) {
  std::int32_t id = 0;
  {
    std::lock_guard guard(pendingMutex);
    id = ++lastBodyId;
    pendingBodies.emplace(id, std::move(body));
  }
  const ThreadHandle handle = startThread(runPendingBody, id);
  if (handle == 0) {
    std::lock_guard guard(pendingMutex);
    pendingBodies.erase(id);
  }
  return handle;
}

void postWhileShown(const std::shared_ptr<Run>& run, std::function<void()> fn) {
  postToUiThread([id = run->id, fn = std::move(fn)] {
    {
      std::lock_guard guard(runsMutex);
      if (shownRun == nullptr || shownRun->id != id) return;
    }
    fn();
  });
}

std::shared_ptr<Run> beginRun(const Text& saveFolder, const Text& pageUrl) {
  auto run = std::make_shared<Run>();
  run->saveFolder = saveFolder;
  run->pageUrl = pageUrl;
  std::lock_guard guard(runsMutex);
  run->id = ++lastRunId;
  shownRun = run;
  lastRun = run;
  return run;
}

ThreadHandle startRun(const Text& saveFolder, const Text& pageUrl) {
  const std::shared_ptr<Run> run = beginRun(saveFolder, pageUrl);
  const ThreadHandle worker = startRunThread([run] { runWorker(run); });
  run->workerThread = worker;
  return worker;
}

void stopRun() {
  const std::shared_ptr<Run> run = lastStartedRun();
  if (run == nullptr) return;
  run->stopped = true;
  killThread(run->workerThread);
  killThread(run->reporterThread);
}

Text shownRunFolder() {
  std::lock_guard guard(runsMutex);
  return shownRun != nullptr ? shownRun->saveFolder : Text();
}

void forgetShownRun() {
  std::lock_guard guard(runsMutex);
  shownRun = nullptr;
}

RunThreads lastRunThreads() {
  const std::shared_ptr<Run> run = lastStartedRun();
  if (run == nullptr) return {};
  return {run->workerThread, run->reporterThread};
}
