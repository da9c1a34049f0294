// Threads, locks, sleeping, the fatal error and the program's start and end.
//
// Stopping is cooperative: killThread marks the target stopped and returns at
// once. From then on every blocking point of the target (waitThread, sleepMs,
// HTTP transfers, the message box) wakes up at once, and every visible action
// (window operations, startThread, file writes) checks the mark first, so the
// target takes no visible step and unwinds on its own, holding no lock.
#pragma once

#include <cstdint>
#include <stop_token>

#include "text/text.h"

using ThreadHandle = std::int32_t;  // 0 names no thread
using LockHandle = std::int32_t;    // 0 names no lock
using ThreadRoutine = void (*)(std::int32_t argument);

// Starts routine(argument) on a new thread. 0 when no thread could be made or
// when the calling thread has been stopped. Handles stay valid until the end of
// the process. Any thread.
[[nodiscard]] ThreadHandle startThread(ThreadRoutine routine, std::int32_t argument = 0);
// Blocks until that thread has ended; at once when it already has. False at
// once for a handle that names no thread. Wakes (returning false) when the
// calling thread is stopped. Any thread.
bool waitThread(ThreadHandle handle);
// Marks that thread stopped and wakes its blocking points; never waits. True
// when the handle names a thread. Any thread.
bool killThread(ThreadHandle handle);

// The calling thread's stop mark. Threads not made by startThread (the user
// interface thread among them) get a token that is never stopped.
[[nodiscard]] std::stop_token currentStopToken();
[[nodiscard]] bool stopRequested();

// Locks live until the end of the process. Unknown handles are ignored. Any
// thread; the program never nests locks.
[[nodiscard]] LockHandle createLock();
void enterLock(LockHandle lock);
void leaveLock(LockHandle lock);

// Negative counts as 0. Returns early when the calling thread is stopped.
void sleepMs(std::int32_t ms);

// Shows the run-time error box titled "错误" and ends the process with status
// 255 once it is dismissed, without the exit routine. The box is made by the
// user interface thread. Code 10 carries its fixed message.
[[noreturn]] void fatalError(std::int32_t code);
// The run-time layer's own errors: code 0 with the given message.
[[noreturn]] void fatalErrorMessage(const Text& message);

// Start-up and exit, on the user interface thread.
void initRuntime(int& argc, char** argv);
void setExitRoutine(void (*routine)());
// Runs the event loop until the last window of the program is gone, then the
// exit routine once, then ends the process with status 0 without waiting for
// other threads or running static destructors.
[[noreturn]] void runMessageLoop();
