#include "runtime/ui_thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

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
  QMetaObject::invokeMethod(QCoreApplication::instance(), fn, Qt::BlockingQueuedConnection);
}
