#include "run/parser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text/encoding.h"

namespace {

std::vector<std::string> strings(const TextArray& array) {
  std::vector<std::string> out;
  for (const Text& element : array)
    out.push_back(element.str());
  return out;
}

// Test texts are written in UTF-8 and compared in code page 936.
std::string cp(std::string_view utf8) {
  return utf8ToText(utf8).str();
}

TEST(SplitPageIntoLines, StartsALineAtEveryTag) {
  struct Case {
    const char* name;
    std::string_view page;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"no tags", "a\r\nb", {"a", "b"}},
      {"page starts with a tag", "<h2>x</h2>", {"", "<h2>x", "</h2>"}},
      {"tags and page lines", "a<b>\r\nc<d>", {"a", "<b>", "c", "<d>"}},
      {"second byte 3C is no tag", "\x81<x<y>", {"\x81<x", "<y>"}},
      {"empty page", "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(strings(splitPageIntoLines(Text(c.page))), c.expected);
  }
}

TEST(SplitPageIntoLines, EqualsSplittingThePageWithBreaksBeforeTags) {
  // Tag starts, line breaks and a lead byte that can take any of them as its
  // second byte or stand alone at the end.
  static constexpr char kAlphabet[] = {'<', '\r', '\n', 'a', '\x81'};
  std::uint32_t seed = 7;
  auto random = [&seed](std::uint32_t bound) {
    seed = seed * 1664525U + 1013904223U;
    return (seed >> 8) % bound;
  };
  for (int round = 0; round < 5000; ++round) {
    std::string page(random(12), 'a');
    for (char& c : page)
      c = kAlphabet[random(sizeof kAlphabet)];
    SCOPED_TRACE(testing::PrintToString(page));
    const TextArray expected =
        splitText(replaceText(Text(page), Text("<"), Text("\r\n<"), 1), Text("\r\n"));
    EXPECT_EQ(strings(splitPageIntoLines(Text(page))), strings(expected));
  }
}

TEST(CollectTitle, TakesTheTextAfterTheFirstTagEnd) {
  struct Case {
    const char* name;
    std::string_view line;
    bool isTitleLine;
    std::string_view title;
  };
  const Case cases[] = {
      {"heading", "<h2 class=\"headingBase headingM\">海滩", true, "海滩"},
      {"marker case folded", "<H2 CLASS=\"HEADINGBASE HEADINGM\">x", true, "x"},
      {"untrimmed with entities", "<h2 class=\"headingBase headingM\"> a &amp; b ", true,
       " a &amp; b "},
      {"empty heading", "<h2 class=\"headingBase headingM\">", true, ""},
      {"no tag end takes the whole line", "class=\"headingBase headingM\"", true,
       "class=\"headingBase headingM\""},
      {"tag end before the marker", "<div>headingBase headingM", true, "headingBase headingM"},
      {"other heading", "<h2 class=\"headingBase\">x", false, ""},
      {"marker split by a space too many", "<h2 class=\"headingBase  headingM\">x", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TextArray titles{Text("earlier")};
    EXPECT_EQ(collectTitle(utf8ToText(c.line), titles), c.isTitleLine);
    std::vector<std::string> expected{"earlier"};
    if (c.isTitleLine) expected.push_back(cp(c.title));
    EXPECT_EQ(strings(titles), expected);
  }
}

TEST(CollectImageUrl, TakesTheLinkBeforeTheGetItLabel) {
  struct Case {
    const char* name;
    std::string_view line;
    bool isLinkLine;
    std::string_view url;
  };
  const Case cases[] = {
      {"link", "<a class=\"navigationLink\" href=\"https://x/a.jpg\">立即获取", true,
       "https://x/a.jpg"},
      {"markers case folded", "<A CLASS=\"NAVIGATIONLINK\" HREF=\" https://x/A.JPG \">立即获取",
       true, "https://x/A.JPG"},
      {"no jpg", "<a class=\"navigationLink\" href=\"https://x/a.png\">立即获取", false, ""},
      {"no navigation link", "<a class=\"link\" href=\"https://x/a.jpg\">立即获取", false, ""},
      {"no label gives an empty link", "<a class=\"navigationLink\" href=\"https://x/a.jpg\">",
       true, ""},
      {"other label", "<a class=\"navigationLink\" href=\"https://x/a.jpg\">下载", true, ""},
      {"no href takes from byte 5", "<a class=\"navigationLink\" src=\"x.jpg\">立即获取", true,
       "lass=\"navigationLink\" src=\"x.jpg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TextArray urls;
    EXPECT_EQ(collectImageUrl(utf8ToText(c.line), urls), c.isLinkLine);
    if (c.isLinkLine)
      EXPECT_EQ(strings(urls), std::vector<std::string>{cp(c.url)});
    else
      EXPECT_TRUE(urls.empty());
  }
}

TEST(GalleryPage, TitlesAndLinksComeOutInPageOrder) {
  const Text page = utf8ToText(
      "<html><body>\r\n"
      "<div><h2 class=\"headingBase headingM\">晨雾</h2>\r\n"
      "<p>说明</p><a class=\"navigationLink\" href=\"https://img.example/1.jpg\">立即获取</a>\r\n"
      "<h2 class=\"headingBase headingM\">星空 &amp; 山</h2>"
      "<a class=\"navigationLink\" href=\"https://img.example/2.jpg\">立即获取</a>"
      "<a class=\"navigationLink\" href=\"https://img.example/\">更多</a></div>");
  const TextArray lines = splitPageIntoLines(page);
  TextArray titles;
  TextArray urls;
  int titleLines = 0;
  for (const Text& line : lines)
    titleLines += collectTitle(line, titles) ? 1 : 0;
  for (const Text& line : lines)
    collectImageUrl(line, urls);
  EXPECT_EQ(titleLines, 2);
  EXPECT_EQ(strings(titles), (std::vector<std::string>{cp("晨雾"), cp("星空 &amp; 山")}));
  EXPECT_EQ(strings(urls),
            (std::vector<std::string>{"https://img.example/1.jpg", "https://img.example/2.jpg"}));
}

TEST(CleanTitle, RemovesCharactersThatCannotNameAFile) {
  struct Case {
    const char* name;
    Text title;
    Text expected;
  };
  const Case cases[] = {
      {"mixed", Text("a/b:c*?"), Text("abc")},
      {"all nine", Text("?\\/<>|\"*:x"), Text("x")},
      {"spaces and full-width punctuation stay", " 海滩：日落 "_t, " 海滩：日落 "_t},
      {"backslash as a second byte", Text("\x81\x5C"), Text("\x81\x5C")},
      {"bar as a second byte", Text("\x83\x7C|"), Text("\x83\x7C")},
      {"empty", Text(), Text()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(cleanTitle(c.title).str(), c.expected.str());
  }
}

}  // namespace
