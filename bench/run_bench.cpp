// A whole run in fast mode with 10 threads over 200 images of 1 MiB from nginx
// on loopback, started from the real window, beside curl fetching the same
// addresses 10 at a time; the process's peak memory over the runs against its
// memory before the first, and against curl's peak; the longest time the
// user interface thread stayed away from its events during a run, against
// the same window idle while curl fetches the same images.
//
// Run: build/release/bench/run_bench (needs nginx and curl; QT_QPA_PLATFORM
// defaults to offscreen). Prints the figure lines at the end.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <time.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "common/child_process.h"
#include "run/local_servers.h"
#include "runtime/control_registry.h"
#include "runtime/controls.h"
#include "runtime/threads.h"
#include "support/environment.h"
#include "text/encoding.h"
#include "ui/handlers.h"
#include "ui/main_window.h"

namespace {

constexpr int kImages = 200;
constexpr std::size_t kImageBytes = 1 << 20;
constexpr int kThreads = 10;

using test_servers::NginxServer;
using test_servers::ReadableFolder;

struct Gallery {
  ReadableFolder www;
  std::unique_ptr<NginxServer> nginx;
  std::vector<std::string> imageUrls;
  std::string pageUrl;
};

std::unique_ptr<Gallery> theGallery;

Gallery& gallery() {
  if (theGallery == nullptr) {
    auto made = std::make_unique<Gallery>();
    std::mt19937_64 random(42);
    std::string page =
        "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">"
        "</head><body>\n";
    made->nginx = std::make_unique<NginxServer>(made->www.path());
    for (int i = 1; i <= kImages; ++i) {
      std::string image(kImageBytes, '\0');
      for (char& c : image)
        c = static_cast<char>(random());
      const std::string name = "img/" + std::to_string(i) + ".jpg";
      test_servers::writeFile(made->www.path() / name, image);
      made->imageUrls.push_back(made->nginx->url("/" + name));
      page += "<h3 class=\"headingBase headingM\">壁纸" + std::to_string(i) + "</h3>\n";
      page += "<a class=\"navigationLink\" href=\"" + made->imageUrls.back() + "\">立即获取</a>\n";
    }
    page += "</body></html>\n";
    test_servers::writeFile(made->www.path() / "gallery.html", page);
    made->pageUrl = made->nginx->url("/gallery.html");
    theGallery = std::move(made);
  }
  return *theGallery;
}

// Writes back what earlier iterations (and the gallery's making) left dirty,
// so that no iteration pays for another's files.
void settleDisk() {
  ::sync();
}

Text benchPageUrl;
double runMedianMs = 0;
double curlMedianMs = 0;
double runPeakMiB = 0;
double idleMiB = 0;
double curlPeakMiB = 0;
double worstUiGapMs = 0;
double worstUiBusyMs = 0;
double idleUiGapMs = 0;

double threadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// CPU time of this process, all its threads.
double processCpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto ms = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
  };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

void ensureWindow() {
  static bool made = false;
  if (made) return;
  static int argc = 1;
  static char name[] = "run_bench";
  static char* argv[] = {name, nullptr};
  initRuntime(argc, argv);
  createMainWindow({[] { onStartStopClickedFor(benchPageUrl); }, onMainWindowClosing,
                    onWallpaperListDoubleClicked});
  controlEntry(Control::threadCountEdit).widget->setProperty("text", QString::number(kThreads));
  qobject_cast<QAbstractButton*>(controlEntry(Control::fastModeRadio).widget.data())->click();
  if (textToInt(getEditText(Control::threadCountEdit)) != kThreads ||
      isRadioChecked(Control::saverModeRadio)) {
    std::fputs("run_bench: the window did not take the thread count or the mode\n", stderr);
    std::_Exit(1);
  }
  made = true;
}

// Answers the folder picker with folder once it is open; answered() runs just
// before the answer, which is where the run begins.
void answerFolderPicker(const std::string& folder, const std::function<void()>& answered) {
  auto* timer = new QTimer(QApplication::instance());
  timer->setInterval(1);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, folder, answered] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    timer->stop();
    timer->deleteLater();
    answered();
    dialog->setDirectory(QString::fromStdString(folder));
    dialog->findChild<QDialogButtonBox*>("buttonBox")->button(QDialogButtonBox::Open)->click();
  });
  timer->start();
}

