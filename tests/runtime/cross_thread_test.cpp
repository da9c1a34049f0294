// Control operations called from threads other than the user interface thread,
// which here is the test's main thread: it has to run its events for any such
// call to finish.
#include <gtest/gtest.h>
#include <QApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <thread>

#include "runtime/controls.h"
#include "runtime/test_window.h"
#include "runtime/threads.h"
#include "text/encoding.h"

namespace {

// What the thread routines of one test report back. Routines take only an
// integer, so they find this through a global.
struct Report {
  std::atomic<bool> done{false};
  std::atomic<std::int32_t> index{-2};
  std::atomic<std::int32_t> countAfter{-2};
  std::atomic<bool> textMatches{false};
  std::atomic<std::int32_t> answer{-2};
  std::atomic<bool> calling{false};
};
Report* report = nullptr;

void insertAndReadBack(std::int32_t) {
  const std::int32_t index = listInsertItem(Control::wallpaperList,
                                            listItemCount(Control::wallpaperList), "下载完成：x"_t);
  report->index = index;
  report->countAfter = listItemCount(Control::wallpaperList);
  report->textMatches = listItemText(Control::wallpaperList, index) == "下载完成：x"_t;
  report->done = true;
}

TEST(CrossThread, CallReturnsAfterItTookEffect) {
  TestWindow w;
  Report r;
  report = &r;
  listInsertItem(Control::wallpaperList, 0, "first"_t);
  ASSERT_NE(startThread(insertAndReadBack), 0);
  ASSERT_TRUE(pumpUntil([&r] { return r.done.load(); }));
  EXPECT_EQ(r.index, 1);
  EXPECT_EQ(r.countAfter, 2);
  EXPECT_TRUE(r.textMatches);
  EXPECT_EQ(w.list->count(), 2);
}

void setCaption(std::int32_t) {
  setButtonCaption(Control::startStopButton, "停止下载"_t);
  report->done = true;
}

TEST(CrossThread, CallerWaitsWhileTheUserInterfaceThreadIsBusy) {
  TestWindow w;
  Report r;
  report = &r;
  ASSERT_NE(startThread(setCaption), 0);
  // This thread is the user interface thread and is busy with the test: the
  // call cannot have run, so the caller must still be waiting.
  EXPECT_FALSE(r.done);
  EXPECT_EQ(w.button->text().toStdString(), "start");
  ASSERT_TRUE(pumpUntil([&r] { return r.done.load(); }));
  EXPECT_EQ(w.button->text().toStdString(), "停止下载");
  EXPECT_EQ(getButtonCaption(Control::startStopButton), "停止下载"_t);
}

void insertMany(std::int32_t) {
  for (int i = 0; i < 20; ++i) {
    listInsertItem(Control::wallpaperList, listItemCount(Control::wallpaperList), "entry"_t);
  }
  report->done = true;
}

TEST(CrossThread, CallsGoThroughWhileTheUserInterfaceThreadWaitsInABox) {
  TestWindow w;
  Report r;
  report = &r;
  // The user interface thread waits in its own message box; the other thread's
  // calls run meanwhile, and once they are done the box is dismissed.
  QTimer starter;
  starter.setSingleShot(true);
  QObject::connect(&starter, &QTimer::timeout, [] { (void)startThread(insertMany); });
  starter.start(0);
  QTimer dismisser;
  QObject::connect(&dismisser, &QTimer::timeout, [&r] {
    if (!r.done) return;
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(top); box != nullptr && box->isVisible()) {
        box->button(QMessageBox::Ok)->click();
      }
    }
  });
  dismisser.start(5);
  EXPECT_EQ(showMessageBox("waiting"_t, 64, Text()), 0);
  EXPECT_TRUE(r.done);
  EXPECT_EQ(w.list->count(), 20);
}

void actAfterStop(std::int32_t) {
  sleepMs(600000);  // returns as soon as the thread is stopped
  setButtonCaption(Control::startStopButton, "stopped"_t);
  setLabelText(Control::statusLabel, "stopped"_t);
  setControlEnabled(Control::threadCountEdit, false);
  setProgressPosition(Control::progressBar, 700);
  listClear(Control::wallpaperList);
  report->index = listInsertItem(Control::wallpaperList, 0, "stopped"_t);
  report->countAfter = listItemCount(Control::wallpaperList);
  report->textMatches = getButtonCaption(Control::startStopButton).empty() &&
                        listItemText(Control::wallpaperList, 0).empty() &&
                        !isWindowCreated(Control::mainWindow);
  report->answer = showMessageBox("stopped"_t, 64, Text());
  report->done = true;
}

TEST(CrossThread, StoppedCallerChangesNothing) {
  TestWindow w;
  Report r;
  report = &r;
  listInsertItem(Control::wallpaperList, 0, "kept"_t);
  const ThreadHandle thread = startThread(actAfterStop);
  ASSERT_NE(thread, 0);
  ASSERT_TRUE(killThread(thread));
  ASSERT_TRUE(pumpUntil([&r] { return r.done.load(); }));
  EXPECT_EQ(r.index, -1);
  EXPECT_EQ(r.countAfter, 0);
  EXPECT_TRUE(r.textMatches);
  EXPECT_EQ(r.answer, -1);
  EXPECT_EQ(w.button->text().toStdString(), "start");
  EXPECT_TRUE(w.label->text().isEmpty());
  EXPECT_TRUE(w.edit->isEnabled());
  EXPECT_EQ(w.bar->value(), 0);
  EXPECT_EQ(entryTexts(w.list), std::vector<std::string>{"kept"});
}

// Stops the thread whose call is about to run, just before it runs: the first
// call handed over to the user interface thread once the thread is calling.
class StopAtHandOver : public QObject {
 public:
  explicit StopAtHandOver(ThreadHandle* thread) : thread_(thread) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    // Calls reach the user interface thread as a queued meta-call or as an
    // event of the program's own type.
    const bool handOver = event->type() == QEvent::MetaCall ||
                          (event->type() >= QEvent::User && event->type() <= QEvent::MaxUser);
    if (handOver && report->calling) killThread(*thread_);
    return QObject::eventFilter(watched, event);
  }

 private:
  ThreadHandle* thread_;
};

void insertOnce(std::int32_t) {
  report->calling = true;
  report->index = listInsertItem(Control::wallpaperList, 0, "late"_t);
  report->done = true;
}

TEST(CrossThread, StopArrivingWhileTheCallWaitsWins) {
  TestWindow w;
  Report r;
  report = &r;
  ThreadHandle thread = 0;
  StopAtHandOver stopper(&thread);
  thread = startThread(insertOnce);
  ASSERT_NE(thread, 0);
  // Without this thread's events the call cannot run; wait for it to be made.
  const QDeadlineTimer deadline(30000);
  while (!r.calling && !deadline.hasExpired())
    std::this_thread::yield();
  ASSERT_TRUE(r.calling);
  QCoreApplication::instance()->installEventFilter(&stopper);
  const bool finished = pumpUntil([&r] { return r.done.load(); });
  QCoreApplication::instance()->removeEventFilter(&stopper);
  ASSERT_TRUE(finished);
  EXPECT_EQ(r.index, -1);
  EXPECT_EQ(w.list->count(), 0);
}

}  // namespace
