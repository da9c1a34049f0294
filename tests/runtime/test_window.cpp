#include "runtime/test_window.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "runtime/control_registry.h"
#include "runtime/threads.h"
#include "text/encoding.h"

void ensureApplication() {
  static int argc = 1;
  static char name[] = "runtime_tests";
  static char* argv[] = {name, nullptr};
  if (QCoreApplication::instance() != nullptr) return;
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  initRuntime(argc, argv);
}

TestWindow::TestWindow()
    : window((ensureApplication(), new QWidget())),
      button(new QPushButton(QStringLiteral("start"), window)),
      label(new TextLabel(Qt::AlignHCenter, window)),
      edit(new QLineEdit(QStringLiteral("10"), window)),
      arrows(new QWidget(window)),
      list(new QListWidget(window)),
      saver(new QRadioButton(QStringLiteral("saver"), window)),
      fast(new QRadioButton(QStringLiteral("fast"), window)),
      bar(new QProgressBar(window)),
      picture(new PictureBox(window)) {
  window->resize(576, 400);
  list->setGeometry(24, 16, 328, 100);
  picture->setGeometry(368, 224, 184, 120);
  bar->setRange(0, 1000);
  bar->setValue(0);
  saver->setChecked(true);
  registerMainWindow(window);
  registerControl(Control::startStopButton, button, "start"_t);
  registerControl(Control::statusLabel, label);
  registerControl(Control::threadCountEdit, edit, "10"_t);
  registerControl(Control::threadCountSpin, arrows);
  registerControl(Control::wallpaperList, list);
  registerControl(Control::saverModeRadio, saver);
  registerControl(Control::fastModeRadio, fast);
  registerControl(Control::progressBar, bar);
  registerControl(Control::previewBox, picture);
  window->show();
}

TestWindow::~TestWindow() {
  beginWindowTeardown();
  delete window;
}

bool pumpUntil(const std::function<bool()>& done) {
  QDeadlineTimer deadline(30000);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    // The condition may change on another thread without an event here.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

namespace {

std::mutex reportsMutex;
std::vector<std::string> reports;  // guarded by reportsMutex

void recordReport(const Text& message) {
  std::lock_guard guard(reportsMutex);
  reports.push_back(textToUtf8(message));
}

}  // namespace

MissingReports::MissingReports() {
  std::lock_guard guard(reportsMutex);
  reports.clear();
  setMissingControlReport(&recordReport);
}

MissingReports::~MissingReports() {
  setMissingControlReport(nullptr);
}

std::vector<std::string> MissingReports::messages() const {
  std::lock_guard guard(reportsMutex);
  return reports;
}

std::vector<std::string> entryTexts(const QListWidget* list) {
  std::vector<std::string> texts;
  for (int i = 0; i < list->count(); ++i)
    texts.push_back(list->item(i)->text().toStdString());
  return texts;
}
