// Start-up, the message loop, the exit sequence and the fatal error box.

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QString>
#include <QWidget>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <new>
#include <stop_token>
#include <string>

#include "runtime/threads.h"
#include "runtime/ui_thread.h"
#include "text/encoding.h"

namespace {

// Freed when memory runs out, so that the error box itself can still be built.
constexpr std::size_t kMemoryReserve = std::size_t{1} << 20;
void* memoryReserve = nullptr;

std::atomic<void (*)()> exitRoutine{nullptr};
// Set once the message loop has ended: errors of other threads are no longer shown.
std::atomic<bool> ending{false};
// User interface thread only.
bool fatalBoxShown = false;
bool mainWindowGone = false;  // the application is quitting

// Ends at once: no static destructors or atexit handlers run under threads that
// may still be using what they would release.
[[noreturn]] void endProcess(int status) {
  std::fflush(nullptr);
  std::_Exit(status);
}

// What a thread whose fatal error is handled elsewhere does until the end.
[[noreturn]] void parkForever() {
  std::mutex m;
  std::condition_variable cv;
  std::unique_lock guard(m);
  for (;;)
    cv.wait(guard);
}

QString toQString(const Text& text) {
  return QString::fromStdString(textToUtf8(text));
}

Text fatalErrorText(std::int32_t code, const Text& message) {
  std::string text = "运行时出错!\r\n\r\n"_t.str();
  if (code != 0) text += "错误代码："_t.str() + std::to_string(code) + "\r\n\r\n";
  if (!message.empty()) text += "错误信息："_t.str() + message.str() + "\r\n";
  return Text(std::move(text));
}

// Shows the box on the user interface thread; dismissing it ends the process
// with status 255. It has no owner and is not modal, so the main window stays
// usable meanwhile. Returns only for an error raised on another thread, when
// that thread is stopped (the box closes) or the program's loop ends because
// the main window is gone (the normal exit then proceeds).
void showFatalBox(const Text& text, bool raisedHere, std::stop_token raiser) {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    std::fputs(textToUtf8(text).c_str(), stderr);
    endProcess(255);
  }
  if (raiser.stop_requested()) return;
  QMessageBox* box = nullptr;
  if (!fatalBoxShown) {
    fatalBoxShown = true;
    box = new QMessageBox(QMessageBox::Critical, toQString("错误"_t), toQString(text),
                          QMessageBox::Ok);
    box->setObjectName("fatalErrorBox");
    box->setTextFormat(Qt::PlainText);
    box->setWindowModality(Qt::NonModal);
    // The box alone never keeps the program running once the main window is gone.
    box->setAttribute(Qt::WA_QuitOnClose, false);
    // The application's quit closes the box too once the main window is gone;
    // only a dismissal by the user ends the process here.
    QObject::connect(qApp, &QGuiApplication::lastWindowClosed, box, [] { mainWindowGone = true; });
    QObject::connect(box, &QMessageBox::finished, [] {
      if (!mainWindowGone) endProcess(255);
    });
    box->show();
  }
  QEventLoop loop;
  std::stop_callback onStop(
      raiser, [&loop] { QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection); });
  loop.exec();  // ends when the application quits or the raiser is stopped
  if (raisedHere) endProcess(255);
  if (box != nullptr) {
    QObject::disconnect(box, &QMessageBox::finished, nullptr, nullptr);
    delete box;
    fatalBoxShown = false;
  }
}

[[noreturn]] void raiseFatalError(std::int32_t code, const Text& message) {
  const Text text = fatalErrorText(code, message);
  if (isUiThread()) {
    showFatalBox(text, true, std::stop_token());
    endProcess(255);
  }
  // A stopped thread takes no visible step, and after the loop no box appears.
  if (!stopRequested() && !ending.load()) {
    const std::stop_token raiser = currentStopToken();
    runOnUiThread([&] {
      if (!ending.load()) showFatalBox(text, false, raiser);
    });
  }
  parkForever();
}

void onAllocationFailure() {
  // A second failure while the first is being reported (building the box may
  // need memory too) ends the process at once rather than waiting on itself.
  static std::atomic<bool> reporting{false};
  if (reporting.exchange(true)) {
    std::fputs("out of memory\n", stderr);
    endProcess(255);
  }
  std::free(memoryReserve);
  memoryReserve = nullptr;
  // The handler is not told how much was asked for, so the count is left out.
  raiseFatalError(0, "分配内存失败!"_t);
}

}  // namespace

void fatalError(std::int32_t code) {
  raiseFatalError(code, code == 10
                            ? "“重定义数组”命令的数组维定义参数值必须大于零或单维时大于等于零"_t
                            : Text());
}

void fatalErrorMessage(const Text& message) {
  raiseFatalError(0, message);
}

void initRuntime(int& argc, char** argv) {
  // Never destroyed: the process ends with _Exit.
  if (QCoreApplication::instance() == nullptr) new QApplication(argc, argv);
  QApplication::setQuitOnLastWindowClosed(true);
  if (memoryReserve == nullptr) memoryReserve = std::malloc(kMemoryReserve);
  std::set_new_handler(onAllocationFailure);
}

void setExitRoutine(void (*routine)()) {
  exitRoutine.store(routine);
}

void runMessageLoop() {
  bool anyWindow = false;
  for (const QWidget* w : QApplication::topLevelWidgets())
    anyWindow = anyWindow || w->isVisible();
  if (anyWindow) QApplication::exec();
  ending.store(true);
  if (void (*routine)() = exitRoutine.exchange(nullptr)) routine();
  endProcess(0);
}
