// Throughput of the gallery page parser on synthetic pages of 1, 8 and 64 MiB
// with one wallpaper per 2 KiB: cutting the page into lines plus the title and
// image-link passes, as a run does them.
//
//   parser_bench [benchmark flags]      runs the benchmarks
//   parser_bench --write-page FILE      writes the 64 MiB page to FILE and exits
//
// BM_ParseBesideGrep times the parser and `grep -c -i -F` for the title marker
// over the same 64 MiB page in turn and prints the figure line.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <string>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "common/child_process.h"
#include "run/parser.h"
#include "text/encoding.h"

namespace {

constexpr std::size_t kMiB = 1024 * 1024;
constexpr std::size_t kBlockSize = 2048;

// One wallpaper's markup, about 2 KiB in code page 936, numbered n.
std::string wallpaperBlock(std::int64_t n) {
  static const std::string filler = utf8ToText(
                                        "这是一张高分辨率的桌面壁纸，展示了自然风光与城市夜景，"
                                        "适合宽屏显示器使用。")
                                        .str();
  static const std::string title = utf8ToText("主题壁纸 第").str();
  static const std::string titleEnd = utf8ToText("张 &amp; 风景").str();
  static const std::string label = utf8ToText("立即获取").str();
  static const std::string more = utf8ToText("查看更多").str();
  static const std::string tags = utf8ToText("<li>风景</li><li>自然</li><li>4K</li>").str();
  const std::string id = std::to_string(n);
  std::string b;
  b += "<div class=\"wallpaperItem\" data-index=\"" + id + "\">\n";
  b += "  <div class=\"imageContainer\"><img src=\"https://img.example/thumbs/" + id +
       ".jpg\" alt=\"\" loading=\"lazy\"></div>\n";
  b += "  <h2 class=\"headingBase headingM\">" + title + id + titleEnd + "</h2>\n";
  b += "  <ul class=\"tagList\">" + tags + "</ul>\n";
  b += "  <a class=\"navigationLink\" href=\"https://img.example/wallpapers/" + id + ".jpg\">" +
       label + "</a>\n";
  b += "  <a class=\"navigationLink secondary\" href=\"https://img.example/sets/" + id + "\">" +
       more + "</a>\n";
  b += "  <p class=\"bodyText\">";
  while (b.size() + filler.size() + 12 < kBlockSize)
    b += filler;
  b += "</p>\n</div>\n";
  b.resize(kBlockSize - 1, ' ');
  b += '\n';
  return b;
}

std::string makePage(std::size_t mib) {
  std::string page = "<html><head><title>wallpapers</title></head><body>\n";
  page.reserve(mib * kMiB + kBlockSize);
  for (std::int64_t n = 1; page.size() + kBlockSize + 16 <= mib * kMiB; ++n)
    page += wallpaperBlock(n);
  page += "</body></html>\n";
  return page;
}

const Text& pageOf(std::size_t mib) {
  static std::map<std::size_t, Text> pages;
  auto it = pages.find(mib);
  if (it == pages.end()) it = pages.emplace(mib, Text(makePage(mib))).first;
  return it->second;
}

// The title pass and then the image-link pass over all lines, as a run makes
// them; the number of titles found.
std::size_t runPasses(const TextArray& lines) {
  TextArray titles;
  TextArray urls;
  for (const Text& line : lines)
    collectTitle(line, titles);
  for (const Text& line : lines)
    collectImageUrl(line, urls);
  benchmark::DoNotOptimize(urls.data());
  return titles.size();
}

void BM_ParsePage(benchmark::State& state) {
  const Text& page = pageOf(static_cast<std::size_t>(state.range(0)));
  std::size_t found = 0;
  for (auto _ : state) {
    const TextArray lines = splitPageIntoLines(page);
    found = runPasses(lines);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(page.str().size()));
  state.counters["wallpapers"] = static_cast<double>(found);
}
BENCHMARK(BM_ParsePage)->Arg(1)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond);

void releaseFreedMemory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

// As above, but with the freed memory handed back to the system before each
// pass, as a run parses its page once in memory it has not touched yet. Where
// first-touch page faults are dear this, not the scan, sets the pace.
void BM_ParsePageFreshMemory(benchmark::State& state) {
  const Text& page = pageOf(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    releaseFreedMemory();
    state.ResumeTiming();
    const TextArray lines = splitPageIntoLines(page);
    runPasses(lines);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(page.str().size()));
}
BENCHMARK(BM_ParsePageFreshMemory)->Arg(1)->Arg(8)->Arg(64)->Unit(benchmark::kMillisecond);

// The two parts of the first apart, to see where the time goes.
void BM_CutLines(benchmark::State& state) {
  const Text& page = pageOf(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    const TextArray lines = splitPageIntoLines(page);
    benchmark::DoNotOptimize(lines.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(page.str().size()));
}
BENCHMARK(BM_CutLines)->Arg(64)->Unit(benchmark::kMillisecond);

void BM_Passes(benchmark::State& state) {
  const Text& page = pageOf(static_cast<std::size_t>(state.range(0)));
  const TextArray lines = splitPageIntoLines(page);
  for (auto _ : state) {
    runPasses(lines);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(page.str().size()));
}
BENCHMARK(BM_Passes)->Arg(64)->Unit(benchmark::kMillisecond);

bool writePage(const char* path) {
  const std::string& page = pageOf(64).str();
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) {
    std::perror(path);
    return false;
  }
  const bool ok = std::fwrite(page.data(), 1, page.size(), file) == page.size();
  if (std::fclose(file) != 0 || !ok) {
    std::perror(path);
    return false;
  }
  return true;
}

double parseMs = 0;
double grepMs = 0;

// The parser in fresh memory, as a run meets it, and then grep over the same
// page from the page cache, in every iteration, so that load from elsewhere
// hits both alike. The iteration's time is the parser's.
void BM_ParseBesideGrep(benchmark::State& state) {
  char path[] = "/tmp/parser_bench_page_XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0 || ::close(fd) != 0 || !writePage(path)) {
    state.SkipWithError("cannot write the page");
    return;
  }
  const Text& page = pageOf(64);
  std::vector<double> parser, grep;
  for (auto _ : state) {
    releaseFreedMemory();
    const auto start = std::chrono::steady_clock::now();
    {
      const TextArray lines = splitPageIntoLines(page);
      runPasses(lines);
    }
    parser.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
    const ChildRun reference = runChild({"grep", "-c", "-i", "-F", "headingBase headingM", path});
    if (!reference.ok) {
      state.SkipWithError("grep failed");
      break;
    }
    grep.push_back(reference.wallMs);
    state.SetIterationTime(parser.back() / 1e3);
  }
  std::remove(path);
  parseMs = median(parser);
  grepMs = median(grep);
  state.counters["parser_ms"] = parseMs;
  state.counters["grep_ms"] = grepMs;
}
BENCHMARK(BM_ParseBesideGrep)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(9);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--write-page") == 0) return writePage(argv[2]) ? 0 : 1;
#if defined(__GLIBC__)
  // Keep freed memory in the process, so that the plain benchmarks measure the
  // scan in warm memory whatever glibc's trimming heuristics would do.
  mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, std::numeric_limits<int>::max());
#endif
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (grepMs > 0)
    printFigure("parsing a 64 MiB page", parseMs, "grep -c -i -F over the same file", grepMs, "ms");
  return 0;
}
