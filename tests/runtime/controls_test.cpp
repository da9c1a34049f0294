#include "runtime/controls.h"

#include <gtest/gtest.h>
#include <QAbstractItemModel>
#include <QScrollBar>
#include <QTest>
#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "runtime/control_registry.h"
#include "runtime/test_window.h"
#include "text/encoding.h"

namespace {

using Entries = std::vector<std::string>;

void fillList(std::initializer_list<const char*> texts) {
  for (const char* text : texts) {
    listInsertItem(Control::wallpaperList, listItemCount(Control::wallpaperList),
                   Text(std::string_view(text)));
  }
}

TEST(ListOperations, InsertFollowsTheIndexRules) {
  struct Case {
    const char* name;
    std::int32_t index;
    std::int32_t result;
    Entries entries;
  };
  const Case cases[] = {
      {"negative", -1, -1, {"a", "b"}},        {"front", 0, 0, {"x", "a", "b"}},
      {"middle", 1, 1, {"a", "x", "b"}},       {"at the count appends", 2, 2, {"a", "b", "x"}},
      {"beyond the count", 3, -1, {"a", "b"}}, {"far beyond", INT32_MAX, -1, {"a", "b"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestWindow w;
    fillList({"a", "b"});
    EXPECT_EQ(listInsertItem(Control::wallpaperList, c.index, "x"_t), c.result);
    EXPECT_EQ(entryTexts(w.list), c.entries);
  }
}

TEST(ListOperations, SetItemTextFollowsTheIndexRules) {
  struct Case {
    const char* name;
    std::int32_t index;
    bool result;
    Entries entries;
  };
  const Case cases[] = {
      {"negative", -1, false, {"a", "b"}},    {"lowest", INT32_MIN, false, {"a", "b"}},
      {"first", 0, true, {"x", "b"}},         {"last", 1, true, {"a", "x"}},
      {"at the count", 2, false, {"a", "b"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestWindow w;
    fillList({"a", "b"});
    EXPECT_EQ(listSetItemText(Control::wallpaperList, c.index, "x"_t), c.result);
    EXPECT_EQ(entryTexts(w.list), c.entries);
  }
}

TEST(ListOperations, ItemTextIsEmptyOutsideTheEntries) {
  TestWindow w;
  fillList({"a", "b"});
  struct Case {
    std::int32_t index;
    const char* text;
  };
  const Case cases[] = {{-1, ""}, {0, "a"}, {1, "b"}, {2, ""}, {INT32_MAX, ""}, {INT32_MIN, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    EXPECT_EQ(listItemText(Control::wallpaperList, c.index), Text(std::string_view(c.text)));
  }
}

TEST(ListOperations, EntriesKeepTheirExactBytes) {
  TestWindow w;
  // A lone lead byte has no character: the list shows a substitute, but the
  // entry still reads back, and compares, as the bytes it was given.
  const Text odd(std::string_view("ab\x81"));
  const Text title = "正在下载：山水"_t;
  listInsertItem(Control::wallpaperList, 0, title);
  listInsertItem(Control::wallpaperList, 1, odd);
  EXPECT_EQ(w.list->item(0)->text().toStdString(), "正在下载：山水");
  EXPECT_EQ(listItemText(Control::wallpaperList, 0), title);
  EXPECT_EQ(listItemText(Control::wallpaperList, 1), odd);

  int changes = 0;
  QObject::connect(w.list->model(), &QAbstractItemModel::dataChanged, [&changes] { ++changes; });
  EXPECT_TRUE(listSetItemText(Control::wallpaperList, 1, odd));
  EXPECT_TRUE(listSetItemText(Control::wallpaperList, 0, title));
  EXPECT_EQ(changes, 0);
}

TEST(ListOperations, SetItemTextKeepsSelectionScrollAndCurrentEntry) {
  TestWindow w;
  for (int i = 0; i < 50; ++i) {
    listInsertItem(Control::wallpaperList, i, Text("entry " + std::to_string(i)));
  }
  w.list->setCurrentRow(20);
  w.list->scrollToItem(w.list->item(15), QAbstractItemView::PositionAtTop);
  const int scroll = w.list->verticalScrollBar()->value();
  ASSERT_GT(scroll, 0);
  const int top = w.list->indexAt(QPoint(2, 2)).row();

  EXPECT_TRUE(listSetItemText(Control::wallpaperList, 20, "selected, changed"_t));
  EXPECT_TRUE(listSetItemText(Control::wallpaperList, 16, "visible, changed"_t));
  EXPECT_TRUE(listSetItemText(Control::wallpaperList, 45, "hidden, changed"_t));
  QCoreApplication::processEvents();

  EXPECT_EQ(getListSelection(Control::wallpaperList), 20);
  EXPECT_EQ(w.list->currentRow(), 20);
  EXPECT_EQ(w.list->verticalScrollBar()->value(), scroll);
  EXPECT_EQ(w.list->indexAt(QPoint(2, 2)).row(), top);
  EXPECT_EQ(w.list->item(20)->text().toStdString(), "selected, changed");
  EXPECT_EQ(w.list->count(), 50);
}

TEST(ListOperations, SelectionFollowsTheUserAndClearEndsIt) {
  TestWindow w;
  fillList({"a", "b", "c"});
  EXPECT_EQ(getListSelection(Control::wallpaperList), -1);
  const QRect second = w.list->visualItemRect(w.list->item(1));
  QTest::mouseClick(w.list->viewport(), Qt::LeftButton, {}, second.center());
  EXPECT_EQ(getListSelection(Control::wallpaperList), 1);

  listClear(Control::wallpaperList);
  EXPECT_EQ(listItemCount(Control::wallpaperList), 0);
  EXPECT_EQ(getListSelection(Control::wallpaperList), -1);
}

TEST(PropertyOperations, CaptionReadsBackAsLastSet) {
  TestWindow w;
  setButtonCaption(Control::startStopButton, "停止下载"_t);
  EXPECT_EQ(getButtonCaption(Control::startStopButton), "停止下载"_t);
  EXPECT_EQ(w.button->text().toStdString(), "停止下载");
}

TEST(PropertyOperations, LabelTextBreaksLinesAtCrLf) {
  TestWindow w;
  setLabelText(Control::statusLabel, "解析图片...\r\n0 %"_t);
  EXPECT_EQ(w.label->text().toStdString(), "解析图片...\n0 %");
  setLabelText(Control::statusLabel, Text());
  EXPECT_TRUE(w.label->text().isEmpty());
}

TEST(PropertyOperations, EditTextIsReadFromTheBoxNow) {
  TestWindow w;
  EXPECT_EQ(getEditText(Control::threadCountEdit), "10"_t);
  w.edit->setText(QStringLiteral("17"));
  EXPECT_EQ(getEditText(Control::threadCountEdit), "17"_t);
}

TEST(PropertyOperations, EnablingTheEditBoxTakesItsArrowsAlong) {
  TestWindow w;
  setControlEnabled(Control::threadCountEdit, false);
  setControlEnabled(Control::saverModeRadio, false);
  EXPECT_FALSE(w.edit->isEnabled());
  EXPECT_FALSE(w.arrows->isEnabled());
  EXPECT_FALSE(w.saver->isEnabled());
  EXPECT_TRUE(w.fast->isEnabled());
  EXPECT_TRUE(controlEntry(Control::threadCountSpin).disabled);

  setControlEnabled(Control::threadCountEdit, true);
  EXPECT_TRUE(w.edit->isEnabled());
  EXPECT_TRUE(w.arrows->isEnabled());
  EXPECT_FALSE(controlEntry(Control::threadCountEdit).disabled);
}

TEST(PropertyOperations, RadioStateFollowsTheUsersClick) {
  TestWindow w;
  EXPECT_TRUE(isRadioChecked(Control::saverModeRadio));
  QTest::mouseClick(w.fast, Qt::LeftButton, {}, QPoint(4, w.fast->height() / 2));
  EXPECT_FALSE(isRadioChecked(Control::saverModeRadio));
  EXPECT_TRUE(isRadioChecked(Control::fastModeRadio));
}

TEST(PropertyOperations, ProgressPositionIsClampedToTheBar) {
  TestWindow w;
  struct Case {
    std::int32_t position;
    int shown;
  };
  const Case cases[] = {{-5, 0},      {0, 0},        {1, 1},         {500, 500},       {1000, 1000},
                        {1200, 1000}, {40000, 1000}, {INT32_MIN, 0}, {INT32_MAX, 1000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position);
    setProgressPosition(Control::progressBar, 333);
    setProgressPosition(Control::progressBar, c.position);
    EXPECT_EQ(w.bar->value(), c.shown);
  }
  // The first clamp comes before the bar's own range.
  w.bar->setRange(0, 40000);
  setProgressPosition(Control::progressBar, 40000);
  EXPECT_EQ(w.bar->value(), 32767);
}

TEST(PropertyOperations, KindMismatchIsLeftAlone) {
  TestWindow w;
  EXPECT_EQ(getButtonCaption(Control::statusLabel), Text());
  setLabelText(Control::startStopButton, "x"_t);
  EXPECT_EQ(w.button->text().toStdString(), "start");
}

// Every operation that names a control, with the message it reports when the
// window or control is missing.
struct Operation {
  const char* name;
  std::function<void()> call;
  bool list;
};

std::vector<Operation> operations() {
  return {
      {"getButtonCaption", [] { (void)getButtonCaption(Control::startStopButton); }, false},
      {"setButtonCaption", [] { setButtonCaption(Control::startStopButton, "x"_t); }, false},
      {"setLabelText", [] { setLabelText(Control::statusLabel, "x"_t); }, false},
      {"getEditText", [] { (void)getEditText(Control::threadCountEdit); }, false},
      {"isRadioChecked", [] { (void)isRadioChecked(Control::saverModeRadio); }, false},
      {"setPicture", [] { setPicture(Control::previewBox, Bytes(std::string_view("x"))); }, false},
      {"setPictureDisplayMode", [] { setPictureDisplayMode(Control::previewBox, 1); }, false},
      {"setProgressPosition", [] { setProgressPosition(Control::progressBar, 1); }, false},
      {"getListSelection", [] { (void)getListSelection(Control::wallpaperList); }, true},
      {"listItemCount", [] { (void)listItemCount(Control::wallpaperList); }, true},
      {"listInsertItem", [] { listInsertItem(Control::wallpaperList, 0, "x"_t); }, true},
      {"listSetItemText", [] { listSetItemText(Control::wallpaperList, 0, "x"_t); }, true},
      {"listItemText", [] { (void)listItemText(Control::wallpaperList, 0); }, true},
      {"listClear", [] { listClear(Control::wallpaperList); }, true},
  };
}

constexpr const char* kNoWindow = "未载入欲访问窗口组件所在的窗口";
constexpr const char* kNoControl = "指定窗口尚未载入";
constexpr const char* kNoList = "指定窗口或窗口组件不存在或尚未载入";

TEST(MissingControls, WithoutTheWindowEachOperationReports) {
  ensureApplication();
  MissingReports reports;
  registerMainWindow(nullptr);
  for (const Operation& op : operations()) {
    SCOPED_TRACE(op.name);
    const std::size_t before = reports.messages().size();
    op.call();
    const std::vector<std::string> after = reports.messages();
    ASSERT_EQ(after.size(), before + 1);
    EXPECT_EQ(after.back(), op.list ? kNoList : kNoWindow);
  }
  setControlEnabled(Control::threadCountEdit, false);
  EXPECT_EQ(reports.messages().back(), kNoWindow);
  EXPECT_FALSE(isWindowCreated(Control::mainWindow));
}

TEST(MissingControls, WithoutTheControlEachOperationReports) {
  ensureApplication();
  MissingReports reports;
  QWidget window;
  registerMainWindow(&window);
  for (const Operation& op : operations()) {
    SCOPED_TRACE(op.name);
    const std::size_t before = reports.messages().size();
    op.call();
    const std::vector<std::string> after = reports.messages();
    ASSERT_EQ(after.size(), before + 1);
    EXPECT_EQ(after.back(), op.list ? kNoList : kNoControl);
  }
  // Enabling a control that has no widget only records the flag.
  const std::size_t before = reports.messages().size();
  setControlEnabled(Control::fastModeRadio, false);
  EXPECT_EQ(reports.messages().size(), before);
  EXPECT_TRUE(controlEntry(Control::fastModeRadio).disabled);
  beginWindowTeardown();
}

TEST(MissingControls, ADestroyedControlReports) {
  MissingReports reports;
  TestWindow w;
  delete w.label;
  setLabelText(Control::statusLabel, "x"_t);
  ASSERT_EQ(reports.messages().size(), 1u);
  EXPECT_EQ(reports.messages().front(), kNoControl);
}

TEST(MissingControls, NothingHappensOnceTheWindowIsTornDown) {
  MissingReports reports;
  {
    TestWindow w;
    fillList({"a"});
    EXPECT_TRUE(isWindowCreated(Control::mainWindow));
    beginWindowTeardown();
    EXPECT_FALSE(isWindowCreated(Control::mainWindow));
    EXPECT_EQ(listItemCount(Control::wallpaperList), 0);
    EXPECT_EQ(listInsertItem(Control::wallpaperList, 0, "x"_t), -1);
    EXPECT_EQ(w.list->count(), 1);
  }
  for (const Operation& op : operations()) {
    SCOPED_TRACE(op.name);
    op.call();
  }
  EXPECT_TRUE(reports.messages().empty());
  EXPECT_FALSE(isWindowCreated(Control::mainWindow));
}

TEST(MissingControls, WindowExistsUntilDestroyed) {
  ensureApplication();
  MissingReports reports;
  auto* window = new QWidget();
  registerMainWindow(window);
  EXPECT_TRUE(isWindowCreated(Control::mainWindow));
  delete window;
  EXPECT_FALSE(isWindowCreated(Control::mainWindow));
  EXPECT_TRUE(reports.messages().empty());
}

}  // namespace
