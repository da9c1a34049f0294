#include "runtime/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <mutex>
#include <vector>

#include "runtime/visible_step.h"

namespace {

using namespace std::chrono_literals;

// A one-way event between threads, waited for with a generous bound so that a
// fault fails the test instead of hanging it.
class Event {
 public:
  void set() {
    {
      std::lock_guard guard(mutex_);
      set_ = true;
    }
    cv_.notify_all();
  }
  [[nodiscard]] bool waitFor(std::chrono::milliseconds bound = 10s) {
    std::unique_lock guard(mutex_);
    return cv_.wait_for(guard, bound, [this] { return set_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool set_ = false;
};

constexpr std::int32_t kForever = std::numeric_limits<std::int32_t>::max();

// Blocks in sleepMs until the calling thread is stopped.
void sleepUntilStopped() {
  while (!stopRequested())
    sleepMs(kForever);
}

TEST(Threads, RoutineGetsItsArgumentAndWaitEndsWithIt) {
  static std::atomic<std::int32_t> received{-1};
  for (const std::int32_t argument : {0, 42, -7}) {
    SCOPED_TRACE(argument);
    received = -1;
    const ThreadHandle handle = startThread([](std::int32_t a) { received = a; }, argument);
    ASSERT_NE(handle, 0);
    EXPECT_TRUE(waitThread(handle));
    EXPECT_EQ(received, argument);
  }
  received = -1;
  ASSERT_TRUE(waitThread(startThread([](std::int32_t a) { received = a; })));
  EXPECT_EQ(received, 0);
}

TEST(Threads, WaitOnEndedThreadReturnsAtOnceAndHandleStaysValid) {
  const ThreadHandle handle = startThread([](std::int32_t) {});
  ASSERT_NE(handle, 0);
  ASSERT_TRUE(waitThread(handle));
  // The thread has ended: these must neither block nor fail.
  EXPECT_TRUE(waitThread(handle));
  EXPECT_TRUE(killThread(handle));
  EXPECT_TRUE(waitThread(handle));
}

TEST(Threads, HandlesThatNameNothingAreHarmless) {
  const ThreadHandle known = startThread([](std::int32_t) {});
  ASSERT_TRUE(waitThread(known));
  const LockHandle lock = createLock();
  struct Case {
    const char* name;
    std::int32_t handle;
  };
  const Case cases[] = {
      {"zero", 0},
      {"negative", -1},
      {"smallest", std::numeric_limits<std::int32_t>::min()},
      {"beyond the last thread", known + 1000},
      {"largest", std::numeric_limits<std::int32_t>::max()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(waitThread(c.handle));
    EXPECT_FALSE(killThread(c.handle));
    if (c.handle != lock) {
      enterLock(c.handle);
      leaveLock(c.handle);
    }
  }
  // The real lock is still free.
  enterLock(lock);
  leaveLock(lock);
  EXPECT_FALSE(stopRequested());
}

TEST(Threads, StartFromStoppedThreadGivesNoThread) {
  struct State {
    ThreadHandle started = -1;
    std::atomic<bool> childRan{false};
    Event done;
  };
  // Routines reach their test's state through a static pointer to a fresh
  // state that is never freed, so a thread that a failed test leaves behind
  // never touches freed memory.
  static State* s;
  s = new State;
  const ThreadHandle handle = startThread([](std::int32_t) {
    sleepUntilStopped();
    s->started = startThread([](std::int32_t) { s->childRan = true; });
    s->done.set();
  });
  ASSERT_NE(handle, 0);
  ASSERT_TRUE(killThread(handle));
  ASSERT_TRUE(s->done.waitFor());
  EXPECT_EQ(s->started, 0);
  EXPECT_FALSE(s->childRan);
  EXPECT_TRUE(waitThread(handle));
}

TEST(ThreadStop, WakesSleepingThread) {
  struct State {
    Event woke;
    std::atomic<bool> sawStop{false};
  };
  static State* s;
  s = new State;
  const ThreadHandle handle = startThread([](std::int32_t) {
    sleepMs(kForever);
    s->sawStop = stopRequested();
    s->woke.set();
  });
  ASSERT_NE(handle, 0);
  EXPECT_TRUE(killThread(handle));
  ASSERT_TRUE(s->woke.waitFor());
  EXPECT_TRUE(s->sawStop);
  EXPECT_TRUE(waitThread(handle));
}

TEST(ThreadStop, WakesThreadWaitingForAnother) {
  struct State {
    Event waiterDone;
    std::atomic<int> waitResult{-1};
  };
  static State* s;
  s = new State;
  const ThreadHandle sleeper = startThread([](std::int32_t) { sleepUntilStopped(); });
  ASSERT_NE(sleeper, 0);
  const ThreadHandle waiter = startThread(
      [](std::int32_t target) {
        s->waitResult = waitThread(target) ? 1 : 0;
        s->waiterDone.set();
      },
      sleeper);
  ASSERT_NE(waiter, 0);
  EXPECT_TRUE(killThread(waiter));
  ASSERT_TRUE(s->waiterDone.waitFor());
  EXPECT_EQ(s->waitResult, 0);

  // Only the waiter was stopped; the thread it waited for ends when told to.
  EXPECT_TRUE(killThread(sleeper));
  EXPECT_TRUE(waitThread(sleeper));
}

TEST(ThreadStop, LeavesThreadsStartedByTheTargetRunning) {
  struct State {
    Event reporterStarted;
    Event gate;
    Event reporterDone;
    std::atomic<int> reporterStopped{-1};
    std::atomic<ThreadHandle> reporter{0};
  };
  static State* s;
  s = new State;
  const ThreadHandle worker = startThread([](std::int32_t) {
    s->reporter = startThread([](std::int32_t) {
      (void)s->gate.waitFor();
      s->reporterStopped = stopRequested() ? 1 : 0;
      s->reporterDone.set();
    });
    s->reporterStarted.set();
    sleepUntilStopped();
  });
  ASSERT_NE(worker, 0);
  // Stop the worker once it has started the reporter, as the parse phase would.
  ASSERT_TRUE(s->reporterStarted.waitFor());
  ASSERT_NE(s->reporter, 0);
  ASSERT_TRUE(killThread(worker));
  ASSERT_TRUE(waitThread(worker));
  s->gate.set();
  ASSERT_TRUE(s->reporterDone.waitFor());
  EXPECT_EQ(s->reporterStopped, 0);
  EXPECT_TRUE(waitThread(s->reporter));
}

TEST(ThreadStop, WaitsForVisibleStepInProgressAndBlocksLaterOnes) {
  struct State {
    Event inStep;
    Event release;
    Event killing;
    Event killerDone;
    std::atomic<bool> stepEnded{false};
    std::atomic<bool> laterStepRan{false};
    std::atomic<int> stepEndedWhenKillReturned{-1};
  };
  static State* s;
  s = new State;
  const ThreadHandle target = startThread([](std::int32_t) {
    runVisibleStep([] {
      s->inStep.set();
      (void)s->release.waitFor();
      s->stepEnded = true;
    });
    sleepUntilStopped();
    s->laterStepRan = runVisibleStep([] {});
  });
  ASSERT_NE(target, 0);
  ASSERT_TRUE(s->inStep.waitFor());
  const ThreadHandle killer = startThread(
      [](std::int32_t handle) {
        s->killing.set();
        (void)killThread(handle);
        s->stepEndedWhenKillReturned = s->stepEnded ? 1 : 0;
        s->killerDone.set();
      },
      target);
  ASSERT_NE(killer, 0);
  // Ends the step while the kill is on its way: without the wait it would
  // usually return before the step has ended.
  ASSERT_TRUE(s->killing.waitFor());
  s->release.set();
  ASSERT_TRUE(s->killerDone.waitFor());
  EXPECT_EQ(s->stepEndedWhenKillReturned, 1);
  ASSERT_TRUE(waitThread(killer));
  ASSERT_TRUE(waitThread(target));
  EXPECT_FALSE(s->laterStepRan);
}

TEST(Sleep, NonPositiveReturnsAtOnce) {
  for (const std::int32_t ms : {0, -1, std::numeric_limits<std::int32_t>::min()}) {
    SCOPED_TRACE(ms);
    sleepMs(ms);
  }
}

TEST(Locks, ManyUsersAtOnceExcludeEachOther) {
  constexpr int kLocks = 3;
  constexpr int kThreads = 12;
  constexpr int kRounds = 2000;
  static LockHandle locks[kLocks];
  static long counters[kLocks];  // plain: only the locks guard them
  for (int i = 0; i < kLocks; ++i) {
    locks[i] = createLock();
    counters[i] = 0;
  }
  std::vector<ThreadHandle> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.push_back(startThread(
        [](std::int32_t index) {
          for (int round = 0; round < kRounds; ++round) {
            const int which = (index + round) % kLocks;
            enterLock(locks[which]);
            ++counters[which];
            leaveLock(locks[which]);
            // New locks may be made while others are in use.
            if (round % 500 == 0) (void)createLock();
          }
        },
        t));
    ASSERT_NE(threads.back(), 0);
  }
  for (const ThreadHandle t : threads)
    ASSERT_TRUE(waitThread(t));
  long total = 0;
  for (const long c : counters)
    total += c;
  EXPECT_EQ(total, static_cast<long>(kThreads) * kRounds);
}

TEST(Locks, LeavingALockNotHeldIsIgnored) {
  struct State {
    Event holding;
    Event release;
  };
  static State* s;
  s = new State;
  const LockHandle lock = createLock();
  leaveLock(lock);  // never entered
  const ThreadHandle holder = startThread(
      [](std::int32_t l) {
        enterLock(l);
        s->holding.set();
        (void)s->release.waitFor();
        leaveLock(l);
      },
      lock);
  ASSERT_TRUE(s->holding.waitFor());
  leaveLock(lock);  // held by another thread
  s->release.set();
  ASSERT_TRUE(waitThread(holder));
  enterLock(lock);
  leaveLock(lock);
}

}  // namespace
