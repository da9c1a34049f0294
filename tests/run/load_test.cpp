// Whole runs under load from the real window against nginx on 127.0.0.1: many
// images at the largest thread count, many starts and stops at random moments,
// and a close while downloads are in full swing.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
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
using test_servers::writeFile;
using window_driver::barPosition;
using window_driver::caption;
using window_driver::finishRun;
using window_driver::listEntries;
using window_driver::openMessageBox;
using window_driver::statusText;
using window_driver::waitFor;

constexpr int kImageCount = 200;
const std::string kDone = "下载完成：";
const std::string kSkipped = "已经下载：";

std::vector<std::string> filesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool startsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// Waits on the event loop instead of polling: the worker's calls into the
// window are queued events, and a poll that sleeps between turns holds up each
// of them, which over hundreds of tasks makes a run many times slower.
bool waitOnEvents(const std::function<bool()>& cond) {
  QTimer tick;  // wakes the loop for conditions that no event announces
  tick.start(10);
  const QDeadlineTimer deadline(window_driver::kPatienceMs);
  while (!cond()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// Entries whose task has ended: downloaded or found on disk.
int endedEntries() {
  int ended = 0;
  for (const std::string& entry : listEntries()) {
    if (startsWith(entry, kDone) || startsWith(entry, kSkipped)) ++ended;
  }
  return ended;
}

class LoadRun : public window_driver::WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    std::string body;
    for (int i = 1; i <= kImageCount; ++i) {
      const std::string n = std::to_string(1000 + i).substr(1);
      const std::string title = "壁纸 " + n + " 号";
      // Small images keep the run short even under the thread checker. One
      // larger image of the first batch comes slowly, so that a task of a
      // stopped run is still running when the next run begins. The seed makes
      // each image different.
      const bool slow = i == 7;
      const std::string image =
          slow ? test_gallery::makeJpeg(96, 72, static_cast<unsigned>(i))
               : test_gallery::makeJpeg(24 + i % 7, 16, static_cast<unsigned>(i));
      const std::string target = (slow ? "/slow/" : "/img/") + n + ".jpg";
      writeFile(www_.path() / target.substr(1), image);
      images_[title + ".jpg"] = image;
      titles_.push_back(title);
      body += test_gallery::titleLine(title) + test_gallery::linkLine(nginx_.url(target));
    }
    writeFile(www_.path() / "gallery.html", test_gallery::galleryPage(body));
    window_driver::setThreadCount(20);
    window_driver::chooseFastMode(true);
  }

  void start() { startRun(nginx_.url("/gallery.html"), folder_.path()); }

  std::vector<std::string> expectedNames() const {
    std::vector<std::string> names;
    for (const auto& [name, image] : images_)
      names.push_back(name);
    return names;
  }

  // Every image is in the folder, whole, and nothing else; tasks of stopped
  // runs may still be writing, so this waits until no temporary file is left.
  void expectEveryFileWhole() {
    EXPECT_TRUE(waitFor([&] { return filesIn(folder_.path()) == expectedNames(); }))
        << "files left in the folder differ from the expected ones";
    expectFilesWhole();
  }

  // Every file in the folder is a whole image under its own name.
  void expectFilesWhole() {
    for (const std::string& name : filesIn(folder_.path())) {
      const auto image = images_.find(name);
      ASSERT_NE(image, images_.end()) << name;
      EXPECT_EQ(readFile(folder_.path() / name), image->second) << name;
    }
  }

  ReadableFolder www_;
  NginxServer nginx_{www_.path(), "    location /slow/ { limit_rate 1k; }\n"};
  ReadableFolder folder_;
  std::vector<std::string> titles_;
  std::map<std::string, std::string> images_;  // by file name
};

