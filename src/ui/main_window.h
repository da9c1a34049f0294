// The main window: its twelve controls, their look, the keys, and the three
// events that reach the program's handlers.
#pragma once

struct MainWindowHandlers {
  void (*startStopClicked)() = nullptr;   // a click on the start/stop button
  void (*closing)() = nullptr;            // the window is about to be destroyed
  void (*listDoubleClicked)() = nullptr;  // a double-click in the wallpaper list
};

// Creates and shows the main window, centred, with every control registered for
// the control operations. False when it cannot be made. User interface thread.
bool createMainWindow(const MainWindowHandlers& handlers);
