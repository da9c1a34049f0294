#include "ui/main_window.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QClipboard>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/control_registry.h"
#include "runtime/controls.h"
#include "runtime/picture.h"
#include "runtime/threads.h"
#include "runtime/widgets.h"
#include "text/encoding.h"
#include "ui/window_widgets.h"

namespace {

struct HandlerCalls {
  int clicked = 0;
  int doubleClicked = 0;
  int closing = 0;
  bool windowExistedWhileClosing = false;
  std::string captionSetWhileClosing;
};
HandlerCalls calls;

void onClicked() {
  ++calls.clicked;
}
void onDoubleClicked() {
  ++calls.doubleClicked;
}
void onClosing() {
  ++calls.closing;
  calls.windowExistedWhileClosing = isWindowCreated(Control::mainWindow);
  // The stop action runs here and must still reach the controls.
  setButtonCaption(Control::startStopButton, "开始下载"_t);
  setLabelText(Control::statusLabel, Text());
  calls.captionSetWhileClosing = textToUtf8(getButtonCaption(Control::startStopButton));
}

int missingReports = 0;
void countMissing(const Text&) {
  ++missingReports;
}

// Starts the run-time layer (its QApplication) on first use, unless another test
// already has; the main thread becomes the user interface thread.
void ensureApplication() {
  static int argc = 1;
  static char name[] = "ui_tests";
  static char* argv[] = {name, nullptr};
  if (QCoreApplication::instance() != nullptr) return;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  initRuntime(argc, argv);
}

// The main window, opened, shown and active for one test or one row of cases.
class OpenWindow {
 public:
  OpenWindow() {
    ensureApplication();
    calls = HandlerCalls{};
    missingReports = 0;
    setMissingControlReport(&countMissing);
    EXPECT_TRUE(createMainWindow(MainWindowHandlers{onClicked, onClosing, onDoubleClicked}));
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (top->objectName() == QStringLiteral("mainWindow") && top->isVisible()) window_ = top;
    }
    EXPECT_NE(window_, nullptr);
    window_->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window_));
  }
  ~OpenWindow() {
    delete window_.data();
    setMissingControlReport(nullptr);
  }
  OpenWindow(const OpenWindow&) = delete;
  OpenWindow& operator=(const OpenWindow&) = delete;

  [[nodiscard]] QWidget* window() const { return window_; }
  [[nodiscard]] bool isOpen() const { return window_ != nullptr; }

  template <typename Widget = QWidget>
  Widget* control(const char* name) const {
    auto* widget = window_->findChild<Widget*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  [[nodiscard]] std::string focusName() const {
    QWidget* focus = QApplication::focusWidget();
    return focus != nullptr ? focus->objectName().toStdString() : "(none)";
  }

  void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) const {
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus != nullptr ? focus : window_.data(), key, modifiers);
  }

  // Lets Qt carry out a pending deletion of the closed window.
  void settle() const { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

 private:
  QPointer<QWidget> window_;
};

const char* const kControlNames[] = {
    "wallpaperList", "startStopButton", "noteLabel",        "threadCountLabel",
    "statusLabel",   "threadCountEdit", "progressBar",      "modeLabel",
    "fastModeRadio", "saverModeRadio",  "previewHintLabel", "previewBox",
};

std::string shownText(QWidget* widget) {
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text().toStdString();
  if (auto* label = qobject_cast<TextLabel*>(widget)) return label->text().toStdString();
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text().toStdString();
  return "";
}

TEST(MainWindow, OpensCentredAtItsOuterSize) {
  OpenWindow w;
  QWidget* window = w.window();
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  EXPECT_EQ(window->frameGeometry().size(), QSize(576, 400));
  EXPECT_EQ(window->frameGeometry().topLeft(),
            QPoint((screen.width() - 576) / 2, (screen.height() - 400) / 2));
  EXPECT_EQ(window->minimumSize(), window->maximumSize());
  EXPECT_EQ(window->windowTitle().toStdString(), "Brelvik工具");
  const Qt::WindowFlags flags = window->windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(window->windowIcon().availableSizes().contains(QSize(48, 48)));
}

