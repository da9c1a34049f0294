// Running a reference command beside a benchmark, and printing a figure.
#pragma once

#include <string>
#include <vector>

struct ChildRun {
  bool ok = false;  // started and exited with status 0
  double wallMs = 0;
  double cpuMs = 0;  // user and system time of the child
  // The child's largest resident set as last seen while it ran; 0 when it
  // was not watched (the kernel's own figure for a spawned child includes the
  // parent's memory, so it is no use).
  double peakRssMiB = 0;
};

// Runs the command (found on PATH) with its output thrown away and waits for
// it; the wall time counts from just before the start to just after the exit.
[[nodiscard]] ChildRun runChild(const std::vector<std::string>& args);

// As runChild, but with onWait called repeatedly until the child has exited
// (it should return within a millisecond or so, e.g. by turning the caller's
// event loop), and with the child's memory watched in between.
[[nodiscard]] ChildRun runChildWhile(const std::vector<std::string>& args, void (*onWait)());

// The process's current and peak resident set from /proc; resetPeakRss makes
// the current one the new peak (false where the kernel does not allow it).
[[nodiscard]] double currentRssMiB();
[[nodiscard]] double peakRssMiB();
bool resetPeakRss();

double median(std::vector<double> values);

// One line that bench/figures.sh collects:
//   figure: WHAT | VALUE UNIT | REFERENCE | REFERENCE_VALUE UNIT | RATIO
void printFigure(const std::string& what, double value, const std::string& reference,
                 double referenceValue, const std::string& unit);