TEST_F(LoadRun, DownloadsEveryImageWithTwentyThreads) {
  start();
  ASSERT_TRUE(waitOnEvents([] { return openMessageBox() != nullptr; })) << "no completion message";
  std::vector<std::string> entries = listEntries();
  std::sort(entries.begin(), entries.end());
  std::vector<std::string> expected;
  for (const std::string& title : titles_)
    expected.push_back(kDone + title);
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(entries, expected);
  EXPECT_EQ(statusText(), "下载图片...\r\n200 / 200");
  EXPECT_EQ(barPosition(), 1000);
  finishRun();
  expectEveryFileWhole();
}

// Stops at random moments (during the parse, among the downloads, with the
// completion message open) while tasks of earlier runs still write; files are
// removed between cycles so that every run downloads some again.
TEST_F(LoadRun, SurvivesRepeatedStopsAndCompletesTheLastRun) {
  std::mt19937 random(20261211);
  for (int cycle = 0; cycle < 50; ++cycle) {
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    start();
    ASSERT_EQ(caption(), "停止下载");
    if (random() % 2 == 0) {
      const unsigned turns = random() % 400;
      for (unsigned i = 0; i < turns; ++i)
        QCoreApplication::processEvents();
    } else {
      // Mostly within the first batches, where the slow task runs; now and
      // then with the completion message open.
      const int ended = cycle % 10 == 9 ? kImageCount : static_cast<int>(random() % 41);
      ASSERT_TRUE(
          waitOnEvents([&] { return endedEntries() >= ended || openMessageBox() != nullptr; }));
    }
    window_driver::clickStartStop();
    ASSERT_EQ(caption(), "开始下载");
    ASSERT_TRUE(waitFor([] { return openMessageBox() == nullptr; })) << "message outlived the stop";
    ASSERT_TRUE(window_driver::waitForRunThreads()) << "worker or reporter hangs after the stop";
    // Only this run's tasks write to the list: each title at most once.
    std::set<std::string> seen;
    for (const std::string& entry : listEntries()) {
      const std::string title = entry.substr(entry.find("：") + std::string("：").size());
      EXPECT_TRUE(seen.insert(title).second) << "entry twice: " << entry;
    }
    for (const std::string& name : expectedNames()) {
      std::error_code ignored;
      if (random() % 4 == 0) fs::remove(folder_.path() / name, ignored);
    }
  }

  start();
  ASSERT_TRUE(waitOnEvents([] { return openMessageBox() != nullptr; })) << "no completion message";
  std::multiset<std::string> shownTitles;
  for (const std::string& entry : listEntries()) {
    if (startsWith(entry, kDone)) {
      shownTitles.insert(entry.substr(kDone.size()));
    } else if (startsWith(entry, kSkipped)) {
      shownTitles.insert(entry.substr(kSkipped.size()));
    } else {
      ADD_FAILURE() << "unfinished entry: " << entry;
    }
  }
  EXPECT_EQ(shownTitles, std::multiset<std::string>(titles_.begin(), titles_.end()));
  EXPECT_EQ(statusText(), "下载图片...\r\n200 / 200");
  EXPECT_EQ(barPosition(), 1000);
  finishRun();
  expectEveryFileWhole();
}

// Closing the window among many running downloads ends the run's threads
// without a message; the tasks already started still leave whole files only.
TEST_F(LoadRun, ClosingTheWindowAmongManyDownloadsLeavesOnlyWholeFiles) {
  start();
  ASSERT_TRUE(waitOnEvents([] { return endedEntries() >= 40; }));
  window_->close();
  ASSERT_TRUE(window_driver::waitForRunThreads());
  EXPECT_EQ(openMessageBox(), nullptr);
  // Which tasks had started is up to the moment of the close; whatever was
  // written is whole and nothing temporary stays.
  EXPECT_TRUE(waitFor([&] {
    for (const std::string& name : filesIn(folder_.path())) {
      if (images_.count(name) == 0) return false;
    }
    return true;
  })) << "a temporary file stays after the close";
  EXPECT_GE(filesIn(folder_.path()).size(), 40u);
  expectFilesWhole();
}

}  // namespace