TEST(MainWindow, ControlsHaveTheirPlacesAndTexts) {
  OpenWindow w;
  struct Case {
    const char* name;
    QRect geometry;
    const char* text;
  };
  const Case cases[] = {
      {"wallpaperList", QRect(24, 16, 328, 328), ""},
      {"startStopButton", QRect(368, 16, 72, 40), "开始下载"},
      {"noteLabel", QRect(456, 16, 96, 40), "*注意：已存在的图片将被跳过"},
      {"threadCountLabel", QRect(456, 72, 72, 16), "下载线程数："},
      {"statusLabel", QRect(368, 80, 72, 40), ""},
      {"threadCountEdit", QRect(456, 96, 72, 24), "10"},
      {"threadCountSpin", QRect(528, 96, 18, 24), ""},
      {"progressBar", QRect(368, 136, 176, 16), ""},
      {"modeLabel", QRect(368, 160, 64, 16), "下载模式："},
      {"fastModeRadio", QRect(448, 160, 72, 16), "最快速度"},
      {"saverModeRadio", QRect(448, 180, 72, 16), "最省资源"},
      {"previewHintLabel", QRect(368, 200, 160, 16), "双击列表项目以预览图片："},
      {"previewBox", QRect(368, 224, 184, 120), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QWidget* widget = w.control(c.name);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->geometry(), c.geometry);
    EXPECT_EQ(shownText(widget), c.text);
    EXPECT_TRUE(w.window()->rect().contains(widget->geometry()));
    EXPECT_TRUE(widget->isVisible());
    EXPECT_TRUE(widget->isEnabled());
  }
  EXPECT_EQ(getButtonCaption(Control::startStopButton), "开始下载"_t);
}

TEST(MainWindow, ControlsShareOneFontThatShowsChinese) {
  OpenWindow w;
  for (const char* name : kControlNames) {
    SCOPED_TRACE(name);
    const QFont font = w.control(name)->font();
    EXPECT_EQ(font.family().toStdString(), "微软雅黑");
    EXPECT_EQ(font.pixelSize(), 12);
    EXPECT_EQ(font.weight(), QFont::Normal);
    EXPECT_FALSE(font.italic() || font.underline() || font.strikeOut());
    // The set-up's alias must turn the requested face into a Chinese one.
    EXPECT_EQ(QFontInfo(font).family().toStdString(), "WenQuanYi Micro Hei");
  }
}

TEST(MainWindow, ControlsHaveTheirColours) {
  OpenWindow w;
  const QColor buttonFace = w.window()->palette().color(QPalette::Button);
  EXPECT_EQ(w.window()->palette().color(QPalette::Window), buttonFace);
  for (const char* name : kControlNames) {
    SCOPED_TRACE(name);
    const QPalette palette = w.control(name)->palette();
    const QColor text = std::string(name) == "noteLabel" ? QColor(255, 0, 0) : QColor(0, 0, 0);
    EXPECT_EQ(palette.color(QPalette::Active, QPalette::WindowText), text);
    if (std::string(name) != "noteLabel") {
      EXPECT_EQ(palette.color(QPalette::Active, QPalette::Text), text);
      EXPECT_EQ(palette.color(QPalette::Active, QPalette::ButtonText), text);
    }
  }
  for (const char* name : {"wallpaperList", "threadCountEdit"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(w.control(name)->palette().color(QPalette::Active, QPalette::Base), Qt::white);
  }
  // The edit box stays white although it is read-only.
  const QImage edit = w.control("threadCountEdit")->grab().toImage();
  EXPECT_EQ(edit.pixelColor(edit.width() - 6, edit.height() / 2), QColor(Qt::white));
}

TEST(MainWindow, ControlsStartInTheIdleState) {
  OpenWindow w;
  auto* list = w.control<QListWidget>("wallpaperList");
  EXPECT_EQ(list->count(), 0);
  EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_EQ(getListSelection(Control::wallpaperList), -1);
  auto* edit = w.control<QLineEdit>("threadCountEdit");
  EXPECT_TRUE(edit->isReadOnly());
  EXPECT_FALSE(edit->hasSelectedText());
  auto* bar = w.control<QProgressBar>("progressBar");
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 1000);
  EXPECT_EQ(bar->value(), 0);
  EXPECT_FALSE(bar->isTextVisible());
  EXPECT_TRUE(isRadioChecked(Control::saverModeRadio));
  EXPECT_FALSE(isRadioChecked(Control::fastModeRadio));
  auto* button = w.control<QPushButton>("startStopButton");
  EXPECT_FALSE(button->isDefault());
  EXPECT_FALSE(button->autoDefault());
  auto* preview = w.control<PictureBox>("previewBox");
  EXPECT_EQ(preview->displayMode(), 0);
  EXPECT_TRUE(preview->picture().isNull());
  EXPECT_EQ(w.focusName(), "startStopButton");
  // The arrows lie above the edit box.
  const QObjectList children = w.window()->children();
  EXPECT_GT(children.indexOf(w.control("threadCountSpin")), children.indexOf(edit));
  for (const char* name : {"noteLabel", "statusLabel", "previewBox", "progressBar"}) {
    EXPECT_EQ(w.control(name)->focusPolicy(), Qt::NoFocus) << name;
  }
}

