#include "text/text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

Text t(std::string_view bytes) {
  return Text(bytes);
}

// Shows a text's bytes in hex so that a failing row says exactly what came out.
std::string hex(const Text& text) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text.str()) {
    const auto b = static_cast<unsigned char>(c);
    if (!out.empty()) out += ' ';
    out += kDigits[b >> 4];
    out += kDigits[b & 0xF];
  }
  return out;
}

std::vector<std::string> strings(const TextArray& array) {
  std::vector<std::string> out;
  for (const Text& element : array)
    out.push_back(element.str());
  return out;
}

TEST(TextValue, StopsAtTheFirstZeroByte) {
  EXPECT_EQ(Text(std::string_view("ab\0cd", 5)).str(), "ab");
  EXPECT_EQ(Text(std::string("ab\0cd", 5)).str(), "ab");
  EXPECT_EQ(textLength(Text(std::string_view("\0x", 2))), 0);
}

TEST(CompareText, OrdersBytesUnsignedWithPrefixesFirst) {
  struct Case {
    const char* name;
    Text a;
    Text b;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"empty and absent", Text(), t(""), 0},
      {"equal", t("abc"), t("abc"), 0},
      {"smaller byte", t("abb"), t("abc"), -1},
      {"larger byte", t("abd"), t("abc"), 1},
      {"high byte above ASCII", t("\xD6\xD0"), t("z"), 1},
      {"proper prefix", t("ab"), t("abc"), -1},
      {"longer", t("abc"), t("ab"), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(compareText(c.a, c.b), c.expected);
  }
}

TEST(ConcatText, JoinsUpToFourParts) {
  EXPECT_EQ(concatText(t("a"), t(""), t("bc"), t("d")).str(), "abcd");
  EXPECT_EQ(concatText(t(""), t("")).str(), "");
  EXPECT_EQ(concatText(t("x"), t("y")).str(), "xy");
}

TEST(FindText, SearchesByCharactersFromTheStart) {
  struct Case {
    const char* name;
    Text text;
    Text pattern;
    std::int32_t start;
    std::int32_t ignoreCase;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"missing", t("abcdef"), t("xy"), 0, 0, -1},
      {"at the beginning", t("abcdef"), t("ab"), 0, 0, 1},
      {"later", t("abcdef"), t("de"), 0, 0, 4},
      {"start 1 from the first byte", t("abcab"), t("ab"), 1, 0, 1},
      {"negative start from the first byte", t("abcab"), t("ab"), -5, 0, 1},
      {"start at an occurrence finds it", t("abcab"), t("ab"), 4, 0, 4},
      {"start past an occurrence skips it", t("abcab"), t("ab"), 2, 0, 4},
      {"start just past the end", t("abcab"), t("ab"), 6, 0, -1},
      {"INT_MIN start", t("abcab"), t("ab"), kMin, 0, 1},
      {"INT_MAX start", t("abcab"), t("ab"), kMax, 0, -1},
      {"pattern longer than text", t("ab"), t("abc"), 0, 0, -1},
      {"empty text", t(""), t("a"), 0, 0, -1},
      {"empty pattern", t("abc"), t(""), 0, 0, 1},
      {"empty pattern later start still 1", t("abc"), t(""), 3, 0, 1},
      {"empty pattern past the end", t("abc"), t(""), 4, 0, -1},
      {"empty pattern and text", t(""), t(""), 0, 0, -1},
      {"fold AB", t("xAB"), t("ab"), 0, 1, 2},
      {"fold Ab", t("xAb"), t("ab"), 0, 1, 2},
      {"fold aB in pattern", t("xab"), t("aB"), 0, 1, 2},
      {"exact without fold", t("xABab"), t("ab"), 0, 0, 4},
      {"flag 2 is exact", t("xABab"), t("ab"), 0, 2, 4},
      {"fold only ASCII letters", t("x[y"), t("{"), 0, 1, -1},
      {"fold second bytes too", t("\x81\x61"), t("\x81\x41"), 0, 1, 1},
      {"never on a second byte", t("\x81\x41\x41"), t("A"), 0, 0, 3},
      {"after a misaligned byte match", t("\x81\x41\x41\x41"), t("AA"), 0, 0, 3},
      {"only misaligned", t("\x83\x7C"), t("|"), 0, 0, -1},
      {"start on a second byte scans from there", t("\x81\x41\x41"), t("A"), 2, 0, 2},
      {"lone lead byte is tried", t("a\x81"), t("\x81"), 0, 0, 2},
      {"partial match restarts", t("aaaab"), t("aaab"), 0, 0, 2},
      {"repeated prefix", t("abacabab"), t("abab"), 0, 0, 5},
      {"folded first letter", t("xyHeadingBase"), t("headingbase"), 0, 1, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(findText(c.text, c.pattern, c.start, c.ignoreCase), c.expected);
  }
}

