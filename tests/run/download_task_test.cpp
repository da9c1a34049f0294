// A download task of a stopped run, with and without a newer run on the list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gallery_page.h"
#include "local_servers.h"
#include "run/download_task.h"
#include "run/run_state.h"
#include "window_driver.h"

namespace {

using test_servers::NginxServer;
using test_servers::ReadableFolder;
using test_servers::readFile;
using test_servers::writeFile;
using window_driver::barPosition;
using window_driver::listEntries;
using window_driver::statusText;

using DownloadTask = window_driver::WindowTest;

Text folderText(const ReadableFolder& folder) {
  return utf8ToText(folder.path().string() + "/");
}

TEST_F(DownloadTask, TouchesTheWindowOnlyWhileItsRunIsTheOneShown) {
  struct Case {
    const char* name;
    bool newerRun;
    std::vector<std::string> entries;
    std::string status;
    int bar;
  };
  const Case cases[] = {
      {"its run was stopped and no other began",
       false,
       {"下载完成：旧的"},
       "下载图片...\r\n1 / 2",
       750},
      {"a newer run shows its entries", true, {"正在下载：新的"}, "下载图片...\r\n0 / 1", 500},
  };
  ReadableFolder www;
  const std::string image = test_gallery::makeJpeg(40, 30, 3);
  writeFile(www.path() / "old.jpg", image);
  NginxServer nginx(www.path());

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReadableFolder oldFolder;
    listClear(Control::wallpaperList);
    setLabelText(Control::statusLabel, Text());
    const std::shared_ptr<::Run> old = beginRun(folderText(oldFolder), Text());
    old->listLock = createLock();
    old->counterLock = createLock();
    old->foundCount = 2;
    std::shared_ptr<::Run> newer;
    if (c.newerRun) {
      ReadableFolder newFolder;
      newer = beginRun(folderText(newFolder), Text());
      newer->foundCount = 1;
      listClear(Control::wallpaperList);
      listInsertItem(Control::wallpaperList, 0, utf8ToText("正在下载：新的"));
      setLabelText(Control::statusLabel, utf8ToText("下载图片...\r\n0 / 1"));
      setProgressPosition(Control::progressBar, 500);
    }

    const Text taskText = utf8ToText("旧的|" + nginx.url("/old.jpg"));
    ASSERT_TRUE(window_driver::waitForThreadEnd(
        startRunThread([old, taskText] { runDownloadTask(old, taskText); })));

    EXPECT_EQ(readFile(oldFolder.path() / "旧的.jpg"), image);
    EXPECT_EQ(old->finishedCount, 1);
    if (newer != nullptr) {
      EXPECT_EQ(newer->finishedCount, 0);
    }
    EXPECT_EQ(listEntries(), c.entries);
    EXPECT_EQ(statusText(), c.status);
    EXPECT_EQ(barPosition(), c.bar);
  }
}

}  // namespace