TEST(MainWindow, ListEntriesAreOneLineAndAPixelHigh) {
  OpenWindow w;
  auto* list = w.control<QListWidget>("wallpaperList");
  listInsertItem(Control::wallpaperList, 0, "正在下载：一"_t);
  listInsertItem(Control::wallpaperList, 1, "正在下载：二"_t);
  const int lineHeight = QFontMetrics(list->font()).height();
  EXPECT_EQ(list->visualItemRect(list->item(0)).height(), lineHeight + 1);
  EXPECT_EQ(list->visualItemRect(list->item(1)).top(),
            list->visualItemRect(list->item(0)).top() + lineHeight + 1);
}

TEST(ThreadCountBox, StepTheCountWithinOneToTwenty) {
  struct Case {
    const char* name;
    const char* start;
    bool up;
    const char* result;
  };
  const Case cases[] = {
      {"up from 10", "10", true, "11"},
      {"up from 20 wraps", "20", true, "1"},
      {"down from 1 wraps", "1", false, "20"},
      {"down from 2", "2", false, "1"},
      {"up from 0", "0", true, "1"},
      {"up from above the range", "25", true, "1"},
      {"down from above the range", "25", false, "20"},
      {"up from below the range", "-3", true, "1"},
      {"up from text", "abc", true, "1"},
      {"down from text", "abc", false, "20"},
      {"up from a number with a tail", " 7x", true, "8"},
      {"down from a huge number", "99999999999", false, "20"},
  };
  OpenWindow w;
  auto* edit = w.control<QLineEdit>("threadCountEdit");
  auto* arrows = w.control<ThreadCountArrows>("threadCountSpin");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    edit->setText(QString::fromUtf8(c.start));
    w.control("startStopButton")->setFocus();
    QToolButton* arrow = c.up ? arrows->upButton() : arrows->downButton();
    QTest::mouseClick(arrow, Qt::LeftButton);
    EXPECT_EQ(edit->text().toStdString(), c.result);
    EXPECT_EQ(edit->selectedText().toStdString(), c.result);
    EXPECT_EQ(w.focusName(), "threadCountEdit");
  }
}

TEST(ThreadCountBox, DoNothingUnlessTheBoxIsEnabledAndVisible) {
  OpenWindow w;
  auto* edit = w.control<QLineEdit>("threadCountEdit");
  auto* arrows = w.control<ThreadCountArrows>("threadCountSpin");
  setControlEnabled(Control::threadCountEdit, false);
  EXPECT_FALSE(arrows->isEnabled());
  QTest::mouseClick(arrows->upButton(), Qt::LeftButton);
  stepThreadCount(edit, 1);
  EXPECT_EQ(edit->text().toStdString(), "10");

  setControlEnabled(Control::threadCountEdit, true);
  EXPECT_TRUE(arrows->isEnabled());
  edit->hide();
  stepThreadCount(edit, 1);
  EXPECT_EQ(edit->text().toStdString(), "10");
  edit->show();
  QTest::mouseClick(arrows->upButton(), Qt::LeftButton);
  EXPECT_EQ(edit->text().toStdString(), "11");
}

