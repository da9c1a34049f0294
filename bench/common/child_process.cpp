#include "common/child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

extern char** environ;

namespace {

double ms(const timeval& t) {
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
}

// A "Vm...:   N kB" line of a /proc/.../status file, in MiB; 0 when absent.
double statusMiB(const std::string& file, const std::string& key) {
  std::ifstream status(file);
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(key + ":", 0) == 0) return std::stod(line.substr(key.size() + 1)) / 1024;
  }
  return 0;
}

ChildRun spawnAndWait(const std::vector<std::string>& args, void (*onWait)()) {
  std::vector<std::string> copies = args;
  std::vector<char*> argv;
  for (std::string& a : copies)
    argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
  ChildRun run;
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&quiet);
  if (spawned != 0) return run;

  int status = 0;
  rusage usage{};
  const std::string statusFile = "/proc/" + std::to_string(pid) + "/status";
  for (;;) {
    const pid_t done = wait4(pid, &status, onWait != nullptr ? WNOHANG : 0, &usage);
    if (done == pid) break;
    if (done < 0) return run;
    run.peakRssMiB = std::max(run.peakRssMiB, statusMiB(statusFile, "VmHWM"));
    onWait();
  }
  run.wallMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  run.cpuMs = ms(usage.ru_utime) + ms(usage.ru_stime);
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

}  // namespace

ChildRun runChild(const std::vector<std::string>& args) {
  return spawnAndWait(args, nullptr);
}

ChildRun runChildWhile(const std::vector<std::string>& args, void (*onWait)()) {
  return spawnAndWait(args, onWait);
}

double currentRssMiB() {
  return statusMiB("/proc/self/status", "VmRSS");
}

double peakRssMiB() {
  return statusMiB("/proc/self/status", "VmHWM");
}

bool resetPeakRss() {
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5";
  clear.flush();
  return clear.good();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

void printFigure(const std::string& what, double value, const std::string& reference,
                 double referenceValue, const std::string& unit) {
  std::printf("figure: %s | %.1f %s | %s | %.1f %s | %.2f\n", what.c_str(), value, unit.c_str(),
              reference.c_str(), referenceValue, unit.c_str(),
              referenceValue > 0 ? value / referenceValue : 0.0);
  std::fflush(stdout);
}
