// A gallery page as a run parses it: cut into lines, the title and image-link
// passes over every line, and every title cleaned into a file name.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "run/parser.h"
#include "text/markers.h"

using fuzz_check::hasAtCharStart;
using fuzz_check::hasSingleByteChar;
using fuzz_check::isSubstring;

namespace {

constexpr std::string_view kUnsafe = "?\\/<>|\"*:";

void checkLines(const Text& page, const TextArray& lines) {
  // The one-walk cutting must equal its definition: a break before every "<",
  // then the split at the breaks.
  FUZZ_CHECK(lines == splitText(replaceText(page, Text("<"), Text("\r\n<"), 1), Text("\r\n")));
  for (const Text& line : lines) {
    const std::string_view s = line.str();
    FUZZ_CHECK(!hasAtCharStart(s, "\r\n"));
    // A tag starts only at the front of a line.
    FUZZ_CHECK(!hasSingleByteChar(s.substr(!s.empty() && s[0] == '<' ? 1 : 0), '<'));
  }
}

void checkTitle(const Text& line, const TextArray& titles, std::size_t before) {
  FUZZ_CHECK(titles.size() == before + 1);
  const std::string& title = titles.back().str();
  const std::string& l = line.str();
  // The title is the end of its line.
  FUZZ_CHECK(title.size() <= l.size());
  FUZZ_CHECK(l.compare(l.size() - title.size(), title.size(), title) == 0);

  const Text cleaned = cleanTitle(titles.back());
  const std::string_view c = cleaned.str();
  FUZZ_CHECK(c.size() <= title.size());
  for (char unsafe : kUnsafe)
    FUZZ_CHECK(!hasSingleByteChar(c, unsafe));
  FUZZ_CHECK(cleanTitle(cleaned) == cleaned);
  // A task text is the cleaned title, "|" and the link; cutting it at the first
  // "|" must give the title back, so it must not end in a lone lead byte.
  const TextArray task = splitText(concatText(cleaned, Text("|"), Text("x")), Text("|"));
  FUZZ_CHECK(task.size() == 2 && task[0] == cleaned);
}

void checkImageUrl(const Text& line, const TextArray& urls, std::size_t before) {
  FUZZ_CHECK(urls.size() == before + 1);
  const Text& url = urls.back();
  FUZZ_CHECK(isSubstring(url, line));
  FUZZ_CHECK(trimText(url) == url);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Text page = fuzz_check::textOf(data, size);
  const TextArray lines = splitPageIntoLines(page);
  checkLines(page, lines);

  // The two passes over all lines, in the order a run makes them.
  TextArray titles;
  for (const Text& line : lines) {
    const std::size_t before = titles.size();
    const bool isTitleLine = collectTitle(line, titles);
    FUZZ_CHECK(isTitleLine == (findText(line, Text("headingBase headingM"), 0, 1) != -1));
    if (isTitleLine)
      checkTitle(line, titles, before);
    else
      FUZZ_CHECK(titles.size() == before);
  }
  TextArray urls;
  for (const Text& line : lines) {
    const std::size_t before = urls.size();
    if (collectImageUrl(line, urls))
      checkImageUrl(line, urls, before);
    else
      FUZZ_CHECK(urls.size() == before);
  }
  return 0;
}
