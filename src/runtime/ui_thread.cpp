#include "runtime/ui_thread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QThread>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace {

// Calls travel through a queue of our own, under a std::mutex, and wake the
// user interface thread with an empty event. Qt's own blocking queued call
// would work too, but it hands its data over through futex-based locks and
// reads the caller's stack after the call, which the thread sanitizer cannot
// follow; with this queue every hand-over is one it sees.
struct Call {
  const std::function<void()>* fn = nullptr;  // a waiting caller's function
  std::function<void()> owned;                // a posted function, run once
  bool waited = false;
  bool done = false;  // guarded by queueMutex
};

std::mutex queueMutex;
std::condition_variable callDone;
std::deque<Call*> queue;  // guarded by queueMutex

const QEvent::Type kWakeEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

void runQueuedCalls() {
  for (;;) {
    Call* call = nullptr;
    {
      std::lock_guard guard(queueMutex);
      if (queue.empty()) return;
      call = queue.front();
      queue.pop_front();
    }
    if (!call->waited) {
      call->owned();
      delete call;
      continue;
    }
    (*call->fn)();
    {
      std::lock_guard guard(queueMutex);
      call->done = true;
    }
    callDone.notify_all();
  }
}

class Waker : public QObject {
 public:
  bool event(QEvent* event) override {
    if (event->type() != kWakeEvent) return QObject::event(event);
    runQueuedCalls();
    return true;
  }
};

// Made on first use by whichever thread, then handed to the user interface
// thread, where its events are delivered. It lives to the end of the process.
Waker* waker() {
  static Waker* const instance = [] {
    auto* made = new Waker();
    made->moveToThread(QCoreApplication::instance()->thread());
    return made;
  }();
  return instance;
}

void enqueue(Call* call) {
  // Made before the lock, so that its deletion by Qt on the user interface
  // thread, after runQueuedCalls took the lock, follows its making.
  auto* wake = new QEvent(kWakeEvent);
  {
    std::lock_guard guard(queueMutex);
    queue.push_back(call);
  }
  QCoreApplication::postEvent(waker(), wake);
}

}  // namespace

bool isUiThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app == nullptr || QThread::currentThread() == app->thread();
}

void runOnUiThread(const std::function<void()>& fn) {
  if (isUiThread()) {
    fn();
    return;
  }
  Call call;
  call.fn = &fn;
  call.waited = true;
  enqueue(&call);
  std::unique_lock guard(queueMutex);
  callDone.wait(guard, [&call] { return call.done; });
}

void postToUiThread(std::function<void()> fn) {
  if (QCoreApplication::instance() == nullptr) {
    fn();
    return;
  }
  auto* call = new Call();
  call->owned = std::move(fn);
  enqueue(call);
}
