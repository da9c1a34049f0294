// The registry through which the control operations find the main window and
// its controls, with the state they keep beside the widgets.
//
// The main window fills it when it is made. Everything here but
// windowTornDown and setMissingControlReport belongs to the user interface
// thread.
#pragma once

#include <QPointer>
#include <QWidget>

#include "runtime/controls.h"
#include "text/text.h"

struct ControlEntry {
  QPointer<QWidget> widget;
  Text kept;              // a button's caption, a label's text, an edit's last read text
  bool disabled = false;  // as last set, also when the widget is gone
};

// Starts a new main window: forgets every control of an earlier one and ends a
// teardown. The window itself is registered as Control::mainWindow.
void registerMainWindow(QWidget* window);
// Registers one control of the current main window with its starting kept text.
void registerControl(Control control, QWidget* widget, const Text& kept = Text());
// Called when the main window starts closing, after its closing handler: from
// then on every control operation quietly does nothing.
void beginWindowTeardown();
// Any thread.
[[nodiscard]] bool windowTornDown();

// The registered main window while it exists and is not torn down, else null.
[[nodiscard]] QWidget* findMainWindow();
// The control's entry; its widget may be null.
[[nodiscard]] ControlEntry& controlEntry(Control control);

// What a missing window or control reports. By default the run-time fatal
// error, which ends the process; tests put a recorder in its place. Any thread.
using MissingControlReport = void (*)(const Text& message);
void setMissingControlReport(MissingControlReport report);
void reportMissingControl(const Text& message);
