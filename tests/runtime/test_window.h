// A small stand-in for the main window: one control of each kind, registered
// for the control operations, and helpers to let the user interface thread (the
// test's main thread) work while another thread waits on it.
#pragma once

#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "runtime/picture.h"
#include "runtime/widgets.h"
#include "text/text.h"

// Starts the run-time layer (its QApplication) on first use, unless another test
// already has; the calling (main) thread becomes the user interface thread.
void ensureApplication();

struct TestWindow {
  TestWindow();
  ~TestWindow();
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  QWidget* window;
  QPushButton* button;
  TextLabel* label;
  QLineEdit* edit;
  QWidget* arrows;
  QListWidget* list;
  QRadioButton* saver;
  QRadioButton* fast;
  QProgressBar* bar;
  PictureBox* picture;
};

// Runs the user interface thread's events until done() holds; false when it
// still does not hold after a generous bound.
bool pumpUntil(const std::function<bool()>& done);

// Records what a missing window or control reports instead of ending the
// process, for as long as it lives.
class MissingReports {
 public:
  MissingReports();
  ~MissingReports();
  MissingReports(const MissingReports&) = delete;
  MissingReports& operator=(const MissingReports&) = delete;

  // The messages reported so far, in UTF-8.
  [[nodiscard]] std::vector<std::string> messages() const;
};

// The texts of the list's entries as the widget shows them, in UTF-8.
[[nodiscard]] std::vector<std::string> entryTexts(const QListWidget* list);
