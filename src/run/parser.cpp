#include "run/parser.h"

#include <array>
#include <cstddef>
#include <string_view>

#include "text/encoding.h"
#include "text/markers.h"

namespace {

bool isLead(char c) {
  return static_cast<unsigned char>(c) >= 0x80;
}

// Calls cut(begin, end) for every line, in order. This is the split at "\r\n"
// of the page with "\r\n" put before every "<", done in one walk without the
// intermediate copy: a line ends before each "<" and at each "\r\n" of the page
// that starts at a character, a final empty line is left out, and a lone lead
// byte at the end is dropped as the replacement drops it.
template <typename Cut>
void forEachLine(std::string_view page, Cut&& cut) {
  const std::size_t n = page.size();
  std::size_t line = 0;
  std::size_t i = 0;
  std::size_t end = n;
  while (i < n) {
    const char c = page[i];
    if (c == '<') {
      cut(line, i);
      line = i;
      i += 1;
    } else if (c == '\r' && i + 1 < n && page[i + 1] == '\n') {
      cut(line, i);
      i += 2;
      line = i;
    } else if (isLead(c)) {
      if (i + 1 == n) end = i;
      i += 2;
    } else {
      i += 1;
    }
  }
  if (line < end) cut(line, end);
}

}  // namespace

TextArray splitPageIntoLines(const Text& pageText) {
  const std::string_view page = pageText.str();
  // Counting first sizes the array once: growing it by doubling would touch
  // twice its final memory on a large page.
  std::size_t count = 0;
  forEachLine(page, [&count](std::size_t, std::size_t) { ++count; });
  TextArray lines;
  lines.reserve(count);
  forEachLine(page, [&lines, page](std::size_t begin, std::size_t end) {
    lines.emplace_back(page.substr(begin, end - begin));
  });
  return lines;
}

bool collectTitle(const Text& line, TextArray& titles) {
  static const Text kHeadingMarker("headingBase headingM");
  static const Text kTagEnd(">");
  if (findText(line, kHeadingMarker, 0, 1) == -1) return false;
  const std::int32_t p = findText(line, kTagEnd, 0, 1);
  titles.push_back(textRight(line, textLength(line) - p));
  return true;
}

bool collectImageUrl(const Text& line, TextArray& imageUrls) {
  static const Text kLinkMarker("navigationLink");
  static const Text kJpgMarker(".jpg");
  static const Text kLinkStart("href=\"");
  if (findText(line, kLinkMarker, 0, 1) == -1 || findText(line, kJpgMarker, 0, 1) == -1)
    return false;
  imageUrls.push_back(nthTextBetween(kLinkStart, "\">立即获取"_t, line, 0, 0));
  return true;
}

Text cleanTitle(const Text& title) {
  static constexpr std::array<const char*, 9> kUnsafe = {"?", "\\", "/", "<", ">",
                                                         "|", "\"", "*", ":"};
  Text cleaned = title;
  for (const char* c : kUnsafe)
    cleaned = replaceText(cleaned, Text(c), Text(), 1);
  return cleaned;
}
