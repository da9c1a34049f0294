#include "run/worker.h"

#include <algorithm>
#include <cstddef>
#include <stop_token>
#include <vector>

#include "http/fetch_page.h"
#include "run/download_task.h"
#include "run/parser.h"
#include "run/progress.h"
#include "runtime/controls.h"
#include "runtime/threads.h"
#include "runtime/ui_thread.h"
#include "text/encoding.h"

namespace {

// N as the thread-count box holds it. A negative count is the fatal error 10;
// 0, which the box's arrows never give, counts as 1 so that a batch still
// fills. A stopped worker reads 0 and must not rely on the value.
std::int32_t readThreadCount() {
  const std::int32_t n = textToInt(getEditText(Control::threadCountEdit));
  if (n < 0) fatalError(10);
  return std::max(n, 1);
}

// The mode radios are disabled during a run, so this answers the same
// throughout; it is asked each time all the same.
bool saverMode() {
  return isRadioChecked(Control::saverModeRadio);
}

void pauseInSaverMode() {
  if (saverMode()) sleepMs(1);
}

std::int32_t parseProgressAt(std::int32_t line, std::int32_t lineCount, double base) {
  return truncToInt(roundNumber(line * 25.0 / lineCount + base, 1));
}

// Waits for every thread of the slots in order; false when the worker was
// stopped meanwhile.
bool waitForSlots(const std::vector<ThreadHandle>& slots) {
  for (ThreadHandle slot : slots) {
    waitThread(slot);
    if (stopRequested()) return false;
    pauseInSaverMode();
  }
  return !stopRequested();
}

// All of the idle state in one step of the user interface thread, so that a
// new run started by a click cannot fall between its parts.
void returnToIdle() {
  const std::stop_token stop = currentStopToken();
  runOnUiThread([&] {
    if (stop.stop_requested()) return;
    setButtonCaption(Control::startStopButton, "开始下载"_t);
    setLabelText(Control::statusLabel, Text());
    setControlEnabled(Control::threadCountEdit, true);
    setControlEnabled(Control::saverModeRadio, true);
    setControlEnabled(Control::fastModeRadio, true);
  });
}

}  // namespace

void runWorker(const std::shared_ptr<Run>& run) {
  std::int32_t threadCount = readThreadCount();
  if (stopRequested()) return;
  std::vector<ThreadHandle> taskSlots(static_cast<std::size_t>(threadCount), 0);

  run->reporterThread = startRunThread([run] { runProgressReporter(run); });
  run->finishedCount = 0;
  run->foundCount = 0;
  run->listLock = createLock();
  run->counterLock = createLock();
  run->parseProgress = 2;

  const Text page = bytesToText(fetchPage(run->pageUrl));
  if (stopRequested()) return;
  const TextArray lines = splitPageIntoLines(page);
  run->parseProgress = 50;

  const std::int32_t lineCount = arraySize(lines);
  TextArray titles;
  for (std::int32_t i = 1; i <= lineCount; ++i) {
    if (collectTitle(lines[static_cast<std::size_t>(i - 1)], titles)) {
      ++run->foundCount;
      pauseInSaverMode();
    }
    run->parseProgress = parseProgressAt(i, lineCount, 50.0);
    if (stopRequested()) return;
  }
  TextArray imageUrls;
  for (std::int32_t i = 1; i <= lineCount; ++i) {
    if (collectImageUrl(lines[static_cast<std::size_t>(i - 1)], imageUrls)) pauseInSaverMode();
    run->parseProgress = parseProgressAt(i, lineCount, 75.0);
    if (stopRequested()) return;
  }
  killThread(run->reporterThread);

  std::size_t filledSlots = 0;
  for (std::size_t i = 0; i < titles.size(); ++i) {
    if (imageUrls.size() <= i) continue;
    const Text taskText = concatText(cleanTitle(titles[i]), "|"_t, imageUrls[i]);
    const ThreadHandle task = startRunThread([run, taskText] { runDownloadTask(run, taskText); });
    if (stopRequested()) return;
    ++filledSlots;
    if (taskSlots.size() < filledSlots) taskSlots.resize(filledSlots, 0);
    taskSlots[filledSlots - 1] = task;

    threadCount = readThreadCount();
    if (stopRequested()) return;
    if (filledSlots == static_cast<std::size_t>(threadCount)) {
      if (!waitForSlots(taskSlots)) return;
      filledSlots = 0;
      threadCount = readThreadCount();
      if (stopRequested()) return;
      taskSlots.assign(static_cast<std::size_t>(threadCount), 0);
    }
    pauseInSaverMode();
    if (stopRequested()) return;
  }
  if (!waitForSlots(taskSlots)) return;
  readThreadCount();
  if (stopRequested()) return;
  taskSlots.clear();

  showMessageBox("下载完成"_t, 64, "提示"_t);
  if (stopRequested()) return;
  returnToIdle();
}