TEST(FindText, PatternLongerThanTheInlineTable) {
  const std::string pattern = std::string(70, 'a') + "b";
  const Text text(std::string(100, 'a') + "b");
  EXPECT_EQ(findText(text, Text(pattern)), 31);
  EXPECT_EQ(findText(Text(std::string(100, 'A') + "B"), Text(pattern), 0, 1), 31);
}

TEST(FindLastText, FindsTheLastMatchOfTheWalk) {
  struct Case {
    const char* name;
    Text text;
    Text pattern;
    std::int32_t ignoreCase;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"second of two colons", t("a:b:c"), t(":"), 0, 4},
      {"no colon", t("abc"), t(":"), 0, -1},
      {"overlapping matches", t("aaa"), t("aa"), 0, 2},
      {"not on a second byte", t("A\x81\x41"), t("A"), 0, 1},
      {"folding", t("ab-AB"), t("ab"), 1, 4},
      {"empty pattern", t("abc"), t(""), 0, 1},
      {"empty text", t(""), t(""), 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(findLastText(c.text, c.pattern, c.ignoreCase), c.expected);
  }
}

TEST(TextCuts, CountPlainBytes) {
  struct Case {
    const char* name;
    Text result;
    std::string_view expected;
  };
  const Text abc = t("abc");
  const Text zhongwen = t("\xD6\xD0\xCE\xC4");
  const Case cases[] = {
      {"left 0", textLeft(abc, 0), ""},
      {"left negative", textLeft(abc, -1), ""},
      {"left INT_MIN", textLeft(abc, kMin), ""},
      {"left 2", textLeft(abc, 2), "ab"},
      {"left past the end", textLeft(abc, 4), "abc"},
      {"left INT_MAX", textLeft(abc, kMax), "abc"},
      {"left cuts a character", textLeft(zhongwen, 3), "\xD6\xD0\xCE"},
      {"right 0", textRight(abc, 0), ""},
      {"right INT_MIN", textRight(abc, kMin), ""},
      {"right 2", textRight(abc, 2), "bc"},
      {"right length plus 1", textRight(abc, 4), "abc"},
      {"right INT_MAX", textRight(abc, kMax), "abc"},
      {"right cuts a character", textRight(zhongwen, 3), "\xD0\xCE\xC4"},
      {"mid start 0", textMid(abc, 0, 2), ""},
      {"mid start negative", textMid(abc, kMin, kMax), ""},
      {"mid length plus 1", textMid(abc, 4, 1), ""},
      {"mid INT_MAX start", textMid(abc, kMax, 1), ""},
      {"mid last byte", textMid(abc, 3, 5), "c"},
      {"mid count 0", textMid(abc, 1, 0), ""},
      {"mid count negative", textMid(abc, 1, -3), ""},
      {"mid inside", textMid(abc, 2, 1), "b"},
      {"mid INT_MAX count", textMid(abc, 2, kMax), "bc"},
      {"mid of empty", textMid(Text(), 1, 1), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.result.str(), c.expected);
  }
}