TEST(ThreadCountBox, BoxTakesNoTyping) {
  OpenWindow w;
  auto* edit = w.control<QLineEdit>("threadCountEdit");
  edit->setFocus();
  QApplication::clipboard()->setText(QStringLiteral("7"));
  QTest::keyClicks(edit, QStringLiteral("5"));
  QTest::keyClick(edit, Qt::Key_Backspace);
  QTest::keyClick(edit, Qt::Key_Delete);
  QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
  QTest::keyClick(edit, Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(edit->text().toStdString(), "10");
  EXPECT_EQ(getEditText(Control::threadCountEdit), "10"_t);
}

TEST(MainWindowKeys, TabMovesThroughTheFocusOrder) {
  struct Case {
    const char* name;
    bool running;  // the edit box and the radio buttons disabled
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    std::vector<std::string> focus;
  };
  const Case cases[] = {
      {"idle, tab",
       false,
       Qt::Key_Tab,
       Qt::NoModifier,
       {"wallpaperList", "threadCountEdit", "saverModeRadio", "fastModeRadio", "startStopButton"}},
      {"idle, shift+tab",
       false,
       Qt::Key_Tab,
       Qt::ShiftModifier,
       {"fastModeRadio", "saverModeRadio", "threadCountEdit", "wallpaperList", "startStopButton"}},
      {"idle, backtab",
       false,
       Qt::Key_Backtab,
       Qt::ShiftModifier,
       {"fastModeRadio", "saverModeRadio", "threadCountEdit", "wallpaperList", "startStopButton"}},
      {"running, tab",
       true,
       Qt::Key_Tab,
       Qt::NoModifier,
       {"wallpaperList", "startStopButton", "wallpaperList"}},
      {"running, shift+tab",
       true,
       Qt::Key_Backtab,
       Qt::ShiftModifier,
       {"wallpaperList", "startStopButton", "wallpaperList"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OpenWindow w;
    if (c.running) {
      for (Control control :
           {Control::threadCountEdit, Control::saverModeRadio, Control::fastModeRadio}) {
        setControlEnabled(control, false);
      }
    }
    ASSERT_EQ(w.focusName(), "startStopButton");
    std::vector<std::string> seen;
    for (std::size_t i = 0; i < c.focus.size(); ++i) {
      w.press(c.key, c.modifiers);
      seen.push_back(w.focusName());
    }
    EXPECT_EQ(seen, c.focus);
  }
}

TEST(MainWindowKeys, ArrowsMoveBetweenTheRadioButtonsAndCheckThem) {
  OpenWindow w;
  auto* saver = w.control<QRadioButton>("saverModeRadio");
  auto* fast = w.control<QRadioButton>("fastModeRadio");
  saver->setFocus(Qt::TabFocusReason);
  struct Step {
    Qt::Key key;
    const char* reached;
  };
  const Step steps[] = {{Qt::Key_Right, "fastModeRadio"},
                        {Qt::Key_Down, "saverModeRadio"},
                        {Qt::Key_Left, "fastModeRadio"},
                        {Qt::Key_Up, "saverModeRadio"},
                        {Qt::Key_Up, "fastModeRadio"}};
  for (const Step& step : steps) {
    SCOPED_TRACE(step.reached);
    w.press(step.key);
    EXPECT_EQ(w.focusName(), step.reached);
    const bool fastReached = std::string(step.reached) == "fastModeRadio";
    EXPECT_EQ(fast->isChecked(), fastReached);
    EXPECT_EQ(saver->isChecked(), !fastReached);
  }
}

TEST(MainWindowKeys, ArrowsInTheListStillMoveThroughEntries) {
  OpenWindow w;
  auto* list = w.control<QListWidget>("wallpaperList");
  listInsertItem(Control::wallpaperList, 0, "a"_t);
  listInsertItem(Control::wallpaperList, 1, "b"_t);
  list->setFocus(Qt::TabFocusReason);
  list->setCurrentRow(0);
  w.press(Qt::Key_Down);
  EXPECT_EQ(list->currentRow(), 1);
  EXPECT_TRUE(isRadioChecked(Control::saverModeRadio));
}

TEST(MainWindowKeys, ClickOnFastModeUnchecksSaverMode) {
  OpenWindow w;
  auto* fast = w.control<QRadioButton>("fastModeRadio");
  QTest::mouseClick(fast, Qt::LeftButton, {}, QPoint(5, fast->height() / 2));
  EXPECT_FALSE(isRadioChecked(Control::saverModeRadio));
  EXPECT_TRUE(isRadioChecked(Control::fastModeRadio));
}

TEST(MainWindowKeys, EscClosesTheWindowWhereverTheFocusIs) {
  for (const char* focus :
       {"startStopButton", "wallpaperList", "threadCountEdit", "fastModeRadio"}) {
    SCOPED_TRACE(focus);
    OpenWindow w;
    w.control(focus)->setFocus(Qt::TabFocusReason);
    w.press(Qt::Key_Escape);
    EXPECT_EQ(calls.closing, 1);
    w.settle();
    EXPECT_FALSE(w.isOpen());
    EXPECT_FALSE(isWindowCreated(Control::mainWindow));
  }
}

TEST(MainWindowKeys, EnterDoesNothing) {
  for (const char* focus :
       {"startStopButton", "wallpaperList", "threadCountEdit", "saverModeRadio"}) {
    SCOPED_TRACE(focus);
    OpenWindow w;
    w.control(focus)->setFocus(Qt::TabFocusReason);
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
      w.press(key);
      EXPECT_EQ(w.focusName(), focus);
    }
    w.settle();
    EXPECT_TRUE(w.isOpen());
    EXPECT_EQ(calls.clicked, 0);
    EXPECT_EQ(calls.closing, 0);
  }
}

TEST(MainWindowEvents, ClickAndDoubleClickReachTheirHandlers) {
  OpenWindow w;
  QTest::mouseClick(w.control("startStopButton"), Qt::LeftButton);
  EXPECT_EQ(calls.clicked, 1);

  auto* list = w.control<QListWidget>("wallpaperList");
  listInsertItem(Control::wallpaperList, 0, "下载完成：x"_t);
  const QPoint entry = list->visualItemRect(list->item(0)).center();
  // A user's double-click begins with a plain click.
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, entry);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, entry);
  EXPECT_EQ(calls.doubleClicked, 1);
  EXPECT_EQ(getListSelection(Control::wallpaperList), 0);
  EXPECT_EQ(calls.closing, 0);
}

TEST(MainWindowEvents, ClosingReachesItsHandlerWhileTheControlsStillWork) {
  struct Case {
    const char* name;
    bool destroyWithoutClosing;
  };
  for (const Case c : {Case{"closed", false}, Case{"destroyed", true}}) {
    SCOPED_TRACE(c.name);
    OpenWindow w;
    setButtonCaption(Control::startStopButton, "停止下载"_t);
    if (c.destroyWithoutClosing) {
      delete w.window();
    } else {
      w.window()->close();
    }
    w.settle();
    EXPECT_FALSE(w.isOpen());
    EXPECT_EQ(calls.closing, 1);
    EXPECT_TRUE(calls.windowExistedWhileClosing);
    EXPECT_EQ(calls.captionSetWhileClosing, "开始下载");
    // Afterwards the operations of threads still running do nothing at all.
    EXPECT_FALSE(isWindowCreated(Control::mainWindow));
    setLabelText(Control::statusLabel, "x"_t);
    EXPECT_EQ(listInsertItem(Control::wallpaperList, 0, "x"_t), -1);
    EXPECT_EQ(missingReports, 0);
  }
}

}  // namespace
