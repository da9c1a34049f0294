// A 16 MiB body over loopback: httpReadFile against the curl command fetching
// the same address beside it.
//
//   BM_HttpReadFile  the download through httpReadFile, wall time
//   BM_CurlCommand   `curl -s -o /dev/null`, its own transfer time (time_total)
//   BM_CurlProcess   the same command, wall time of the child, start-up included
//   BM_SideBySide    both in turn in every iteration, so that load from other
//                    processes hits both alike; counters give each one's
//                    average and the ratio, and the figure line
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "common/child_process.h"
#include "runtime/internet.h"
#include "support/environment.h"
#include "support/test_server.h"

namespace {

constexpr std::size_t kBodyBytes = std::size_t{16} << 20;

TestServer& server() {
  static TestServer instance(answerWith(
      httpAnswer("HTTP/1.1 200 OK", std::string(kBodyBytes, 'w'), "Content-Type: image/jpeg\r\n")));
  return instance;
}

std::string address() {
  return server().url("/wallpaper.jpg");
}

// Runs the curl command; its time_total in seconds, or a negative value when it
// did not fetch the whole body.
double runCurl() {
  const std::string command =
      "curl -s -o /dev/null -w '%{time_total} %{size_download}' '" + address() + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  double seconds = -1;
  double size = 0;
  const int read = std::fscanf(pipe, "%lf %lf", &seconds, &size);
  if (pclose(pipe) != 0 || read != 2 || size != static_cast<double>(kBodyBytes)) return -1;
  return seconds;
}

// Seconds taken by one httpReadFile, or a negative value on a short download.
double runHttpReadFile() {
  const Text url(address());
  const auto start = std::chrono::steady_clock::now();
  const Bytes body = httpReadFile(url);
  const std::chrono::duration<double> taken = std::chrono::steady_clock::now() - start;
  return body.str().size() == kBodyBytes ? taken.count() : -1;
}

void BM_HttpReadFile(benchmark::State& state) {
  const NoProxyEnvironment noProxy;
  for (auto _ : state)
    if (runHttpReadFile() < 0) state.SkipWithError("short download");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBodyBytes));
}

void BM_CurlCommand(benchmark::State& state) {
  const NoProxyEnvironment noProxy;
  for (auto _ : state) {
    const double seconds = runCurl();
    if (seconds < 0) state.SkipWithError("curl failed");
    state.SetIterationTime(seconds);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBodyBytes));
}

void BM_CurlProcess(benchmark::State& state) {
  const NoProxyEnvironment noProxy;
  for (auto _ : state)
    if (runCurl() < 0) state.SkipWithError("curl failed");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBodyBytes));
}

double oursMedianMs = 0;
double curlMedianMs = 0;

// The order alternates, so that neither always runs right after the other.
void BM_SideBySide(benchmark::State& state) {
  const NoProxyEnvironment noProxy;
  std::vector<double> ours, curl;
  bool oursFirst = true;
  for (auto _ : state) {
    double oursSeconds = oursFirst ? runHttpReadFile() : 0;
    const double curlSeconds = runCurl();
    if (!oursFirst) oursSeconds = runHttpReadFile();
    if (oursSeconds < 0 || curlSeconds < 0) {
      state.SkipWithError("download failed");
      return;
    }
    ours.push_back(1000 * oursSeconds);
    curl.push_back(1000 * curlSeconds);
    oursFirst = !oursFirst;
  }
  oursMedianMs = median(ours);
  curlMedianMs = median(curl);
  state.counters["httpReadFile_ms"] = oursMedianMs;
  state.counters["curl_ms"] = curlMedianMs;
}

BENCHMARK(BM_HttpReadFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_CurlCommand)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_CurlProcess)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SideBySide)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(100);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (curlMedianMs > 0)
    printFigure("one 16 MiB download", oursMedianMs, "curl's own transfer time", curlMedianMs,
                "ms");
  return 0;
}
