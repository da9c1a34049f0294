#include "run/progress.h"

#include <stop_token>

#include "runtime/controls.h"
#include "runtime/threads.h"
#include "runtime/ui_thread.h"
#include "text/encoding.h"

void runProgressReporter(const std::shared_ptr<Run>& run) {
  const std::stop_token stop = currentStopToken();
  while (!stop.stop_requested() && !run->stopped) {
    if (!isWindowCreated(Control::mainWindow)) return;
    runOnUiThread([&] {
      if (stop.stop_requested() || run->stopped) return;
      const std::int32_t progress = run->parseProgress;
      setLabelText(Control::statusLabel,
                   concatText("解析图片...\r\n"_t, numberToText(progress), " %"_t));
      setProgressPosition(Control::progressBar, truncToInt(progress * 5.0));
    });
    sleepMs(100);
  }
}

void showDownloadStatus(const Run& run) {
  // Read at the moment of showing, so the last refresh shown carries the last
  // count, whichever task's refresh comes last.
  const std::int32_t finished = run.finishedCount;
  const std::int32_t found = run.foundCount;
  setLabelText(Control::statusLabel, concatText("下载图片...\r\n"_t, numberToText(finished),
                                                " / "_t, numberToText(found)));
  setProgressPosition(Control::progressBar, truncToInt(finished * 500.0 / found + 500.0));
}

void refreshDownloadStatus(const std::shared_ptr<Run>& run) {
  postWhileShown(run, [run] { showDownloadStatus(*run); });
}
