// Drives the real main window from a test on the user interface thread: makes
// it with the program's handlers (the start action pointed at a test server),
// answers the folder picker, waits for the completion message and reads the
// controls. Header-only, so that the tests of the user interface share it.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <QtTest/QTest>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "run/run.h"
#include "runtime/control_registry.h"
#include "runtime/controls.h"
#include "runtime/threads.h"
#include "support/environment.h"
#include "text/encoding.h"
#include "ui/handlers.h"
#include "ui/main_window.h"

namespace window_driver {

// Long enough for any run of the tests on a loaded machine or a sanitizer
// build; a wait only takes that long when something is broken.
constexpr int kPatienceMs = 120000;

inline void ensureApplication() {
  static int argc = 1;
  static char name[] = "tests";
  static char* argv[] = {name, nullptr};
  if (QApplication::instance() == nullptr) initRuntime(argc, argv);
}

// Processes events until cond holds; false after the bound.
inline bool waitFor(const std::function<bool()>& cond, int boundMs = kPatienceMs) {
  return QTest::qWaitFor(cond, boundMs);
}

inline QWidget* widgetOf(Control control) {
  return controlEntry(control).widget.data();
}

inline std::string utf8(const Text& text) {
  return textToUtf8(text);
}

inline std::string statusText() {
  return utf8(controlEntry(Control::statusLabel).kept);
}

inline std::string caption() {
  return utf8(getButtonCaption(Control::startStopButton));
}

inline int barPosition() {
  auto* bar = qobject_cast<QProgressBar*>(widgetOf(Control::progressBar));
  return bar != nullptr ? bar->value() : -1;
}

inline bool settingsEnabled() {
  return widgetOf(Control::threadCountEdit)->isEnabled() &&
         widgetOf(Control::saverModeRadio)->isEnabled() &&
         widgetOf(Control::fastModeRadio)->isEnabled();
}

inline std::vector<std::string> listEntries() {
  std::vector<std::string> entries;
  const std::int32_t count = listItemCount(Control::wallpaperList);
  for (std::int32_t i = 0; i < count; ++i)
    entries.push_back(utf8(listItemText(Control::wallpaperList, i)));
  return entries;
}

// Answers the folder picker that the next action opens: picks folder, or
// cancels when it is empty. Call before the action; the answer comes from a
// timer while the picker's own event loop runs.
inline void answerFolderPicker(const std::string& folder) {
  auto* timer = new QTimer(QApplication::instance());
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, folder] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || dialog->objectName() != QStringLiteral("browseForFolderDialog"))
      return;
    timer->stop();
    timer->deleteLater();
    if (folder.empty()) {
      dialog->reject();
      return;
    }
    // Opens the folder and presses the dialog's own button, as a user would.
    dialog->setDirectory(QString::fromStdString(folder));
    dialog->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Open)->click();
  });
  timer->start();
}

inline void clickStartStop() {
  qobject_cast<QAbstractButton*>(widgetOf(Control::startStopButton))->click();
}

inline void setThreadCount(int n) {
  // The box is read-only for the user; its arrows are not what is under test.
  auto* edit = widgetOf(Control::threadCountEdit);
  edit->setProperty("text", QString::number(n));
}

inline void chooseFastMode(bool fast) {
  qobject_cast<QAbstractButton*>(widgetOf(fast ? Control::fastModeRadio : Control::saverModeRadio))
      ->click();
}

inline QMessageBox* openMessageBox() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == QStringLiteral("messageBox") && w->isVisible())
      return qobject_cast<QMessageBox*>(w);
  }
  return nullptr;
}

// Waits for the completion message, checks it and dismisses it; then waits for
// the window's return to the idle state.
inline void finishRun() {
  ASSERT_TRUE(waitFor([] { return openMessageBox() != nullptr; })) << "no completion message";
  QMessageBox* box = openMessageBox();
  EXPECT_EQ(box->text().toStdString(), "下载完成");
  EXPECT_EQ(box->windowTitle().toStdString(), "提示");
  EXPECT_EQ(box->icon(), QMessageBox::Information);
  box->button(QMessageBox::Ok)->click();
  ASSERT_TRUE(waitFor([] { return caption() == "开始下载"; })) << "no return to idle";
}

// True once the thread has ended, without blocking the user interface thread
// that the thread may be waiting for; what the thread queued for the user
// interface thread has run by then.
inline bool waitForThreadEnd(ThreadHandle handle) {
  if (handle == 0) return true;
  auto ended = std::make_shared<std::atomic<bool>>(false);
  std::thread([handle, ended] {
    waitThread(handle);
    ended->store(true);
  }).detach();
  const bool done = waitFor([&ended] { return ended->load(); });
  QCoreApplication::sendPostedEvents();
  return done;
}

inline bool waitForRunThreads() {
  const RunThreads threads = lastRunThreads();
  return waitForThreadEnd(threads.worker) && waitForThreadEnd(threads.reporter);
}

// A test with the real main window, whose start action fetches pageUrl.
class WindowTest : public ::testing::Test {
 protected:
  static inline Text pageUrl;

  void SetUp() override {
    ensureApplication();
    pageUrl = Text();
    const MainWindowHandlers handlers{[] { onStartStopClickedFor(pageUrl); }, onMainWindowClosing,
                                      onWallpaperListDoubleClicked};
    ASSERT_TRUE(createMainWindow(handlers));
    window_ = widgetOf(Control::mainWindow);
  }

  void TearDown() override {
    if (QMessageBox* box = openMessageBox()) box->button(QMessageBox::Ok)->click();
    if (window_ != nullptr) window_->close();
    EXPECT_TRUE(waitForRunThreads());
    QApplication::processEvents();
  }

  // Starts a run from the button with the picker answered by folder.
  static void startRun(const std::string& url, const std::filesystem::path& folder) {
    pageUrl = utf8ToText(url);
    answerFolderPicker(folder.string());
    clickStartStop();
  }

  QPointer<QWidget> window_;
  // Loopback requests must not go to a proxy that the machine may name.
  NoProxyEnvironment noProxy_;
};

}  // namespace window_driver