QMessageBox* openMessageBox() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->objectName() == QStringLiteral("messageBox") && w->isVisible())
      return qobject_cast<QMessageBox*>(w);
  }
  return nullptr;
}

// Watches the user interface thread with a 1 ms timer. The largest
// wall-clock gap between its ticks is how long that thread was kept from its
// events, waiting for a processor included; the largest amount of that
// thread's own processor time between two ticks is how long work on it kept
// it busy.
class UiWatch {
 public:
  UiWatch() {
    ticker_.setTimerType(Qt::PreciseTimer);
    ticker_.setInterval(1);
    QObject::connect(&ticker_, &QTimer::timeout, [this] {
      worstGapMs_ = std::max(worstGapMs_, static_cast<double>(sinceTick_.nsecsElapsed()) / 1e6);
      sinceTick_.restart();
      const double busy = threadCpuMs();
      worstBusyMs_ = std::max(worstBusyMs_, busy - busyAtTick_);
      busyAtTick_ = busy;
    });
  }
  void start() {
    sinceTick_.start();
    busyAtTick_ = threadCpuMs();
    ticker_.start();
  }
  void stop() { ticker_.stop(); }
  [[nodiscard]] double worstGapMs() const { return worstGapMs_; }
  [[nodiscard]] double worstBusyMs() const { return worstBusyMs_; }

 private:
  QTimer ticker_;
  QElapsedTimer sinceTick_;
  double busyAtTick_ = 0;
  double worstGapMs_ = 0;
  double worstBusyMs_ = 0;
};

struct Timed {
  double ms = 0;
  double cpuMs = 0;  // processor time of every thread involved
};

// One run from the folder picker's answer to the completion message, which it
// dismisses; watch, when given, watches the user interface thread meanwhile.
Timed wholeRun(UiWatch* watch) {
  Gallery& g = gallery();
  ensureWindow();
  benchPageUrl = utf8ToText(g.pageUrl);
  settleDisk();
  ReadableFolder out;
  std::chrono::steady_clock::time_point start;
  double cpuAtStart = 0;
  answerFolderPicker(out.path().string(), [&] {
    start = std::chrono::steady_clock::now();
    cpuAtStart = processCpuMs();
  });
  // The click returns once the picker is gone and the run has started.
  qobject_cast<QAbstractButton*>(controlEntry(Control::startStopButton).widget.data())->click();
  if (watch != nullptr) watch->start();
  while (openMessageBox() == nullptr)
    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  Timed timed;
  timed.ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  timed.cpuMs = processCpuMs() - cpuAtStart;
  if (watch != nullptr) watch->stop();
  openMessageBox()->button(QMessageBox::Ok)->click();
  while (getButtonCaption(Control::startStopButton) != "开始下载"_t)
    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  return timed;
}

// curl fetching every image of the gallery, kThreads at a time, with onWait
// called while it runs; nullopt when curl fails.
std::optional<ChildRun> curlParallel(void (*onWait)()) {
  Gallery& g = gallery();
  settleDisk();
  ReadableFolder out;
  std::string config;
  for (std::size_t i = 0; i < g.imageUrls.size(); ++i) {
    config += "url = \"" + g.imageUrls[i] + "\"\n";
    config += "output = \"" + (out.path() / (std::to_string(i) + ".jpg")).string() + "\"\n";
  }
  const std::string configPath = (out.path() / "urls.conf").string();
  test_servers::writeFile(configPath, config);
  const std::vector<std::string> args = {
      "curl", "-s", "--parallel", "--parallel-max", std::to_string(kThreads), "-K", configPath};
  const ChildRun run = runChildWhile(args, onWait);
  if (!run.ok) return std::nullopt;
  return run;
}

