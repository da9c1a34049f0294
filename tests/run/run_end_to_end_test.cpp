// Whole runs started from the real window against nginx on 127.0.0.1: the
// files written, the list entries, the status and the bar that a gallery page
// implies.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "gallery_page.h"
#include "local_servers.h"
#include "window_driver.h"

namespace {

namespace fs = std::filesystem;
using test_servers::NginxServer;
using test_servers::ReadableFolder;
using test_servers::readFile;
using test_servers::ScriptedServer;
using test_servers::writeFile;
using window_driver::barPosition;
using window_driver::caption;
using window_driver::finishRun;
using window_driver::listEntries;
using window_driver::openMessageBox;
using window_driver::settingsEnabled;
using window_driver::statusText;
using window_driver::waitFor;

// One wallpaper of the test gallery: its title as the page writes it, the
// file name it cleans to, and its image, "" for a link line without href.
struct Wallpaper {
  std::string title;
  std::string fileName;
  std::string image;
};

// 27 titles and 26 link lines, one of which lacks href="; 25 real images. Two
// titles (2 and 24) clean to the same name; they fall into different batches
// for every thread count used here, so the later one always finds the file.
std::vector<Wallpaper> galleryWallpapers() {
  std::vector<Wallpaper> w;
  w.push_back({"星空", "星空", "01.jpg"});
  w.push_back({"山/水", "山水", "02.jpg"});
  w.push_back({"春&amp;秋", "春&amp;秋", "03.jpg"});
  for (int i = 4; i <= 26; ++i) {
    const std::string n = (i < 10 ? "0" : "") + std::to_string(i);
    w.push_back({"壁纸 " + n + " 号", "壁纸 " + n + " 号", n + ".jpg"});
  }
  w[11] = {"残缺的链接", "残缺的链接", ""};
  w[23] = {"山水", "山水", "24.jpg"};
  w.push_back({"没有链接的标题", "", ""});
  return w;
}

std::string galleryBody(const std::vector<Wallpaper>& wallpapers, const NginxServer& server) {
  std::string body = "<h1>Windows 壁纸</h1>\n";
  for (const Wallpaper& w : wallpapers) {
    body += test_gallery::titleLine(w.title);
    body += "<p>一张桌面背景 <a class=\"other\" href=\"/about.html\">详细信息</a></p>\n";
    if (w.fileName.empty()) continue;
    body += w.image.empty() ? "<a class=\"navigationLink\" data-src=\"next.jpg\">下一张</a>\n"
                            : test_gallery::linkLine(server.url("/img/" + w.image));
  }
  return body;
}

class RunEndToEnd : public window_driver::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    wallpapers_ = galleryWallpapers();
    unsigned seed = 1;
    for (const Wallpaper& w : wallpapers_) {
      if (w.image.empty()) continue;
      images_[w.image] = test_gallery::makeJpeg(96 + static_cast<int>(seed), 64, seed);
      writeFile(www_.path() / "img" / w.image, images_[w.image]);
      ++seed;
    }
    writeFile(www_.path() / "gallery" / "index.html",
              test_gallery::galleryPage(galleryBody(wallpapers_, nginx_)));
  }

  // The files the run must have written, by name, with their content: the
  // first wallpaper of each cleaned name wins.
  std::map<std::string, std::string> expectedFiles() const {
    std::map<std::string, std::string> files;
    for (const Wallpaper& w : wallpapers_) {
      if (!w.image.empty()) files.emplace(w.fileName + ".jpg", images_.at(w.image));
    }
    return files;
  }

  static std::map<std::string, std::string> filesIn(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder))
      files[entry.path().filename().string()] = readFile(entry.path());
    return files;
  }

  static std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  }

  // Waits for the completion message and checks what the window shows at
  // that moment, then dismisses it.
  static void expectCompletedWith(const std::vector<std::string>& entries,
                                  const std::string& status, int bar) {
    ASSERT_TRUE(waitFor([] { return openMessageBox() != nullptr; })) << "no completion message";
    EXPECT_EQ(sorted(listEntries()), sorted(entries));
    EXPECT_EQ(statusText(), status);
    EXPECT_EQ(barPosition(), bar);
    EXPECT_EQ(caption(), "停止下载");
    finishRun();
    EXPECT_EQ(statusText(), "");
    EXPECT_TRUE(settingsEnabled());
  }

  ReadableFolder www_;
  NginxServer nginx_{www_.path()};
  std::vector<Wallpaper> wallpapers_;
  std::map<std::string, std::string> images_;
};

