// Whole runs from the real window against servers and folders that fail in
// every way a run meets: each must end as the user expects, with the window
// answering, no partial or temporary file, and every wallpaper that could be
// fetched saved byte for byte.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "gallery_page.h"
#include "local_servers.h"
#include "runtime/internet.h"
#include "window_driver.h"

namespace {

namespace fs = std::filesystem;
using test_servers::Answer;
using test_servers::ReadableFolder;
using test_servers::readFile;
using test_servers::ScriptedServer;
using window_driver::caption;
using window_driver::finishRun;
using window_driver::listEntries;
using window_driver::waitFor;

// Answers each target with its own handler; other targets get a 404 page.
class RoutedServer {
 public:
  RoutedServer() : server_([this](ServerExchange& exchange) { serve(exchange); }) {
    if (!server_.listening()) throw std::runtime_error("routed server cannot listen");
  }
  void route(const std::string& target, ServerHandler handler) {
    std::lock_guard guard(mutex_);
    routes_[target] = std::move(handler);
  }
  [[nodiscard]] std::string url(const std::string& target) const { return server_.url(target); }
  // Processes the window's events until a request for the target has come.
  bool waitForTarget(const std::string& target) const {
    return waitFor([&] {
      const std::vector<ReceivedRequest> requests = server_.requests();
      return std::any_of(requests.begin(), requests.end(),
                         [&](const ReceivedRequest& r) { return r.target == target; });
    });
  }

 private:
  void serve(ServerExchange& exchange) {
    ServerHandler handler;
    {
      std::lock_guard guard(mutex_);
      auto found = routes_.find(exchange.request().target);
      if (found != routes_.end()) handler = found->second;
    }
    if (handler) {
      handler(exchange);
    } else {
      exchange.send(
          httpAnswer("HTTP/1.1 404 Not Found", "<html>404</html>", "Content-Type: text/html\r\n"));
    }
  }

  std::mutex mutex_;
  std::map<std::string, ServerHandler> routes_;
  TestServer server_;  // last: its handlers end before the routes go
};

// The program's limits, changed for one test.
class LimitsScope {
 public:
  explicit LimitsScope(const InternetLimits& limits) : saved_(internetLimits()) {
    setInternetLimits(limits);
  }
  ~LimitsScope() { setInternetLimits(saved_); }
  LimitsScope(const LimitsScope&) = delete;
  LimitsScope& operator=(const LimitsScope&) = delete;

