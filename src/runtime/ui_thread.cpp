#include "runtime/ui_thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <atomic>

bool isUiThread() {
  QCoreApplication* app = QCoreApplication::instance();
  return app == nullptr || QThread::currentThread() == app->thread();
}

void runOnUiThread(const std::function<void()>& fn) {
  // A blocking queued call from the user interface thread itself deadlocks.
  if (isUiThread()) {
    fn();
    return;
  }
  // Qt hands the call over through its own futex-based locks, which the thread
  // sanitizer cannot see; this release/acquire pair states the ordering for it
  // (what the caller wrote before, what fn wrote for the caller after).
  std::atomic<int> handshake{0};
  handshake.store(1, std::memory_order_release);
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [&] {
        (void)handshake.load(std::memory_order_acquire);
        fn();
        handshake.store(2, std::memory_order_release);
      },
      Qt::BlockingQueuedConnection);
  (void)handshake.load(std::memory_order_acquire);
}