TEST_F(RunEndToEnd, DownloadsEveryPairedWallpaperAndSkipsThemOnTheNextRun) {
  struct Case {
    const char* name;
    int threadCount;
    bool fastMode;
  };
  const Case cases[] = {
      {"ten threads, saver mode", 10, false},
      {"one thread, fast mode", 1, true},
      {"twenty threads, fast mode", 20, true},
      {"twenty threads, saver mode", 20, false},
  };
  // 25 tasks with a link finish; 27 titles were found; the task of the link
  // line without href has an empty link and neither shows nor counts.
  const std::string status = "下载图片...\r\n25 / 27";
  const int bar = 25 * 500 / 27 + 500;

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReadableFolder folder;
    window_driver::setThreadCount(c.threadCount);
    window_driver::chooseFastMode(c.fastMode);

    std::vector<std::string> entries;
    for (const Wallpaper& w : wallpapers_) {
      if (w.image.empty()) continue;
      const bool secondOfName = &w == &wallpapers_[23];
      entries.push_back((secondOfName ? "已经下载：" : "下载完成：") + w.fileName);
    }
    startRun(nginx_.url("/gallery/index.html"), folder.path());
    EXPECT_FALSE(settingsEnabled());
    expectCompletedWith(entries, status, bar);
    EXPECT_EQ(filesIn(folder.path()), expectedFiles());

    std::vector<std::string> skipped;
    for (const Wallpaper& w : wallpapers_) {
      if (!w.image.empty()) skipped.push_back("已经下载：" + w.fileName);
    }
    startRun(nginx_.url("/gallery/index.html"), folder.path());
    expectCompletedWith(skipped, status, bar);
    EXPECT_EQ(filesIn(folder.path()), expectedFiles());
  }
}

TEST_F(RunEndToEnd, WritesNoFileForFailedDownloadsAndFetchesLinksHoldingABarWhole) {
  ScriptedServer faults;
  const std::string image = test_gallery::makeJpeg(64, 48, 7);
  faults.route("/cut.jpg", {.body = image, .cutAfter = image.size() / 2});
  faults.route("/empty.jpg", {.body = ""});
  writeFile(www_.path() / "img" / "a|b.jpg", image);

  const std::string body =
      test_gallery::titleLine("完好") + test_gallery::linkLine(nginx_.url("/img/01.jpg")) +
      test_gallery::titleLine("不存在") + test_gallery::linkLine(nginx_.url("/img/missing.jpg")) +
      test_gallery::titleLine("半截") + test_gallery::linkLine(faults.url("/cut.jpg")) +
      test_gallery::titleLine("空白") + test_gallery::linkLine(faults.url("/empty.jpg")) +
      test_gallery::titleLine("竖线") + test_gallery::linkLine(nginx_.url("/img/a|b.jpg"));
  writeFile(www_.path() / "faults.html", test_gallery::galleryPage(body));

  ReadableFolder folder;
  window_driver::chooseFastMode(true);
  startRun(nginx_.url("/faults.html"), folder.path());
  expectCompletedWith(
      {"下载完成：完好", "下载完成：不存在", "下载完成：半截", "下载完成：空白", "下载完成：竖线"},
      "下载图片...\r\n5 / 5", 1000);
  const std::map<std::string, std::string> written = {{"完好.jpg", images_.at("01.jpg")},
                                                      {"竖线.jpg", image}};
  EXPECT_EQ(filesIn(folder.path()), written);
}

TEST_F(RunEndToEnd, CompletesWithoutTasksWhenThePageHoldsNoWallpaper) {
  ReadableFolder folder;
  startRun(nginx_.url("/no-such-gallery.html"), folder.path());
  ASSERT_TRUE(waitFor([] { return openMessageBox() != nullptr; })) << "no completion message";
  EXPECT_TRUE(listEntries().empty());
  finishRun();
  EXPECT_EQ(statusText(), "");
  EXPECT_TRUE(fs::is_empty(folder.path()));
}

}  // namespace
