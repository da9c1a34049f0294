// A whole run in fast mode with 10 threads over 200 images of 1 MiB from nginx
// on loopback, started from the real window, beside curl fetching the same
// addresses 10 at a time. Also records the longest time the user interface
// thread stayed away from its event loop during the run.
//
// Run: build/release/bench/run_bench (needs nginx and curl; QT_QPA_PLATFORM
// defaults to offscreen). Prints both times and their ratio at the end.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "run/local_servers.h"
#include "runtime/control_registry.h"
#include "runtime/controls.h"
#include "runtime/threads.h"
#include "text/encoding.h"
#include "ui/handlers.h"
#include "ui/main_window.h"

extern char** environ;

namespace {

constexpr int kImages = 200;
constexpr std::size_t kImageBytes = 1 << 20;
constexpr int kThreads = 10;

using test_servers::NginxServer;
using test_servers::TempFolder;

struct Gallery {
  TempFolder www;
  std::unique_ptr<NginxServer> nginx;
  std::vector<std::string> imageUrls;
  std::string pageUrl;
};

Gallery& gallery() {
  static Gallery* g = [] {
    auto* made = new Gallery;
    std::mt19937 random(42);
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
    return made;
  }();
  return *g;
}

Text benchPageUrl;
double runSeconds = 0;
double curlSeconds = 0;
double worstUiGapMs = 0;

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

void answerFolderPicker(const std::string& folder) {
  auto* timer = new QTimer(QApplication::instance());
  timer->setInterval(1);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, folder] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    timer->stop();
    timer->deleteLater();
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

void BM_WholeRun(benchmark::State& state) {
  Gallery& g = gallery();
  ensureWindow();
  benchPageUrl = utf8ToText(g.pageUrl);
  double total = 0;
  for (auto _ : state) {
    TempFolder out;
    // A 1 ms timer's largest gap between ticks: how long the user interface
    // thread was kept from its events.
    QElapsedTimer sinceTick;
    double worstGap = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      worstGap = std::max(worstGap, static_cast<double>(sinceTick.nsecsElapsed()) / 1e6);
      sinceTick.restart();
    });
    answerFolderPicker(out.path().string());
    const auto start = std::chrono::steady_clock::now();
    sinceTick.start();
    ticker.start();
    qobject_cast<QAbstractButton*>(controlEntry(Control::startStopButton).widget.data())->click();
    while (openMessageBox() == nullptr)
      QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ticker.stop();
    state.SetIterationTime(seconds);
    total += seconds;
    worstUiGapMs = std::max(worstUiGapMs, worstGap);
    openMessageBox()->button(QMessageBox::Ok)->click();
    while (getButtonCaption(Control::startStopButton) != "开始下载"_t)
      QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  runSeconds = total / static_cast<double>(state.iterations());
  state.counters["ui_max_gap_ms"] = worstUiGapMs;
  state.SetBytesProcessed(state.iterations() * kImages * static_cast<std::int64_t>(kImageBytes));
}

void BM_CurlParallel(benchmark::State& state) {
  Gallery& g = gallery();
  double total = 0;
  for (auto _ : state) {
    TempFolder out;
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
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0) {
      state.SkipWithError("curl cannot be started");
      return;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(seconds);
    total += seconds;
  }
  curlSeconds = total / static_cast<double>(state.iterations());
  state.SetBytesProcessed(state.iterations() * kImages * static_cast<std::int64_t>(kImageBytes));
}

BENCHMARK(BM_WholeRun)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_CurlParallel)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (runSeconds > 0 && curlSeconds > 0) {
    std::printf(
        "whole run %.1f ms, curl --parallel %.1f ms, ratio %.3f; longest user interface gap %.1f "
        "ms\n",
        runSeconds * 1e3, curlSeconds * 1e3, runSeconds / curlSeconds, worstUiGapMs);
  }
  // The window and the run-time layer are never torn down; end like the program.
  std::fflush(stdout);
  std::_Exit(0);
}
