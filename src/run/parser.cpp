#include "run/parser.h"

#include <array>

#include "text/encoding.h"
#include "text/markers.h"

TextArray splitPageIntoLines(const Text& pageText) {
  const Text lineBreak("\r\n");
  return splitText(replaceText(pageText, Text("<"), Text("\r\n<"), 1), lineBreak);
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
