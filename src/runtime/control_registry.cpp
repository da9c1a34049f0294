#include "runtime/control_registry.h"

#include <array>
#include <atomic>

#include "runtime/threads.h"

namespace {

constexpr std::size_t kControlCount = static_cast<std::size_t>(Control::modeLabel) + 1;

std::array<ControlEntry, kControlCount> entries;
std::atomic<bool> tornDown{false};

void fatalReport(const Text& message) {
  fatalErrorMessage(message);
}
std::atomic<MissingControlReport> missingReport{&fatalReport};

}  // namespace

void registerMainWindow(QWidget* window) {
  entries.fill(ControlEntry{});
  entries[static_cast<std::size_t>(Control::mainWindow)].widget = window;
  tornDown.store(false);
}

void registerControl(Control control, QWidget* widget, const Text& kept) {
  ControlEntry& entry = controlEntry(control);
  entry.widget = widget;
  entry.kept = kept;
  entry.disabled = widget != nullptr && !widget->isEnabled();
}

void beginWindowTeardown() {
  tornDown.store(true);
}

bool windowTornDown() {
  return tornDown.load();
}

QWidget* findMainWindow() {
  if (tornDown.load()) return nullptr;
  return entries[static_cast<std::size_t>(Control::mainWindow)].widget.data();
}

ControlEntry& controlEntry(Control control) {
  return entries[static_cast<std::size_t>(control)];
}

void setMissingControlReport(MissingControlReport report) {
  missingReport.store(report != nullptr ? report : &fatalReport);
}

void reportMissingControl(const Text& message) {
  missingReport.load()(message);
}