TEST(ReplaceText, ReplacesByCharactersLeftToRight) {
  struct Case {
    const char* name;
    Text text;
    Text search;
    Text replacement;
    std::int32_t caseSensitive;
    std::string_view expected;
  };
  const Case cases[] = {
      {"every occurrence", t("a-b-c"), t("-"), t("+"), 1, "a+b+c"},
      {"deletes", t("a-b-c"), t("-"), Text(), 1, "abc"},
      {"longer search", t("xabyabz"), t("ab"), t("_"), 1, "x_y_z"},
      {"non-overlapping", t("aaa"), t("aa"), t("b"), 1, "ba"},
      {"inserted text not rescanned", t("aaa"), t("a"), t("aa"), 1, "aaaaaa"},
      {"tag breaks", t("<a><b>"), t("<"), t("\r\n<"), 1, "\r\n<a>\r\n<b>"},
      {"case sensitive", t("aAa"), t("a"), t("x"), 1, "xAx"},
      {"flag 2 is exact", t("aAa"), t("a"), t("x"), 2, "xAx"},
      {"case folded", t("aAa"), t("a"), t("x"), 0, "xxx"},
      {"folded pattern", t("Ab-aB"), t("AB"), t("x"), 0, "x-x"},
      {"second byte kept", t("\x81\x5C"), t("\\"), Text(), 1, "\x81\x5C"},
      {"bar inside a character", t("\x83\x7C|a"), t("|"), Text(), 1,
       "\x83\x7C"
       "a"},
      {"empty search", t("abc"), Text(), t("x"), 1, "abc"},
      {"empty text", Text(), t("a"), t("x"), 1, ""},
      {"lone lead byte dropped", t("ab\x81"), t("x"), t("y"), 1, "ab"},
      {"lone lead byte replaced", t("ab\x81"), t("\x81"), t("y"), 1, "aby"},
      {"lone lead byte kept by a longer search", t("ab\x81"), t("xy"), t("z"), 1, "ab\x81"},
      {"text shorter than search", t("a"), t("abc"), t("z"), 1, "a"},
      {"match at the very end", t("xab"), t("ab"), t("!"), 1, "x!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(hex(replaceText(c.text, c.search, c.replacement, c.caseSensitive)),
              hex(t(c.expected)));
  }
}

TEST(ReplaceText, EachTagStartGrowsTheTextByTwo) {
  std::string page;
  for (int i = 0; i < 1000; ++i)
    page += "<p>\xD6\xD0";
  const Text replaced = replaceText(Text(page), t("<"), t("\r\n<"));
  EXPECT_EQ(textLength(replaced), textLength(Text(page)) + 2000);
}

