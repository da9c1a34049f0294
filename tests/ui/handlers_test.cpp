// The handlers of the real main window: the folder picker, stopping a run in
// each phase, closing the window during a run, and the preview.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QtTest/QTest>
#include <filesystem>
#include <string>
#include <vector>

#include "run/gallery_page.h"
#include "run/local_servers.h"
#include "run/window_driver.h"
#include "runtime/picture.h"

namespace {

namespace fs = std::filesystem;
using test_servers::ReadableFolder;
using test_servers::readFile;
using test_servers::ScriptedServer;
using window_driver::barPosition;
using window_driver::caption;
using window_driver::finishRun;
using window_driver::listEntries;
using window_driver::openMessageBox;
using window_driver::settingsEnabled;
using window_driver::statusText;
using window_driver::waitFor;
using window_driver::widgetOf;

// A scripted gallery of images named by their titles.
class Gallery {
 public:
  Gallery(const std::vector<std::string>& titles, bool holdImages, bool holdPage = false) {
    std::string body;
    unsigned seed = 1;
    for (const std::string& title : titles) {
      const std::string target = "/" + std::to_string(seed) + ".jpg";
      images_.push_back(test_gallery::makeJpeg(48, 32, seed++));
      server_.route(target, {.body = images_.back(), .held = holdImages});
      body += test_gallery::titleLine(title) + test_gallery::linkLine(server_.url(target));
    }
    server_.route("/gallery", {.contentType = "text/html; charset=utf-8",
                               .body = test_gallery::galleryPage(body),
                               .held = holdPage});
  }
  [[nodiscard]] std::string url() const { return server_.url("/gallery"); }
  [[nodiscard]] int imageRequests() const { return requests(false); }
  [[nodiscard]] int pageRequests() const { return requests(true); }
  [[nodiscard]] const std::string& image(std::size_t i) const { return images_[i]; }
  void release() { server_.release(); }

 private:
  [[nodiscard]] int requests(bool forPage) const {
    int n = 0;
    for (const auto& e : server_.events())
      n += !e.answered && (e.target == "/gallery") == forPage ? 1 : 0;
    return n;
  }

  ScriptedServer server_;
  std::vector<std::string> images_;
};

class Handlers : public window_driver::WindowTest {
 protected:
  static void expectIdle() {
    EXPECT_EQ(caption(), "开始下载");
    EXPECT_EQ(statusText(), "");
    EXPECT_TRUE(settingsEnabled());
  }
};

TEST_F(Handlers, CancellingTheFolderPickerChangesNothing) {
  Gallery gallery({"一"}, false);
  pageUrl = utf8ToText(gallery.url());
  const ThreadHandle lastWorker = lastRunThreads().worker;
  window_driver::answerFolderPicker("");
  window_driver::clickStartStop();
  expectIdle();
  EXPECT_EQ(lastRunThreads().worker, lastWorker);
  EXPECT_EQ(gallery.pageRequests(), 0);
}

TEST_F(Handlers, SavesIntoThePickedFolderWhateverItsLastCharacter) {
  struct Case {
    const char* name;
    const char* folder;
  };
  // 乗 is 81 5C in code page 936: its second byte is a backslash.
  const Case cases[] = {{"plain name", "壁纸"}, {"name ending in 乗", "乗"}};
  Gallery gallery({"晨曦"}, false);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReadableFolder parent;
    const fs::path folder = parent.path() / c.folder;
    fs::create_directory(folder);
    startRun(gallery.url(), folder);
    finishRun();
    EXPECT_EQ(readFile(folder / "晨曦.jpg"), gallery.image(0));
    EXPECT_EQ(std::distance(fs::directory_iterator(parent.path()), fs::directory_iterator()), 1);
  }
}

TEST_F(Handlers, StopDuringTheParseEndsTheRunWithoutAnotherStep) {
  Gallery gallery({"一", "二"}, false, true);
  ReadableFolder folder;
  startRun(gallery.url(), folder.path());
  ASSERT_TRUE(waitFor([&] { return gallery.pageRequests() == 1; }));
  EXPECT_EQ(caption(), "停止下载");

  window_driver::clickStartStop();
  expectIdle();
  ASSERT_TRUE(window_driver::waitForRunThreads());
  gallery.release();
  QApplication::processEvents();
  expectIdle();
  EXPECT_TRUE(listEntries().empty());
  EXPECT_EQ(gallery.imageRequests(), 0);
  EXPECT_EQ(openMessageBox(), nullptr);
}

