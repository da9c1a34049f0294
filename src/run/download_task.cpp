#include "run/download_task.h"

#include <string_view>

#include "run/progress.h"
#include "run/wallpaper_file.h"
#include "runtime/controls.h"
#include "runtime/files.h"
#include "runtime/internet.h"
#include "runtime/threads.h"
#include "text/encoding.h"

namespace {

// An answer that opens with markup (after a byte-order mark and blank space)
// is a web page a server sent in the image's place, such as a login or error
// page with status 200. Saved, it would be a bogus wallpaper that the next
// run skips instead of fetching the real one.
bool isWebPage(const Bytes& body) {
  std::string_view rest(body.str());
  if (rest.starts_with("\xEF\xBB\xBF")) rest.remove_prefix(3);
  const std::size_t first = rest.find_first_not_of(" \t\r\n");
  return first != std::string_view::npos && rest[first] == '<';
}

void countFinished(Run& run) {
  enterLock(run.counterLock);
  ++run.finishedCount;
  leaveLock(run.counterLock);
}

}  // namespace

void runDownloadTask(const std::shared_ptr<Run>& run, const Text& taskText) {
  // The cleaned title holds no "|", so the link is everything after the
  // first one, a "|" of its own included.
  const std::int32_t bar = findText(taskText, "|"_t);
  const Text title = bar == -1 ? taskText : textLeft(taskText, bar - 1);
  const Text link = bar == -1 ? Text() : textRight(taskText, textLength(taskText) - bar);
  if (link.empty()) {
    refreshDownloadStatus(run);
    return;
  }

  const Text path = wallpaperFilePath(run->saveFolder, title);
  const bool existed = fileExists(path);

  // The window's changes are queued to the user interface thread in order
  // rather than waited for, so a busy window never slows a download. The
  // entry's index is taken there, when the entry is added.
  auto entry = std::make_shared<std::int32_t>(-1);
  enterLock(run->listLock);
  postWhileShown(run, [entry, text = concatText(existed ? "已经下载："_t : "正在下载："_t, title)] {
    *entry = listItemCount(Control::wallpaperList);
    listInsertItem(Control::wallpaperList, *entry, text);
  });
  leaveLock(run->listLock);

  if (existed) {
    countFinished(*run);
    refreshDownloadStatus(run);
    return;
  }
  const Bytes image = httpReadFile(link);
  countFinished(*run);
  if (!image.empty() && !isWebPage(image)) writeFileBytes(path, image);
  postWhileShown(run, [run, entry, text = concatText("下载完成："_t, title)] {
    listSetItemText(Control::wallpaperList, *entry, text);
    showDownloadStatus(*run);
  });
}