TEST(SplitText, CutsAtExactDelimitersBetweenCharacters) {
  struct Case {
    const char* name;
    Text text;
    Text delimiter;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"empty line in between", t("a\r\n\r\nb"), t("\r\n"), {"a", "", "b"}},
      {"leading delimiter", t("\r\na"), t("\r\n"), {"", "a"}},
      {"trailing delimiter", t("a\r\n"), t("\r\n"), {"a"}},
      {"only the delimiter", t("\r\n"), t("\r\n"), {""}},
      {"no delimiter", t("abc"), t("\r\n"), {"abc"}},
      {"empty text", Text(), t("\r\n"), {}},
      {"empty delimiter", t("a|b"), Text(), {"a|b"}},
      {"bar inside a character", t("\x83\x7C|a"), t("|"), {"\x83\x7C", "a"}},
      {"exact case", t("aXbxc"), t("x"), {"aXb", "c"}},
      {"lone lead byte ends the text", t("a|\x81"), t("|"), {"a", "\x81"}},
      {"overlapping delimiters", t("a|||b"), t("||"), {"a", "|b"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(strings(splitText(c.text, c.delimiter)), c.expected);
  }
}

TEST(SpaceHandling, TrimsAndRemovesOnlySpacesAndFullWidthSpaces) {
  struct Case {
    const char* name;
    Text result;
    std::string_view expected;
  };
  const Case cases[] = {
      {"trim only spaces", trimText(t("  \xA1\xA1 \xA1\xA1")), ""},
      {"trim keeps tab and CR", trimText(t(" \tx\r ")), "\tx\r"},
      {"trim keeps inner spaces", trimText(t(" a b ")), "a b"},
      {"trim full-width", trimText(t("\xA1\xA1x\xA1\xA1")), "x"},
      {"trim lone lead byte", trimText(t("ab \x81")), "ab "},
      {"trim lone A1", trimText(t("x\xA1")), "x"},
      {"trim sees characters ending in A1", trimText(t("x\xB0\xA1\xA1\xA1")), "x\xB0\xA1"},
      {"trim space after a character", trimText(t("\xB0\xA1 ")), "\xB0\xA1"},
      {"trim empty", trimText(Text()), ""},
      {"remove spaces",
       removeSpaces(t(" a b\xA1\xA1"
                      "c ")),
       "abc"},
      {"remove keeps tabs", removeSpaces(t("a\tb")), "a\tb"},
      {"remove keeps characters ending in A1", removeSpaces(t("\xB0\xA1\xA1\xA1")), "\xB0\xA1"},
      {"remove drops lone lead byte", removeSpaces(t("a \x81")), "a"},
      {"lower", toLowerText(t("AbC-Z@[")), "abc-z@["},
      {"lower keeps second bytes",
       toLowerText(t("\x81\x41"
                     "A")),
       "\x81\x41"
       "a"},
      {"lower keeps lone lead byte", toLowerText(t("A\x81")), "a\x81"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(hex(c.result), hex(t(c.expected)));
  }
}

TEST(SmallTexts, BlankAndCharFromCode) {
  EXPECT_EQ(blankText(5000).str(), std::string(5000, ' '));
  EXPECT_TRUE(blankText(0).empty());
  EXPECT_TRUE(blankText(kMin).empty());
  EXPECT_EQ(charFromCode(0x41).str(), "A");
  EXPECT_TRUE(charFromCode(0).empty());
}

TEST(TextToInt, ParsesLeadingDigitsWithWrapAround) {
  struct Case {
    const char* name;
    Text text;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"empty", Text(), 0},
      {"leading spaces", t("  12"), 12},
      {"leading control spaces", t("\t\n\v\f\r7"), 7},
      {"trailing letters", t("12abc"), 12},
      {"no digits", t("abc"), 0},
      {"negative", t("-5"), -5},
      {"plus", t("+7"), 7},
      {"sign alone", t("-"), 0},
      {"two signs", t("+-5"), 0},
      {"space after sign", t("- 5"), 0},
      {"full-width digits", t("\xA3\xB1\xA3\xB0"), 10},
      {"full-width minus", t("\xA3\xAD\xA3\xB5"), -5},
      {"full-width space first", t("\xA1\xA1\xA3\xB1\xA3\xB0"), 10},
      {"other character ends the number",
       t("1\xD6\xD0"
         "2"),
       1},
      {"lone lead byte ends the number", t("5\x81"), 5},
      {"2^32 + 10 wraps", t("4294967306"), 10},
      {"INT_MAX", t("2147483647"), kMax},
      {"INT_MAX + 1 wraps", t("2147483648"), kMin},
      {"INT_MIN", t("-2147483648"), kMin},
      {"many digits", Text(std::string(100, '9')), -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(textToInt(c.text), c.expected);
  }
}

TEST(NumberToText, WritesPlainDecimal) {
  EXPECT_EQ(numberToText(-15).str(), "-15");
  EXPECT_EQ(numberToText(0).str(), "0");
  EXPECT_EQ(numberToText(kMin).str(), "-2147483648");
  EXPECT_EQ(numberToText(kMax).str(), "2147483647");
}

TEST(RoundNumber, RoundsHalvesAwayFromZeroWithANudge) {
  struct Case {
    const char* name;
    double x;
    std::int32_t places;
    double expected;
  };
  const Case cases[] = {
      {"up", 62.96, 1, 63.0},
      {"down", 62.94, 1, 62.9},
      {"negative half", -0.25, 1, -0.3},
      {"just below the nudge", 12.3499999999998, 1, 12.3},
      {"within the nudge", 12.34999999999995, 1, 12.4},
      {"percentage up", 74.96, 1, 75.0},
      {"places 0", 2.5, 0, 3.0},
      {"negative places as 0", 2.4, -1, 2.0},
      {"zero", 0.0, 1, 0.0},
      {"huge places", 1.25, 400, 1.25},
      {"INT_MAX places", 1.25, kMax, 1.25},
      {"infinity", INFINITY, 1, INFINITY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_DOUBLE_EQ(roundNumber(c.x, c.places), c.expected);
  }
  EXPECT_TRUE(std::isnan(roundNumber(NAN, 1)));
}

TEST(TruncToInt, TruncatesTowardZeroAndMarksOutOfRange) {
  struct Case {
    const char* name;
    double x;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"positive", 62.9, 62},
      {"negative", -2.5, -2},
      {"rounded percentage", roundNumber(74.96, 1), 75},
      {"largest", 2147483647.9, kMax},
      {"smallest", -2147483648.9, kMin},
      {"too large", 2147483648.0, kMin},
      {"too small", -2147483649.0, kMin},
      {"NaN", NAN, kMin},
      {"infinity", INFINITY, kMin},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(truncToInt(c.x), c.expected);
  }
  EXPECT_EQ(bitOr(0x0F0, 0x00F), 0x0FF);
}

TEST(ByteStrings, KeepZeroBytesAndTheirLength) {
  const Bytes withZero(std::string_view("A\0B", 3));
  EXPECT_EQ(bytesToText(withZero).str(), "A");
  EXPECT_EQ(bytesLength(textToBytes(t("abc"))), 3);
  EXPECT_EQ(bytesLength(withZero), 3);
  EXPECT_TRUE(blankBytes(0).empty());
  EXPECT_TRUE(blankBytes(kMin).empty());
  EXPECT_EQ(blankBytes(3).str(), std::string(3, '\0'));
  EXPECT_EQ(bytesLeft(withZero, 2).str(), std::string("A\0", 2));
  EXPECT_EQ(bytesLeft(withZero, kMax), withZero);
  EXPECT_TRUE(bytesLeft(withZero, 0).empty());
  EXPECT_EQ(concatBytes(withZero, Bytes("C")).str(), std::string("A\0BC", 4));
  EXPECT_TRUE(bytesEqual(Bytes(), Bytes("")));
  EXPECT_FALSE(bytesEqual(withZero, Bytes("A")));
}

TEST(FindBytes, MatchesAtAnyByte) {
  struct Case {
    const char* name;
    Bytes data;
    Bytes pattern;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"at the start", Bytes("charset=utf-8; x"), Bytes("charset=utf-8"), 1},
      {"missing", Bytes("charset=gbk"), Bytes("charset=utf-8"), -1},
      {"empty pattern", Bytes("abc"), Bytes(), -1},
      {"no case folding", Bytes("ABC"), Bytes("abc"), -1},
      {"on a second byte", Bytes("\x81\x41"), Bytes("A"), 2},
      {"after a zero byte", Bytes(std::string_view("\0\0ab", 4)), Bytes("ab"), 3},
      {"pattern longer than data", Bytes("ab"), Bytes("abc"), -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(findBytes(c.data, c.pattern), c.expected);
  }
}

}  // namespace

namespace {

// The plain character walk, trying every character start in turn: slow but
// obviously right, to check the fast searches against.
struct Walk {
  std::string_view text;
  std::string_view pattern;
  bool fold;

  bool matchesAt(std::size_t p) const {
    if (text.size() - p < pattern.size()) return false;
    for (std::size_t k = 0; k < pattern.size(); ++k) {
      char a = text[p + k];
      char b = pattern[k];
      if (fold) {
        a = (a >= 'A' && a <= 'Z') ? static_cast<char>(a + 32) : a;
        b = (b >= 'A' && b <= 'Z') ? static_cast<char>(b + 32) : b;
      }
      if (a != b) return false;
    }
    return true;
  }
  static std::size_t step(std::string_view s, std::size_t p) {
    return static_cast<unsigned char>(s[p]) >= 0x80 ? 2 : 1;
  }
  std::int32_t first(std::size_t from) const {
    for (std::size_t p = from; p < text.size(); p += step(text, p))
      if (matchesAt(p)) return static_cast<std::int32_t>(p + 1);
    return -1;
  }
  std::int32_t last() const {
    std::int32_t found = -1;
    for (std::size_t p = 0; p < text.size(); p += step(text, p))
      if (matchesAt(p)) found = static_cast<std::int32_t>(p + 1);
    return found;
  }
  std::string replaced(std::string_view with) const {
    std::string out;
    std::size_t p = 0;
    while (p < text.size() && text.size() - p >= pattern.size()) {
      if (matchesAt(p)) {
        out += with;
        p += pattern.size();
      } else if (step(text, p) == 2 && p + 1 == text.size()) {
        return out;
      } else {
        out += text.substr(p, step(text, p));
        p += step(text, p);
      }
    }
    out += text.substr(std::min(p, text.size()));
    return out;
  }
  std::vector<std::string> split() const {
    std::vector<std::string> out;
    std::size_t piece = 0;
    std::size_t p = 0;
    while (p < text.size() && text.size() - p >= pattern.size()) {
      if (matchesAt(p)) {
        out.emplace_back(text.substr(piece, p - piece));
        p += pattern.size();
        piece = p;
      } else {
        p += step(text, p);
      }
    }
    if (piece < text.size()) out.emplace_back(text.substr(piece));
    return out;
  }
};

TEST(CharacterWalk, FastSearchesAgreeWithThePlainWalk) {
  // Letters of both cases, a lead byte and bytes that also serve as second bytes.
  static constexpr char kAlphabet[] = {'a', 'A', 'b', '|', '\x81', '\x5C'};
  std::uint32_t seed = 12345;
  auto random = [&seed](std::uint32_t bound) {
    seed = seed * 1664525U + 1013904223U;
    return (seed >> 8) % bound;
  };
  auto randomText = [&](std::uint32_t maxLength) {
    std::string s(random(maxLength + 1), 'a');
    for (char& c : s)
      c = kAlphabet[random(sizeof kAlphabet)];
    return s;
  };
  for (int round = 0; round < 3000; ++round) {
    const std::string text = randomText(14);
    const std::string pattern = randomText(4);
    if (pattern.empty()) continue;
    const std::int32_t start = static_cast<std::int32_t>(random(6));
    SCOPED_TRACE(hex(Text(text)) + " / " + hex(Text(pattern)));
    for (const bool fold : {false, true}) {
      const Walk walk{text, pattern, fold};
      const std::size_t from = start > 1 ? static_cast<std::size_t>(start - 1) : 0;
      EXPECT_EQ(findText(Text(text), Text(pattern), start, fold ? 1 : 0),
                from < text.size() ? walk.first(from) : -1);
      EXPECT_EQ(findLastText(Text(text), Text(pattern), fold ? 1 : 0), walk.last());
      EXPECT_EQ(replaceText(Text(text), Text(pattern), Text("<>"), fold ? 0 : 1).str(),
                walk.replaced("<>"));
      if (!fold) {
        EXPECT_EQ(strings(splitText(Text(text), Text(pattern))), walk.split());
      }
    }
  }
}

}  // namespace
