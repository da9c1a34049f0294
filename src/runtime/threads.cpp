#include "runtime/threads.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

struct ThreadRecord {
  std::stop_source stop;
  bool finished = false;  // guarded by registryMutex
};

// Records are never removed, so handles and record addresses stay valid to the
// end of the process; a deque keeps addresses stable as it grows.
std::mutex registryMutex;
std::condition_variable_any threadEnded;
std::deque<ThreadRecord> threadRecords;
std::deque<std::mutex> locks;

thread_local ThreadRecord* currentRecord = nullptr;

ThreadRecord* findRecord(ThreadHandle handle) {
  if (handle <= 0 || handle > static_cast<ThreadHandle>(threadRecords.size())) return nullptr;
  return &threadRecords[static_cast<std::size_t>(handle) - 1];
}

std::mutex* findLock(LockHandle lock) {
  std::lock_guard guard(registryMutex);
  if (lock <= 0 || lock > static_cast<LockHandle>(locks.size())) return nullptr;
  return &locks[static_cast<std::size_t>(lock) - 1];
}

}  // namespace

ThreadHandle startThread(ThreadRoutine routine, std::int32_t argument) {
  if (routine == nullptr || stopRequested()) return 0;
  ThreadRecord* record = nullptr;
  ThreadHandle handle = 0;
  {
    std::lock_guard guard(registryMutex);
    record = &threadRecords.emplace_back();
    handle = static_cast<ThreadHandle>(threadRecords.size());
  }
  try {
    std::thread([record, routine, argument] {
      currentRecord = record;
      routine(argument);
      {
        std::lock_guard guard(registryMutex);
        record->finished = true;
      }
      threadEnded.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    std::lock_guard guard(registryMutex);
    record->finished = true;
    return 0;
  }
  return handle;
}

bool waitThread(ThreadHandle handle) {
  std::unique_lock guard(registryMutex);
  ThreadRecord* record = findRecord(handle);
  if (record == nullptr) return false;
  return threadEnded.wait(guard, currentStopToken(), [record] { return record->finished; });
}

bool killThread(ThreadHandle handle) {
  ThreadRecord* record = nullptr;
  {
    std::lock_guard guard(registryMutex);
    record = findRecord(handle);
  }
  if (record == nullptr) return false;
  // Runs the target's wake-ups (its waits, transfers, message box) right here;
  // each of them only signals and returns.
  record->stop.request_stop();
  return true;
}

std::stop_token currentStopToken() {
  return currentRecord != nullptr ? currentRecord->stop.get_token() : std::stop_token();
}

bool stopRequested() {
  return currentRecord != nullptr && currentRecord->stop.stop_requested();
}

LockHandle createLock() {
  std::lock_guard guard(registryMutex);
  locks.emplace_back();
  return static_cast<LockHandle>(locks.size());
}

void enterLock(LockHandle lock) {
  if (std::mutex* m = findLock(lock)) m->lock();
}

void leaveLock(LockHandle lock) {
  if (std::mutex* m = findLock(lock)) m->unlock();
}

void sleepMs(std::int32_t ms) {
  if (ms <= 0) return;
  std::mutex m;
  std::condition_variable_any cv;
  std::unique_lock guard(m);
  cv.wait_for(guard, currentStopToken(), std::chrono::milliseconds(ms), [] { return false; });
}
