// The handlers of the main window's three events and the program's entry.
// All of them run on the user interface thread and never wait for a run.
#pragma once

#include "text/text.h"

// A click on the start/stop button: stops the active run, or asks for a folder
// and starts a run that fetches the gallery page.
void onStartStopClicked();
// The same with the gallery page fetched from pageUrl.
void onStartStopClickedFor(const Text& pageUrl);
// The main window is about to be destroyed: stops an active run.
void onMainWindowClosing();
// A double-click in the wallpaper list: previews the selected entry's image
// when its file exists in the folder of the run the list shows.
void onWallpaperListDoubleClicked();

// Starts the run-time layer, opens the main window and runs the event loop
// until the window is gone; then the process ends.
[[noreturn]] void programMain(int& argc, char** argv);