 private:
  InternetLimits saved_;
};

// A tmpfs mounted over a folder for one test; mounted() is false where the
// test may not mount.
class TmpfsMount {
 public:
  TmpfsMount(const fs::path& at, const std::string& options) : at_(at) {
    mounted_ = ::mount("tmpfs", at.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~TmpfsMount() {
    if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
  }
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;

  [[nodiscard]] bool mounted() const { return mounted_; }
  bool makeReadOnly() {
    return ::mount("tmpfs", at_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
  }

 private:
  fs::path at_;
  bool mounted_ = false;
};

std::map<std::string, std::string> filesIn(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(folder))
    files[entry.path().filename().string()] = readFile(entry.path());
  return files;
}

std::vector<std::string> sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

// True when an event posted now to the user interface thread runs.
bool windowAnswers() {
  auto ran = std::make_shared<bool>(false);
  QTimer::singleShot(0, QApplication::instance(), [ran] { *ran = true; });
  return waitFor([ran] { return *ran; });
}

// Bytes that stand for an image where only their size and identity matter.
std::string filler(std::size_t size, unsigned seed) {
  std::string bytes = "\xFF\xD8";
  unsigned state = seed * 2654435761u + 1;
  while (bytes.size() < size) {
    state = state * 1103515245u + 12345u;
    bytes += static_cast<char>(state >> 16);
  }
  return bytes;
}

std::string htmlPage(const std::string& body) {
  return httpAnswer("HTTP/1.1 200 OK", test_gallery::galleryPage(body),
                    "Content-Type: text/html; charset=utf-8\r\n");
}

using FaultMatrix = window_driver::WindowTest;

TEST_F(FaultMatrix, SavesEveryWholeImageAndNothingOfAFailedOne) {
  struct Case {
    const char* name;
    ServerHandler answer;
    std::optional<std::string> saved;  // the file's bytes, nullopt for no file
  };
  const std::string first = test_gallery::makeJpeg(64, 48, 1);
  const std::string second = test_gallery::makeJpeg(80, 40, 2);
  const std::string cutImage = test_gallery::makeJpeg(64, 48, 3);
  const std::string htmlBody = "<html><body>服务器错误</body></html>";
  const std::string stray200 = "<html><body>这不是图片</body></html>";
  constexpr std::int64_t kBound = 16 << 10;
  const std::string oversized = filler(kBound * 4, 4);
  const std::string closedImage = "http://127.0.0.1:" + std::to_string(closedPort()) + "/gone.jpg";

  const std::vector<Case> cases = {
      {"whole image", answerWith(httpAnswer("HTTP/1.1 200 OK", first)), first},
      {"connection reset in the middle",
       [&](ServerExchange& e) {
         const std::string full = httpAnswer("HTTP/1.1 200 OK", cutImage);
         e.send(std::string_view(full).substr(0, full.size() - cutImage.size() / 2));
         e.reset();
       },
       std::nullopt},
      {"Content-Length longer than the body",
       answerWith("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(cutImage.size() + 1000) +
                  "\r\nContent-Type: image/jpeg\r\n\r\n" + cutImage),
       std::nullopt},
      {"accepted and never answered", [](ServerExchange& e) { e.stall(); }, std::nullopt},
      {"404 with an HTML body",
       answerWith(httpAnswer("HTTP/1.1 404 Not Found", htmlBody, "Content-Type: text/html\r\n")),
       std::nullopt},
      {"500 with an HTML body",
       answerWith(httpAnswer("HTTP/1.1 500 Internal Server Error", htmlBody,
                             "Content-Type: text/html\r\n")),
       std::nullopt},
      {"redirect loop",
       answerWith(
           httpAnswer("HTTP/1.1 302 Found", "", "Location: /img/6.jpg\r\nConnection: close\r\n")),
       std::nullopt},
      {"larger than the size bound", answerWith(httpAnswer("HTTP/1.1 200 OK", oversized)),
       std::nullopt},
      // A page in the image's place would stand as the wallpaper for good.
      {"HTML with status 200",
       answerWith(httpAnswer("HTTP/1.1 200 OK", stray200, "Content-Type: text/html\r\n")),
       std::nullopt},
      {"XML with status 200 after a byte-order mark and blank lines",
       answerWith(httpAnswer("HTTP/1.1 200 OK",
                             "\xEF\xBB\xBF\r\n\r\n <?xml version=\"1.0\"?><Error/>",
                             "Content-Type: application/xml\r\n")),
       std::nullopt},
      {"image server down", nullptr, std::nullopt},
      {"second whole image", answerWith(httpAnswer("HTTP/1.1 200 OK", second)), second},
  };

  RoutedServer server;
  std::string body;
  std::map<std::string, std::string> expected;
  std::vector<std::string> entries;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string title = "壁纸" + std::to_string(i);
    const std::string target = "/img/" + std::to_string(i) + ".jpg";
    if (cases[i].answer) server.route(target, cases[i].answer);
    body += test_gallery::titleLine(title) +
            test_gallery::linkLine(cases[i].answer ? server.url(target) : closedImage);
    if (cases[i].saved) expected[title + ".jpg"] = *cases[i].saved;
    entries.push_back("下载完成：" + title);
  }
  server.route("/gallery.html", answerWith(htmlPage(body)));
  ASSERT_EQ(cases[6].name, std::string("redirect loop"));  // its Location is its own target
  ASSERT_LT(static_cast<std::int64_t>(test_gallery::galleryPage(body).size()), kBound);

  InternetLimits limits;
  limits.stallTimeout = std::chrono::milliseconds(1500);
  limits.maxBodyBytes = kBound;
  LimitsScope scope(limits);

  ReadableFolder folder;
  window_driver::setThreadCount(4);
  window_driver::chooseFastMode(true);
  startRun(server.url("/gallery.html"), folder.path());
  // While a download hangs the run goes on and the window answers.
  ASSERT_TRUE(server.waitForTarget("/img/3.jpg"));
  EXPECT_TRUE(windowAnswers());
  finishRun();
  EXPECT_EQ(sorted(listEntries()), sorted(entries));
  EXPECT_TRUE(windowAnswers());

  const std::map<std::string, std::string> files = filesIn(folder.path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = "壁纸" + std::to_string(&c - cases.data()) + ".jpg";
    EXPECT_EQ(files.count(name) == 1, c.saved.has_value());
  }
  EXPECT_EQ(files, expected);  // nothing else: no partial or temporary file
}

// A stop ends the run at once while a download hangs; the hanging download
// ends with the stall time-out and leaves nothing behind.
TEST_F(FaultMatrix, StopsAtOnceWhileADownloadHangs) {
  const std::string image = test_gallery::makeJpeg(64, 48, 12);
  auto gaveUp = std::make_shared<std::atomic<bool>>(false);
  RoutedServer server;
  server.route("/whole.jpg", answerWith(httpAnswer("HTTP/1.1 200 OK", image)));
  server.route("/hang.jpg", [gaveUp](ServerExchange& e) {
    e.stall();
    gaveUp->store(true);
  });
  server.route(
      "/gallery.html",
      answerWith(htmlPage(
          test_gallery::titleLine("完整") + test_gallery::linkLine(server.url("/whole.jpg")) +
          test_gallery::titleLine("挂起") + test_gallery::linkLine(server.url("/hang.jpg")))));
  InternetLimits limits;
  limits.stallTimeout = std::chrono::milliseconds(1500);
  LimitsScope scope(limits);

  ReadableFolder folder;
  window_driver::setThreadCount(1);
  startRun(server.url("/gallery.html"), folder.path());
  ASSERT_TRUE(server.waitForTarget("/hang.jpg"));
  window_driver::clickStartStop();
  EXPECT_EQ(caption(), "开始下载");
  EXPECT_TRUE(window_driver::settingsEnabled());
  EXPECT_TRUE(window_driver::waitForRunThreads());
  EXPECT_EQ(window_driver::openMessageBox(), nullptr);
  EXPECT_TRUE(windowAnswers());
  // The client gives up on its own; the server sees it go.
  ASSERT_TRUE(waitFor([&] { return gaveUp->load(); }));
  EXPECT_TRUE(windowAnswers());
  EXPECT_EQ(filesIn(folder.path()), (std::map<std::string, std::string>{{"完整.jpg", image}}));
}

TEST_F(FaultMatrix, EndsTheRunWhenThePageCannotBeHad) {
  const std::string image = test_gallery::makeJpeg(64, 48, 5);
  RoutedServer server;
  server.route("/star.jpg", answerWith(httpAnswer("HTTP/1.1 200 OK", image)));
  server.route("/moved.html", answerWith(httpAnswer("HTTP/1.1 301 Moved Permanently", "",
                                                    "Location: /moved.html\r\n"
                                                    "Connection: close\r\n")));
  // "星空" and the link's label in code page 936, the program's own, with no
  // charset anywhere: taken as it is, without conversion.
  const std::string gbkPage = "<html><head><title>\xD7\xC0\xC3\xE6</title></head><body>\n" +
                              test_gallery::titleLine("\xD0\xC7\xBF\xD5") +
                              "<p><a class=\"navigationLink\" href=\"" + server.url("/star.jpg") +
                              "\">\xC1\xA2\xBC\xB4\xBB\xF1\xC8\xA1</a></p>\n</body></html>\n";
  server.route("/gbk.html",
               answerWith(httpAnswer("HTTP/1.1 200 OK", gbkPage, "Content-Type: text/html\r\n")));

  struct Case {
    const char* name;
    std::string pageUrl;
    std::vector<std::string> entries;
    std::map<std::string, std::string> files;
  };
  const std::vector<Case> cases = {
      {"gallery server down", "http://127.0.0.1:" + std::to_string(closedPort()) + "/", {}, {}},
      {"301 Moved for ever", server.url("/moved.html"), {}, {}},
      {"GBK page without a charset",
       server.url("/gbk.html"),
       {"下载完成：星空"},
       {{"星空.jpg", image}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReadableFolder folder;
    startRun(c.pageUrl, folder.path());
    finishRun();
    EXPECT_EQ(listEntries(), c.entries);
    EXPECT_EQ(filesIn(folder.path()), c.files);
    EXPECT_TRUE(windowAnswers());
  }
}

TEST_F(FaultMatrix, GoesOnWhenTheFolderGoesAwayDuringTheRun) {
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> takeAway;
  };
  const std::vector<Case> cases = {
      {"folder removed", [](const fs::path& p) { fs::remove_all(p); }},
      {"folder replaced by a file",
       [](const fs::path& p) {
         fs::remove_all(p);
         test_servers::writeFile(p, "not a folder");
       }},
  };
  const std::string early = test_gallery::makeJpeg(64, 48, 6);
  const std::string late = test_gallery::makeJpeg(64, 48, 7);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server;
    server.route("/early.jpg", {.body = early});
    server.route("/late.jpg", {.body = late, .held = true});
    server.route(
        "/gallery.html",
        {.contentType = "text/html; charset=utf-8",
         .body = test_gallery::galleryPage(
             test_gallery::titleLine("早") + test_gallery::linkLine(server.url("/early.jpg")) +
             test_gallery::titleLine("晚") + test_gallery::linkLine(server.url("/late.jpg")))});
    ReadableFolder parent;
    const fs::path folder = parent.path() / "壁纸";
    fs::create_directory(folder);
    // One download at a time: the first is saved before the second starts.
    window_driver::setThreadCount(1);
    startRun(server.url("/gallery.html"), folder);
    ASSERT_TRUE(waitFor([&] {
      const auto events = server.events();
      return std::any_of(events.begin(), events.end(),
                         [](const auto& e) { return e.target == "/late.jpg"; });
    }));
    EXPECT_EQ(readFile(folder / "早.jpg"), early);
    c.takeAway(folder);
    server.release();
    finishRun();
    EXPECT_EQ(listEntries(), (std::vector<std::string>{"下载完成：早", "下载完成：晚"}));
    // Nothing was made in the folder's place, nor beside it.
    EXPECT_FALSE(fs::is_directory(folder));
    EXPECT_EQ(filesIn(parent.path()).size(), fs::exists(folder) ? 1u : 0u);
    EXPECT_TRUE(windowAnswers());
  }
}

TEST_F(FaultMatrix, WritesNothingIntoAReadOnlyFolderAndStillSkipsWhatIsThere) {
  ReadableFolder folder;
  TmpfsMount mount(folder.path(), "size=1m,mode=0755");
  if (!mount.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  const std::string old = test_gallery::makeJpeg(64, 48, 8);
  test_servers::writeFile(folder.path() / "旧.jpg", old);
  ASSERT_TRUE(mount.makeReadOnly());

  ScriptedServer server;
  server.route("/old.jpg", {.body = old});
  server.route("/new.jpg", {.body = test_gallery::makeJpeg(64, 48, 9)});
  server.route(
      "/gallery.html",
      {.contentType = "text/html; charset=utf-8",
       .body = test_gallery::galleryPage(
           test_gallery::titleLine("旧") + test_gallery::linkLine(server.url("/old.jpg")) +
           test_gallery::titleLine("新") + test_gallery::linkLine(server.url("/new.jpg")))});
  startRun(server.url("/gallery.html"), folder.path());
  finishRun();
  EXPECT_EQ(sorted(listEntries()), sorted({"已经下载：旧", "下载完成：新"}));
  EXPECT_EQ(filesIn(folder.path()), (std::map<std::string, std::string>{{"旧.jpg", old}}));
  EXPECT_TRUE(windowAnswers());
}

TEST_F(FaultMatrix, KeepsOnlyWholeFilesWhenTheDiskFills) {
  ReadableFolder folder;
  // 16 pages: room for three of the images, not for all six.
  TmpfsMount mount(folder.path(), "size=64k,mode=0755");
  if (!mount.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";

  ScriptedServer server;
  std::map<std::string, std::string> images;
  std::string body;
  std::vector<std::string> entries;
  for (unsigned i = 1; i <= 6; ++i) {
    const std::string title = "满" + std::to_string(i);
    images[title + ".jpg"] = filler(20000, i);
    const std::string target = "/" + std::to_string(i) + ".jpg";
    server.route(target, {.body = images[title + ".jpg"]});
    body += test_gallery::titleLine(title) + test_gallery::linkLine(server.url(target));
    entries.push_back("下载完成：" + title);
  }
  server.route("/gallery.html", {.contentType = "text/html; charset=utf-8",
                                 .body = test_gallery::galleryPage(body)});
  window_driver::setThreadCount(1);
  startRun(server.url("/gallery.html"), folder.path());
  finishRun();
  EXPECT_EQ(listEntries(), entries);
  const std::map<std::string, std::string> files = filesIn(folder.path());
  EXPECT_FALSE(files.empty());
  EXPECT_LT(files.size(), images.size());
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    ASSERT_EQ(images.count(name), 1u);  // no temporary file left
    EXPECT_EQ(bytes, images[name]);
  }
  EXPECT_TRUE(windowAnswers());
}

// A name over the file system's limit cannot be written. The entry still
// reads done, nothing is left behind, and the next run, finding no file,
// downloads it again rather than claiming it exists.
TEST_F(FaultMatrix, SavesATitleTooLongForAFileNameUnderItsShortenedName) {
  std::string longTitle;
  for (int i = 0; i < 90; ++i)
    longTitle += "长";  // 270 bytes in UTF-8
  std::string keptTitle;
  for (int i = 0; i < 83; ++i)
    keptTitle += "长";  // 249 bytes: with ".jpg" within the 255-byte name limit
  const std::string image = test_gallery::makeJpeg(64, 48, 10);
  const std::string shortImage = test_gallery::makeJpeg(64, 48, 11);
  ScriptedServer server;
  server.route("/long.jpg", {.body = image});
  server.route("/short.jpg", {.body = shortImage});
  server.route(
      "/gallery.html",
      {.contentType = "text/html; charset=utf-8",
       .body = test_gallery::galleryPage(
           test_gallery::titleLine(longTitle) + test_gallery::linkLine(server.url("/long.jpg")) +
           test_gallery::titleLine("短") + test_gallery::linkLine(server.url("/short.jpg")))});
  ReadableFolder folder;
  const std::map<std::string, std::string> expected = {{keptTitle + ".jpg", image},
                                                       {"短.jpg", shortImage}};

  startRun(server.url("/gallery.html"), folder.path());
  finishRun();
  EXPECT_EQ(sorted(listEntries()), sorted({"下载完成：" + longTitle, "下载完成：短"}));
  EXPECT_EQ(filesIn(folder.path()), expected);

  // The next run finds the shortened file instead of fetching it again.
  startRun(server.url("/gallery.html"), folder.path());
  finishRun();
  EXPECT_EQ(sorted(listEntries()), sorted({"已经下载：" + longTitle, "已经下载：短"}));
  EXPECT_EQ(filesIn(folder.path()), expected);
  EXPECT_TRUE(windowAnswers());
}

}  // namespace
