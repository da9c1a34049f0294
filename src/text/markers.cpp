#include "text/markers.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <unordered_map>

#include "text/encoding.h"

namespace {

std::int32_t clampToInt32(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// textMid with a start and count that may lie outside 32 bits; clamping keeps
// textMid's answer, which only tells below 1, past the end and at most 0 apart.
Text midOf(const Text& text, std::int64_t start, std::int64_t count) {
  return textMid(text, clampToInt32(start), clampToInt32(count));
}

}  // namespace

Text textBetween(const Text& text, const Text& startMarker, const Text& endMarker,
                 std::int32_t start, std::int32_t caseSensitive) {
  const Text quote("\"");
  const Text from = replaceText(startMarker, "#引号"_t, quote, 1);
  const Text to = replaceText(endMarker, "#引号"_t, quote, 1);
  const std::int32_t ignoreCase = (caseSensitive & 1) != 0 ? 0 : 1;
  std::int64_t p = findText(text, from, start, ignoreCase);
  if (p != -1) p += textLength(from);
  const std::int32_t q = findText(text, to, clampToInt32(p), ignoreCase);
  if (p == -1 || q == -1) return Text();
  return midOf(text, p, q - p);
}

Text nthTextBetween(const Text& startMarker, const Text& endMarker, const Text& text,
                    std::int32_t occurrence, std::int32_t start) {
  if (occurrence < 0) return Text();
  const std::int64_t passes = occurrence == 0 ? 1 : occurrence;
  const std::int64_t length = textLength(startMarker);
  // Each pass depends only on its start, so once a start comes round again the
  // passes repeat; jumping over the repeats keeps a huge occurrence cheap.
  std::unordered_map<std::int32_t, std::int64_t> seenAt;
  std::vector<std::int32_t> starts;
  std::int32_t from = start;
  for (std::int64_t k = 0; k < passes - 1; ++k) {
    const auto [seen, isNew] = seenAt.try_emplace(from, k);
    if (!isNew) {
      const std::int64_t first = seen->second;
      const std::int64_t period = k - first;
      from = starts[static_cast<std::size_t>(first + (passes - 1 - first) % period)];
      break;
    }
    starts.push_back(from);
    const std::int32_t b = findText(text, startMarker, from, 1);
    from = findText(text, endMarker, b, 1);
  }
  const std::int64_t b = findText(text, startMarker, from, 1);
  const std::int64_t e = findText(text, endMarker, static_cast<std::int32_t>(b), 1);
  return trimText(midOf(text, b + length, e - b - length));
}

Text valueAfterColon(const Text& text) {
  const std::int32_t p = findText(text, Text(":"), 0, 0);
  if (p == -1) return Text();
  return trimText(textRight(text, textLength(text) - p));
}

Text nameBeforeEquals(const Text& text) {
  const std::int32_t p = findText(text, Text("="), 0, 0);
  if (p == -1) return trimText(text);
  return trimText(textLeft(text, p - 1));
}
