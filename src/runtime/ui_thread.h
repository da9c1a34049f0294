// The bridge from any thread to the user interface thread.
#pragma once

#include <functional>

// True on the thread that runs the Qt application (or when there is none yet).
[[nodiscard]] bool isUiThread();
// Runs fn on the user interface thread and returns when it has run: a direct
// call on that thread; from any other, a call queued to it while the caller
// waits. Without a Qt application fn runs directly. Any thread.
void runOnUiThread(const std::function<void()>& fn);
// Queues fn to run on the user interface thread later, in order with the calls
// above, and returns at once. Without a Qt application fn runs directly. Any
// thread.
void postToUiThread(std::function<void()> fn);
