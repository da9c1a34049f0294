#include "text/markers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string_view>

#include "text/encoding.h"

namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

TEST(TextBetween, TakesTheTextBetweenTwoMarkers) {
  struct Case {
    const char* name;
    Text text;
    Text startMarker;
    Text endMarker;
    std::int32_t start;
    std::int32_t caseSensitive;
    std::string_view expected;
  };
  const Text link("<a HREF=\"x/y.jpg\" href=\"z.jpg\">");
  const Case cases[] = {
      {"cookie of a header line", Text("Set-Cookie: a=1; path=/"), Text("Set-Cookie:"), Text(";"),
       0, 0, " a=1"},
      {"quote notation", link, "href=#引号"_t, "#引号"_t, 0, 0, "x/y.jpg"},
      {"case folded by default", link, Text("href=\""), Text("\""), 0, 0, "x/y.jpg"},
      {"case sensitive", link, Text("href=\""), Text("\""), 0, 1, "z.jpg"},
      {"only bit 0 counts", link, Text("href=\""), Text("\""), 0, 2, "x/y.jpg"},
      {"bit 0 among others", link, Text("href=\""), Text("\""), 0, 3, "z.jpg"},
      {"from a start position", link, Text("href=\""), Text("\""), 5, 0, "z.jpg"},
      {"INT_MIN start", link, Text("href=\""), Text("\""), kMin, 0, "x/y.jpg"},
      {"INT_MAX start", link, Text("href=\""), Text("\""), kMax, 0, ""},
      {"start marker missing", Text("a=1;"), Text("b="), Text(";"), 0, 0, ""},
      {"end marker missing", Text("a=1"), Text("a="), Text(";"), 0, 0, ""},
      {"end marker right after", Text("a=;"), Text("a="), Text(";"), 0, 0, ""},
      {"end marker only before", Text(";a=1"), Text("a="), Text(";"), 0, 0, ""},
      {"empty end marker", Text("a=1;"), Text("a="), Text(), 0, 0, ""},
      {"empty start marker", Text("404 Not Found"), Text(), Text(" "), 0, 0, "404"},
      {"empty text", Text(), Text("a"), Text("b"), 0, 0, ""},
      {"start marker ends the text", Text("xa="), Text("a="), Text(";"), 0, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(textBetween(c.text, c.startMarker, c.endMarker, c.start, c.caseSensitive).str(),
              c.expected);
  }
}

TEST(NthTextBetween, FollowsItsUncheckedPositions) {
  struct Case {
    const char* name;
    Text text;
    Text startMarker;
    std::int32_t occurrence;
    std::int32_t start;
    std::string_view expected;
  };
  const Text href("href=\"");
  const Text two("<a href=\"a.jpg\">立即获取</a> <a HREF=\" b.jpg \">立即获取</a>"_t);
  const Case cases[] = {
      {"one link trimmed", Text("<a href=\" http://x/a.jpg \">立即获取"_t), href, 0, 0,
       "http://x/a.jpg"},
      {"occurrence 1", two, href, 1, 0, "a.jpg"},
      {"occurrence 2 after the first end", two, href, 2, 0, "b.jpg"},
      {"from a start position", two, href, 0, 10, "b.jpg"},
      {"negative occurrence", two, href, -1, 0, ""},
      {"start marker missing", Text("abcdefgh\">立即获取"_t), href, 0, 0, "efgh"},
      {"one-byte start marker missing", Text("abcdefgh\">立即获取"_t), Text("@"), 0, 0, ""},
      {"neither marker", Text("abcdefgh"), href, 0, 0, ""},
      {"end marker missing", Text("<a href=\"a.jpg\">"), href, 0, 0, ""},
      {"end marker directly after", Text("href=\"\">立即获取"_t), href, 0, 0, ""},
      {"INT_MIN start", two, href, 0, kMin, "a.jpg"},
      {"INT_MAX start finds no start marker", two, href, 0, kMax, "ref=\"a.jpg"},
  };
  const Text end("\">立即获取"_t);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(nthTextBetween(c.startMarker, end, c.text, c.occurrence, c.start).str(), c.expected);
  }
}

// The passes written out one by one, to check the shortcut over repeats.
Text passByPass(const Text& startMarker, const Text& endMarker, const Text& text,
                std::int32_t occurrence) {
  Text s;
  std::int32_t start = 0;
  for (std::int32_t k = 0; k < (occurrence == 0 ? 1 : occurrence); ++k) {
    const std::int32_t b = findText(text, startMarker, start, 1);
    const std::int32_t e = findText(text, endMarker, b, 1);
    s = textMid(text, b + textLength(startMarker), e - b - textLength(startMarker));
    start = e;
  }
  return trimText(s);
}

TEST(NthTextBetween, LargeOccurrencesRepeatThePassesInOrder) {
  const Text text("href=\"a\">| href=\"b\">| href=\"c\">|");
  const Text start("href=\"");
  const Text end("\">|");
  for (std::int32_t n = 0; n <= 12; ++n) {
    SCOPED_TRACE(n);
    EXPECT_EQ(nthTextBetween(start, end, text, n).str(), passByPass(start, end, text, n).str());
  }
  // From the second pass on the pieces run b, c, then the one before the first
  // end marker (no start marker follows c), and b again: a period of three.
  EXPECT_EQ(nthTextBetween(start, end, text, kMax).str(), "=\"a");
  EXPECT_EQ(nthTextBetween(start, end, text, kMax - 1).str(), "c");
  EXPECT_EQ(nthTextBetween(start, end, text, kMax - 2).str(), "b");
}

TEST(HeaderPieces, ValueAfterColonAndNameBeforeEquals) {
  struct Case {
    const char* name;
    Text result;
    std::string_view expected;
  };
  const Case cases[] = {
      {"value", valueAfterColon(Text("Location: http://a.example/x")), "http://a.example/x"},
      {"value without colon", valueAfterColon(Text("Location")), ""},
      {"value after a final colon", valueAfterColon(Text("Location:")), ""},
      {"value keeps later colons", valueAfterColon(Text("Date: 12:30 ")), "12:30"},
      {"value keeps a tab", valueAfterColon(Text("a:\tb")), "\tb"},
      {"name", nameBeforeEquals(Text(" sid = 1")), "sid"},
      {"name without equals", nameBeforeEquals(Text(" flag ")), "flag"},
      {"name empty", nameBeforeEquals(Text("=x")), ""},
      {"name before the first equals", nameBeforeEquals(Text("a=b=c")), "a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.result.str(), c.expected);
  }
}

}  // namespace