TEST_F(Handlers, StopDuringTheDownloadsLetsStartedTasksFinish) {
  Gallery gallery({"一", "二", "三", "四", "五", "六"}, true);
  ReadableFolder folder;
  window_driver::setThreadCount(3);
  startRun(gallery.url(), folder.path());
  ASSERT_TRUE(waitFor([&] { return listEntries().size() == 3 && gallery.imageRequests() == 3; }));

  window_driver::clickStartStop();
  expectIdle();
  ASSERT_TRUE(window_driver::waitForRunThreads());
  gallery.release();
  ASSERT_TRUE(waitFor([] { return statusText() == "下载图片...\r\n3 / 6"; })) << statusText();
  EXPECT_EQ(barPosition(), 750);
  for (const std::string& entry : listEntries())
    EXPECT_EQ(entry.rfind("下载完成：", 0), 0u) << entry;
  EXPECT_EQ(gallery.imageRequests(), 3);
  EXPECT_EQ(caption(), "开始下载");
  EXPECT_EQ(openMessageBox(), nullptr);
}

TEST_F(Handlers, ClosingTheWindowDuringARunStopsIt) {
  Gallery gallery({"一", "二", "三"}, true);
  ReadableFolder folder;
  startRun(gallery.url(), folder.path());
  ASSERT_TRUE(waitFor([&] { return gallery.imageRequests() == 3; }));

  window_->close();
  ASSERT_TRUE(window_driver::waitForRunThreads());
  gallery.release();
  // The tasks still write their files once the window is gone.
  EXPECT_TRUE(waitFor([&] {
    return std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()) == 3;
  }));
  EXPECT_EQ(openMessageBox(), nullptr);
}

class Preview : public Handlers {
 protected:
  static PictureBox* previewBox() {
    return qobject_cast<PictureBox*>(widgetOf(Control::previewBox));
  }

  static void doubleClickEntry(int row) {
    auto* view = qobject_cast<QAbstractItemView*>(widgetOf(Control::wallpaperList));
    const QModelIndex index = view->model()->index(row, 0);
    view->setCurrentIndex(index);
    const QPoint point = view->visualRect(index).center();
    // A user's double-click begins with a plain click.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, point);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, point);
  }

  static int rowOf(const std::string& entry) {
    const std::vector<std::string> entries = listEntries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (entries[i] == entry) return static_cast<int>(i);
    }
    return -1;
  }
};

TEST_F(Preview, ShowsTheFileOfTheEntryStretchedOverTheBox) {
  std::string longTitle;
  for (int i = 0; i < 90; ++i)
    longTitle += "长";  // saved under a shortened name
  Gallery gallery({"晨曦", "时间：黄昏", longTitle}, false);
  ReadableFolder folder;
  window_driver::setThreadCount(1);
  startRun(gallery.url(), folder.path());
  finishRun();

  struct Case {
    const char* name;
    std::string entry;
    std::size_t image;
  };
  const Case cases[] = {
      {"plain title", "下载完成：晨曦", 0},
      {"title holding the colon", "下载完成：时间：黄昏", 1},
      {"title too long for a file name", "下载完成：" + longTitle, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    setPicture(Control::previewBox, Bytes());
    doubleClickEntry(rowOf(c.entry));
    EXPECT_TRUE(previewBox()->pictureData().str() == gallery.image(c.image));
    EXPECT_FALSE(previewBox()->picture().isNull());
    EXPECT_EQ(previewBox()->displayMode(), 1);
  }

  // A cancelled picker starts no run, and the list still shows the last one.
  window_driver::answerFolderPicker("");
  window_driver::clickStartStop();
  setPicture(Control::previewBox, Bytes());
  doubleClickEntry(rowOf("下载完成：晨曦"));
  EXPECT_TRUE(previewBox()->pictureData().str() == gallery.image(0));
}

TEST_F(Preview, ShowsNothingWithoutAFileOrATitle) {
  Gallery gallery({"晨曦"}, true);
  ReadableFolder folder;
  startRun(gallery.url(), folder.path());
  ASSERT_TRUE(waitFor([] { return listEntries().size() == 1; }));

  doubleClickEntry(0);  // "正在下载：晨曦", not written yet
  EXPECT_TRUE(previewBox()->pictureData().empty());
  listInsertItem(Control::wallpaperList, 1, utf8ToText("没有冒号的条目"));
  doubleClickEntry(1);
  EXPECT_TRUE(previewBox()->pictureData().empty());
  gallery.release();
  finishRun();
}

}  // namespace
