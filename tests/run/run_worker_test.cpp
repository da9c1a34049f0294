// The worker's phases seen from outside: the parse progress while the page is
// on its way, and strict batches of N download tasks.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "gallery_page.h"
#include "local_servers.h"
#include "window_driver.h"

namespace {

using test_servers::Answer;
using test_servers::ReadableFolder;
using test_servers::ScriptedServer;
using test_servers::ServerEvent;
using window_driver::barPosition;
using window_driver::finishRun;
using window_driver::statusText;
using window_driver::waitFor;

using RunWorker = window_driver::WindowTest;

std::string pageAnswerBody(const ScriptedServer& server, int images) {
  std::string body;
  for (int k = 1; k <= images; ++k) {
    body += test_gallery::titleLine("图" + std::to_string(k));
    body += test_gallery::linkLine(server.url("/" + std::to_string(k) + ".jpg"));
  }
  return test_gallery::galleryPage(body);
}

TEST_F(RunWorker, ReportsTheParseProgressWhileThePageIsOnItsWay) {
  ScriptedServer server;
  server.route(
      "/gallery",
      {.contentType = "text/html; charset=utf-8", .body = pageAnswerBody(server, 1), .held = true});
  server.route("/1.jpg", {.body = test_gallery::makeJpeg(32, 32, 1)});
  ReadableFolder folder;
  startRun(server.url("/gallery"), folder.path());

  EXPECT_TRUE(waitFor([] { return statusText() == "解析图片...\r\n2 %" && barPosition() == 10; }))
      << statusText() << " at " << barPosition();
  server.release();
  finishRun();
}

TEST_F(RunWorker, StartsEachBatchOnlyWhenTheWholeBatchBeforeHasEnded) {
  constexpr int kThreads = 3;
  constexpr int kImages = 8;
  ScriptedServer server;
  server.route("/gallery", {.contentType = "text/html; charset=utf-8",
                            .body = pageAnswerBody(server, kImages)});
  // The first task of each batch answers last, so a worker that refilled a
  // slot as soon as any task ended would start the next batch too early.
  for (int k = 1; k <= kImages; ++k) {
    server.route("/" + std::to_string(k) + ".jpg",
                 {.body = test_gallery::makeJpeg(32, 32, static_cast<unsigned>(k)),
                  .delayMs = k % kThreads == 1 ? 150 : 0});
  }
  ReadableFolder folder;
  window_driver::setThreadCount(kThreads);
  window_driver::chooseFastMode(true);
  startRun(server.url("/gallery"), folder.path());
  finishRun();

  std::set<int> answered;
  std::set<int> requested;
  for (const ServerEvent& event : server.events()) {
    if (event.target == "/gallery") continue;
    const int k = std::stoi(event.target.substr(1));
    if (event.answered) {
      answered.insert(k);
      continue;
    }
    requested.insert(k);
    const int tasksBefore = (k - 1) / kThreads * kThreads;
    for (int j = 1; j <= tasksBefore; ++j)
      EXPECT_TRUE(answered.count(j)) << "image " << k << " was requested before image " << j
                                     << " of an earlier batch was answered";
  }
  EXPECT_EQ(requested.size(), static_cast<std::size_t>(kImages));
}

}  // namespace
