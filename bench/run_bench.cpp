// A whole run in fast mode with 10 threads over 200 images of 1 MiB from nginx
// on loopback, started from the real window, beside curl fetching the same
// addresses 10 at a time. Also records the longest time the user interface
// thread stayed away from its event loop during the run.
//
// Run: build/release/bench/run_bench (needs nginx and curl; QT_QPA_PLATFORM
// defaults to offscreen). Prints both times and their ratio at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
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
#include <random>
#include <string>
#include <vector>

#include "run/local_servers.h"
#include "runtime/control_registry.h"
#include "runtime/controls.h"
#include "runtime/threads.h"
#include "support/environment.h"
#include "text/encoding.h"
#include "ui/handlers.h"
#include "ui/main_window.h"

extern char** environ;

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
double runSeconds = 0;
double curlSeconds = 0;
double worstUiGapMs = 0;
double worstUiBusyMs = 0;

double threadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// CPU time of this process (all its threads) or of its waited-for children.
double cpuMs(int who) {
  rusage usage{};
  getrusage(who, &usage);
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

// One run per iteration, from the folder picker's answer to the completion
// message. With state.range(0) set, the user interface thread is watched; the
// watch's own ticks cost time, so the other variant gives the run's time.
void BM_WholeRun(benchmark::State& state) {
  const bool watched = state.range(0) != 0;
  Gallery& g = gallery();
  ensureWindow();
  benchPageUrl = utf8ToText(g.pageUrl);
  UiWatch watch;
  double total = 0;
  double cpu = 0;
  for (auto _ : state) {
    settleDisk();
    ReadableFolder out;
    std::chrono::steady_clock::time_point start;
    double cpuAtStart = 0;
    answerFolderPicker(out.path().string(), [&] {
      start = std::chrono::steady_clock::now();
      cpuAtStart = cpuMs(RUSAGE_SELF);
      if (watched) watch.start();
    });
    qobject_cast<QAbstractButton*>(controlEntry(Control::startStopButton).widget.data())->click();
    while (openMessageBox() == nullptr)
      QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    watch.stop();
    cpu += cpuMs(RUSAGE_SELF) - cpuAtStart;
    state.SetIterationTime(seconds);
    total += seconds;
    openMessageBox()->button(QMessageBox::Ok)->click();
    while (getButtonCaption(Control::startStopButton) != "开始下载"_t)
      QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  if (watched) {
    worstUiGapMs = watch.worstGapMs();
    worstUiBusyMs = watch.worstBusyMs();
    state.counters["ui_max_gap_ms"] = worstUiGapMs;
    state.counters["ui_max_busy_ms"] = worstUiBusyMs;
  } else {
    runSeconds = total / static_cast<double>(state.iterations());
  }
  state.counters["process_cpu_ms"] = cpu / static_cast<double>(state.iterations());
  state.SetBytesProcessed(state.iterations() * kImages * static_cast<std::int64_t>(kImageBytes));
}

void BM_CurlParallel(benchmark::State& state) {
  Gallery& g = gallery();
  double total = 0;
  double cpu = 0;
  for (auto _ : state) {
    settleDisk();
    ReadableFolder out;
    std::string config;
    for (std::size_t i = 0; i < g.imageUrls.size(); ++i) {
      config += "url = \"" + g.imageUrls[i] + "\"\n";
      config += "output = \"" + (out.path() / (std::to_string(i) + ".jpg")).string() + "\"\n";
    }
    const std::string configPath = (out.path() / "urls.conf").string();
    test_servers::writeFile(configPath, config);
    std::vector<std::string> args = {
        "curl", "-s", "--parallel", "--parallel-max", std::to_string(kThreads), "-K", configPath};
    std::vector<char*> argv;
    for (std::string& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    const double cpuBefore = cpuMs(RUSAGE_CHILDREN);
    const auto start = std::chrono::steady_clock::now();
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "curl", &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0) {
      state.SkipWithError("curl cannot be started");
      return;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    total += seconds;
    cpu += cpuMs(RUSAGE_CHILDREN) - cpuBefore;
  }
  state.counters["process_cpu_ms"] = cpu / static_cast<double>(state.iterations());
  curlSeconds = total / static_cast<double>(state.iterations());
  state.SetBytesProcessed(state.iterations() * kImages * static_cast<std::int64_t>(kImageBytes));
}

BENCHMARK(BM_WholeRun)
    ->ArgName("watched")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);
BENCHMARK(BM_CurlParallel)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  const NoProxyEnvironment noProxy;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (runSeconds > 0 && curlSeconds > 0) {
    std::printf(
        "whole run %.1f ms, curl --parallel %.1f ms, ratio %.3f; user interface thread away "
        "from its events at most %.1f ms, busy at most %.1f ms\n",
        runSeconds * 1e3, curlSeconds * 1e3, runSeconds / curlSeconds, worstUiGapMs, worstUiBusyMs);
  }
  theGallery.reset();  // stops nginx
  // The window and the run-time layer are never torn down; end like the program.
  std::fflush(stdout);
  std::_Exit(0);
}
