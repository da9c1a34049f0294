// Start-up, exit and the fatal error box. Each case runs in a child process
// that makes its own application, since both paths end the process.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <string>

#include "runtime/threads.h"
#include "runtime/ui_thread.h"
#include "text/encoding.h"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

constexpr std::int32_t kForever = std::numeric_limits<std::int32_t>::max();

void startRuntime() {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "runtime_tests";
  static char* argv[] = {name, nullptr};
  initRuntime(argc, argv);
}

// Ends the child with a status no case expects, saying why.
[[noreturn]] void failChild(const std::string& why) {
  std::fprintf(stderr, "child failed: %s\n", why.c_str());
  std::fflush(stderr);
  std::_Exit(3);
}

QMessageBox* findFatalBox() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == "fatalErrorBox" && w->isVisible()) return qobject_cast<QMessageBox*>(w);
  return nullptr;
}

// Once the fatal box is shown, checks it and hands it to answer. Polls on the
// user interface thread, whose serving the window meanwhile is part of what is
// checked; a box that never comes fails the child.
void whenFatalBoxShown(const QString& expectedText, std::function<void(QMessageBox*)> answer) {
  auto* timer = new QTimer(qApp);
  auto ticks = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [=] {
    if (++*ticks > 3000) failChild("no fatal error box appeared");
    QMessageBox* box = findFatalBox();
    if (box == nullptr) return;
    timer->stop();
    if (box->windowTitle() != QString::fromUtf8("错误"))
      failChild("title " + box->windowTitle().toStdString());
    if (box->text() != expectedText) failChild("text " + box->text().toStdString());
    if (box->icon() != QMessageBox::Critical) failChild("not the error icon");
    if (box->standardButtons() != QMessageBox::Ok) failChild("buttons other than OK");
    if (QApplication::activeModalWidget() != nullptr)
      failChild("the box blocks the program's windows");
    std::fputs("box checked\n", stderr);
    answer(box);
  });
  timer->start(10);
}

void reportExitRoutine() {
  static int runs = 0;
  std::fprintf(stderr, "exit routine run %d on the user interface thread: %d\n", ++runs,
               isUiThread() ? 1 : 0);
}

// Calls then once the widget is closed or deleted.
void whenGone(QWidget* widget, std::function<void()> then) {
  auto* timer = new QTimer(qApp);
  auto ticks = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, [=, watched = QPointer<QWidget>(widget)] {
    if (watched != nullptr && watched->isVisible()) {
      if (++*ticks > 3000) failChild("the widget stayed");
      return;
    }
    timer->stop();
    then();
  });
  timer->start(10);
}

void clickOk(QMessageBox* box) {
  box->button(QMessageBox::Ok)->click();
}

const char* const kCode10Text =
    "运行时出错!\r\n\r\n错误代码：10\r\n\r\n"
    "错误信息：“重定义数组”命令的数组维定义参数值必须大于零或单维时大于等于零\r\n";

// Children start afresh by running the test program again: forking a process
// whose other tests may have left threads and Qt state behind is unsafe.
class ChildProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};
using FatalErrorDeathTest = ChildProcessTest;
using ExitDeathTest = ChildProcessTest;

TEST_F(FatalErrorDeathTest, BoxOnUserInterfaceThreadEndsWith255) {
  struct Case {
    const char* name;
    void (*raise)();
    const char* text;
  };
  static const Case cases[] = {
      {"code 10 with its message", [] { fatalError(10); }, kCode10Text},
      {"code without a message", [] { fatalError(3); }, "运行时出错!\r\n\r\n错误代码：3\r\n\r\n"},
      {"negative code", [] { fatalError(-1); }, "运行时出错!\r\n\r\n错误代码：-1\r\n\r\n"},
      {"code 0 with a message", [] { fatalErrorMessage("载入启动窗口失败"_t); },
       "运行时出错!\r\n\r\n错误信息：载入启动窗口失败\r\n"},
      {"code 0 without a message", [] { fatalErrorMessage(Text()); }, "运行时出错!\r\n\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EXIT(
        {
          startRuntime();
          setExitRoutine([] { failChild("the exit routine ran"); });
          whenFatalBoxShown(QString::fromUtf8(c.text), clickOk);
          c.raise();
        },
        ::testing::ExitedWithCode(255), "box checked");
  }
}

