#include "runtime/threads.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "runtime/visible_step.h"

namespace {

struct ThreadRecord {
  std::stop_source stop;
  // Held during a visible step of the thread and while the stop mark is set, so
  // that a step either ends before killThread returns or never begins.
  std::mutex stepMutex;
  std::atomic<bool> stopMarked{false};  // written under stepMutex
  bool finished = false;                // guarded by Registry::mutex
};

struct Lock {
  std::mutex mutex;
  // Lets leaveLock ignore a thread that does not hold the lock: unlocking a
  // mutex held by another thread is undefined.
  std::atomic<std::thread::id> owner{};
};

// Records and locks are never removed, so handles and addresses stay valid to
// the end of the process; deques keep addresses stable as they grow.
struct Registry {
  std::mutex mutex;
  std::condition_variable_any threadEnded;
  std::deque<ThreadRecord> threads;
  std::deque<Lock> locks;
};

// Never destroyed: detached threads may still use it while the process ends.
Registry& registry() {
  static Registry* const instance = new Registry;
  return *instance;
}

thread_local ThreadRecord* currentRecord = nullptr;

ThreadRecord* findRecord(Registry& r, ThreadHandle handle) {
  if (handle <= 0 || static_cast<std::size_t>(handle) > r.threads.size()) return nullptr;
  return &r.threads[static_cast<std::size_t>(handle) - 1];
}

Lock* findLock(LockHandle lock) {
  Registry& r = registry();
  std::lock_guard guard(r.mutex);
  if (lock <= 0 || static_cast<std::size_t>(lock) > r.locks.size()) return nullptr;
  return &r.locks[static_cast<std::size_t>(lock) - 1];
}

ThreadHandle launch(ThreadRoutine routine, std::int32_t argument) {
  Registry& r = registry();
  ThreadRecord* record = nullptr;
  ThreadHandle handle = 0;
  {
    std::lock_guard guard(r.mutex);
    record = &r.threads.emplace_back();
    handle = static_cast<ThreadHandle>(r.threads.size());
  }
  try {
    std::thread([record, routine, argument] {
      currentRecord = record;
      routine(argument);
      Registry& r = registry();
      {
        std::lock_guard guard(r.mutex);
        record->finished = true;
      }
      r.threadEnded.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    std::lock_guard guard(r.mutex);
    record->finished = true;
    return 0;
  }
  return handle;
}

}  // namespace

bool runVisibleStep(const std::function<void()>& step) {
  ThreadRecord* self = currentRecord;
  if (self == nullptr) {
    step();
    return true;
  }
  std::lock_guard guard(self->stepMutex);
  if (self->stopMarked.load(std::memory_order_relaxed)) return false;
  step();
  return true;
}

ThreadHandle startThread(ThreadRoutine routine, std::int32_t argument) {
  if (routine == nullptr) return 0;
  ThreadHandle handle = 0;
  runVisibleStep([&] { handle = launch(routine, argument); });
  return handle;
}

bool waitThread(ThreadHandle handle) {
  Registry& r = registry();
  std::unique_lock guard(r.mutex);
  ThreadRecord* record = findRecord(r, handle);
  if (record == nullptr) return false;
  return r.threadEnded.wait(guard, currentStopToken(), [record] { return record->finished; });
}

bool killThread(ThreadHandle handle) {
  Registry& r = registry();
  ThreadRecord* record = nullptr;
  {
    std::lock_guard guard(r.mutex);
    record = findRecord(r, handle);
  }
  if (record == nullptr) return false;
  {
    std::lock_guard step(record->stepMutex);
    record->stopMarked.store(true, std::memory_order_release);
  }
  // Runs the target's wake-ups (its waits, transfers, message box) right here,
  // outside the step lock since they may take locks of their own; each of them
  // only signals and returns.
  record->stop.request_stop();
  return true;
}

std::stop_token currentStopToken() {
  return currentRecord != nullptr ? currentRecord->stop.get_token() : std::stop_token();
}

bool stopRequested() {
  return currentRecord != nullptr && currentRecord->stopMarked.load(std::memory_order_acquire);
}

LockHandle createLock() {
  Registry& r = registry();
  std::lock_guard guard(r.mutex);
  r.locks.emplace_back();
  return static_cast<LockHandle>(r.locks.size());
}

void enterLock(LockHandle lock) {
  Lock* l = findLock(lock);
  if (l == nullptr) return;
  l->mutex.lock();
  l->owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
}

void leaveLock(LockHandle lock) {
  Lock* l = findLock(lock);
  if (l == nullptr || l->owner.load(std::memory_order_relaxed) != std::this_thread::get_id())
    return;
  l->owner.store(std::thread::id(), std::memory_order_relaxed);
  l->mutex.unlock();
}

void sleepMs(std::int32_t ms) {
  if (ms <= 0) return;
  std::mutex m;
  std::condition_variable_any cv;
  std::unique_lock guard(m);
  cv.wait_for(guard, currentStopToken(), std::chrono::milliseconds(ms), [] { return false; });
}
