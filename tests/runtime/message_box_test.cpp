#include <gtest/gtest.h>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>

#include "runtime/controls.h"
#include "runtime/test_window.h"
#include "runtime/threads.h"
#include "text/encoding.h"

namespace {

QMessageBox* visibleBox() {
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (top->objectName() == QStringLiteral("messageBox") && top->isVisible()) {
      return qobject_cast<QMessageBox*>(top);
    }
  }
  return nullptr;
}

TEST(MessageBox, FlagsChooseIconButtonsAndTheAnswer) {
  struct Case {
    const char* name;
    std::int32_t flags;
    const char* title;  // UTF-8
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton;
    QMessageBox::StandardButton press;  // NoButton: Esc
    std::int32_t answer;
    const char* shownTitle;
  };
  const Case cases[] = {
      {"information, ok", 64, "提示", QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok,
       QMessageBox::Ok, 0, "提示"},
      {"question, yes no", 0x24, "t", QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
       QMessageBox::Yes, QMessageBox::No, 6, "t"},
      {"warning, yes no cancel, third is default", 0x233, "t", QMessageBox::Warning,
       QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Cancel,
       QMessageBox::Yes, 5, "t"},
      {"error, abort retry ignore", 0x12, "t", QMessageBox::Critical,
       QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore, QMessageBox::Abort,
       QMessageBox::Retry, 3, "t"},
      {"no icon, retry cancel, no title", 5, "", QMessageBox::NoIcon,
       QMessageBox::Retry | QMessageBox::Cancel, QMessageBox::Retry, QMessageBox::Cancel, 1,
       "信息："},
      {"ok cancel, Esc", 1, "t", QMessageBox::NoIcon, QMessageBox::Ok | QMessageBox::Cancel,
       QMessageBox::Ok, QMessageBox::NoButton, 1, "t"},
      {"ok alone, Esc", 0, "t", QMessageBox::NoIcon, QMessageBox::Ok, QMessageBox::Ok,
       QMessageBox::NoButton, 0, "t"},
  };
  TestWindow w;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool seen = false;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
      QMessageBox* box = visibleBox();
      if (box == nullptr || seen) return;
      seen = true;
      EXPECT_EQ(box->windowTitle().toStdString(), c.shownTitle);
      EXPECT_EQ(box->text().toStdString(), "下载完成");
      EXPECT_EQ(box->icon(), c.icon);
      EXPECT_EQ(box->standardButtons(), c.buttons);
      EXPECT_EQ(box->standardButton(box->defaultButton()), c.defaultButton);
      EXPECT_EQ(box->windowModality(), Qt::NonModal);
      EXPECT_EQ(box->parentWidget(), nullptr);
      if (c.press == QMessageBox::NoButton) {
        QTest::keyClick(box, Qt::Key_Escape);
      } else {
        box->button(c.press)->click();
      }
    });
    answerer.start(5);
    EXPECT_EQ(showMessageBox("下载完成"_t, c.flags, utf8ToText(c.title)), c.answer);
    EXPECT_TRUE(seen);
  }
}

std::atomic<std::int32_t> threadAnswer{-2};
std::atomic<bool> threadDone{false};

void showCompletion(std::int32_t) {
  threadAnswer = showMessageBox("下载完成"_t, 64, "提示"_t);
  threadDone = true;
}

TEST(MessageBox, FromAThreadLeavesTheWindowUsable) {
  TestWindow w;
  threadDone = false;
  ASSERT_NE(startThread(showCompletion), 0);
  ASSERT_TRUE(pumpUntil([] { return visibleBox() != nullptr; }));
  QMessageBox* box = visibleBox();
  EXPECT_EQ(box->windowTitle().toStdString(), "提示");
  EXPECT_EQ(box->button(QMessageBox::Ok)->text().toStdString(), "确定");
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

  int clicks = 0;
  QObject::connect(w.button, &QPushButton::clicked, [&clicks] { ++clicks; });
  QTest::mouseClick(w.button, Qt::LeftButton);
  EXPECT_EQ(clicks, 1);
  EXPECT_FALSE(threadDone);

  QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
  ASSERT_TRUE(pumpUntil([] { return threadDone.load(); }));
  EXPECT_EQ(threadAnswer, 0);
}

TEST(MessageBox, ClosesWhenTheCallerIsStopped) {
  TestWindow w;
  threadDone = false;
  const ThreadHandle thread = startThread(showCompletion);
  ASSERT_NE(thread, 0);
  ASSERT_TRUE(pumpUntil([] { return visibleBox() != nullptr; }));
  ASSERT_TRUE(killThread(thread));
  ASSERT_TRUE(pumpUntil([] { return threadDone.load() && visibleBox() == nullptr; }));
  EXPECT_EQ(threadAnswer, -1);
}

}  // namespace