TEST_F(FatalErrorDeathTest, FromAnotherThreadTheUserInterfaceThreadShowsTheBox) {
  EXPECT_EXIT(
      {
        startRuntime();
        setExitRoutine([] { failChild("the exit routine ran"); });
        QWidget window;
        window.show();
        whenFatalBoxShown(QString::fromUtf8(kCode10Text), [&window](QMessageBox* box) {
          if (!window.isEnabled() || !window.isVisible())
            failChild("the main window is not usable");
          clickOk(box);
        });
        if (startThread([](std::int32_t) { fatalError(10); }) == 0) failChild("no thread");
        runMessageLoop();
      },
      ::testing::ExitedWithCode(255), "box checked");
}

TEST_F(FatalErrorDeathTest, ClosingTheMainWindowMeanwhileEndsNormally) {
  // The box belongs to the raising thread; the program's own end goes first.
  EXPECT_EXIT(
      {
        startRuntime();
        setExitRoutine([] { std::fputs("exit routine ran\n", stderr); });
        auto* window = new QWidget;
        window->show();
        whenFatalBoxShown(QString::fromUtf8(kCode10Text),
                          [window](QMessageBox*) { window->close(); });
        if (startThread([](std::int32_t) { fatalError(10); }) == 0) failChild("no thread");
        runMessageLoop();
      },
      ::testing::ExitedWithCode(0), "box checked\nexit routine ran\n$");
}

TEST_F(FatalErrorDeathTest, StoppingTheRaisingThreadClosesItsBox) {
  EXPECT_EXIT(
      {
        startRuntime();
        setExitRoutine(reportExitRoutine);
        auto* window = new QWidget;
        window->show();
        static ThreadHandle raiser;
        raiser = startThread([](std::int32_t) { fatalError(10); });
        if (raiser == 0) failChild("no thread");
        whenFatalBoxShown(QString::fromUtf8(kCode10Text), [window](QMessageBox* box) {
          if (!killThread(raiser)) failChild("no such thread");
          // The program goes on without the box; then it ends normally.
          whenGone(box, [window] {
            std::fputs("box closed\n", stderr);
            window->close();
          });
        });
        runMessageLoop();
      },
      ::testing::ExitedWithCode(0),
      "box checked\nbox closed\nexit routine run 1 on the user interface thread: 1\n$");
}

TEST_F(FatalErrorDeathTest, UnmetMemoryRequestShowsTheBox) {
  EXPECT_EXIT(
      {
        startRuntime();
        whenFatalBoxShown(QString::fromUtf8("运行时出错!\r\n\r\n错误信息：分配内存失败!\r\n"),
                          clickOk);
        if (kSanitized) {
          // The sanitizers end the process themselves when an allocation fails.
          std::get_new_handler()();
        } else {
          volatile std::size_t size = std::numeric_limits<std::size_t>::max() / 2;
          void* p = ::operator new(size);
          std::fprintf(stderr, "allocated %p\n", p);
        }
      },
      ::testing::ExitedWithCode(255), "box checked");
}

// Threads that are still busy when the window goes: one asleep, one in the
// middle of calls to the user interface thread.
void startBusyThreads() {
  if (startThread([](std::int32_t) { sleepMs(kForever); }) == 0) failChild("no thread");
  if (startThread([](std::int32_t) {
        for (;;) {
          runOnUiThread([] {});
          sleepMs(1);
        }
      }) == 0)
    failChild("no thread");
}

TEST_F(ExitDeathTest, MainWindowGoneRunsExitRoutineOnceAndEndsWithoutWaiting) {
  struct Case {
    const char* name;
    void (*end)(QWidget*);
  };
  static const Case cases[] = {
      {"closed", [](QWidget* w) { w->close(); }},
      {"destroyed", [](QWidget* w) { delete w; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EXIT(
        {
          startRuntime();
          setExitRoutine(reportExitRoutine);
          auto* window = new QWidget;
          window->show();
          startBusyThreads();
          QTimer::singleShot(0, [window, &c] { c.end(window); });
          runMessageLoop();
        },
        ::testing::ExitedWithCode(0), "exit routine run 1 on the user interface thread: 1\n$");
  }
}

TEST_F(ExitDeathTest, NoWindowEndsAtOnce) {
  EXPECT_EXIT(
      {
        startRuntime();
        setExitRoutine(reportExitRoutine);
        runMessageLoop();
      },
      ::testing::ExitedWithCode(0), "exit routine run 1 on the user interface thread: 1\n$");
}

TEST_F(ExitDeathTest, LaterRoutineReplacesEarlierOne) {
  EXPECT_EXIT(
      {
        startRuntime();
        setExitRoutine([] { failChild("the replaced routine ran"); });
        setExitRoutine(reportExitRoutine);
        runMessageLoop();
      },
      ::testing::ExitedWithCode(0), "exit routine run 1");
}

}  // namespace