// Each iteration times a whole run and then curl over the same addresses, so
// that both meet the same load on a shared machine; the figures are medians.
// The iteration's time is the run's.
// The process's peak over all the runs is set against its memory with the
// window made and no run yet: freed download buffers stay with the allocator,
// so a later run's own peak would say little.
void BM_RunBesideCurl(benchmark::State& state) {
  gallery();
  ensureWindow();
  idleMiB = currentRssMiB();
  if (!resetPeakRss()) {
    state.SkipWithError("the peak memory cannot be reset here");
    return;
  }
  std::vector<double> runMs, curlMs, runCpu, curlCpu, curlPeaks;
  for (auto _ : state) {
    const Timed run = wholeRun(nullptr);
    // Watched every millisecond for its memory.
    const std::optional<ChildRun> curl = curlParallel([] {
      const timespec millisecond{0, 1000000};
      nanosleep(&millisecond, nullptr);
    });
    if (!curl) {
      state.SkipWithError("curl failed");
      return;
    }
    state.SetIterationTime(run.ms / 1e3);
    runMs.push_back(run.ms);
    curlMs.push_back(curl->wallMs);
    runCpu.push_back(run.cpuMs);
    curlCpu.push_back(curl->cpuMs);
    curlPeaks.push_back(curl->peakRssMiB);
  }
  runMedianMs = median(runMs);
  curlMedianMs = median(curlMs);
  runPeakMiB = peakRssMiB();
  curlPeakMiB = *std::max_element(curlPeaks.begin(), curlPeaks.end());
  state.counters["run_ms"] = runMedianMs;
  state.counters["curl_ms"] = curlMedianMs;
  state.counters["run_cpu_ms"] = median(runCpu);
  state.counters["curl_cpu_ms"] = median(curlCpu);
  state.counters["run_peak_MiB"] = runPeakMiB;
  state.counters["curl_peak_MiB"] = curlPeakMiB;
  state.SetBytesProcessed(state.iterations() * kImages * static_cast<std::int64_t>(kImageBytes));
}

// Whole runs with the user interface thread watched; the watch's own ticks
// cost time, so these runs are not the ones timed above. After each, the idle
// window is watched while curl fetches the same images, which gives what the
// machine alone does to the thread's ticks under the same network and disk load.
void BM_WholeRunWatched(benchmark::State& state) {
  UiWatch duringRuns;
  UiWatch idle;
  for (auto _ : state) {
    state.SetIterationTime(wholeRun(&duringRuns).ms / 1e3);
    idle.start();
    const std::optional<ChildRun> curl =
        curlParallel([] { QApplication::processEvents(QEventLoop::WaitForMoreEvents); });
    idle.stop();
    if (!curl) {
      state.SkipWithError("curl failed");
      return;
    }
  }
  worstUiGapMs = duringRuns.worstGapMs();
  worstUiBusyMs = duringRuns.worstBusyMs();
  idleUiGapMs = idle.worstGapMs();
  state.counters["ui_max_gap_ms"] = worstUiGapMs;
  state.counters["ui_max_busy_ms"] = worstUiBusyMs;
  state.counters["idle_max_gap_ms"] = idleUiGapMs;
}

BENCHMARK(BM_RunBesideCurl)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(9);
BENCHMARK(BM_WholeRunWatched)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const NoProxyEnvironment noProxy;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (curlMedianMs > 0) {
    printFigure("whole run, 200 images of 1 MiB, 10 threads", runMedianMs,
                "curl --parallel --parallel-max 10, same images", curlMedianMs, "ms");
    printFigure("peak memory over 9 runs", runPeakMiB, "the program's window before any run",
                idleMiB, "MiB");
    printFigure("peak memory over 9 runs", runPeakMiB, "curl --parallel's peak", curlPeakMiB,
                "MiB");
  }
  if (idleUiGapMs > 0) {
    printFigure("user interface thread's longest stall during a run", worstUiGapMs,
                "the idle window while curl --parallel fetches the same images", idleUiGapMs, "ms");
  }
  theGallery.reset();  // stops nginx
  // The window and the run-time layer are never torn down; end like the program.
  std::fflush(stdout);
  std::_Exit(0);
}
