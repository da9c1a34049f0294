#include "http/cookies.h"

#include <gtest/gtest.h>

#include <string_view>

namespace {

TEST(MergeCookies, PutsTheResponseFirstThenTheOldCookiesItDidNotSet) {
  struct Case {
    const char* name;
    const char* cookies;
    const char* response;
    std::string_view merged;
    std::string_view responseAfter;
  };
  const Case cases[] = {
      {"replace, keep and delete", "sid=old; lang=en", "sid=new; track=deleted; ",
       "sid=new; lang=en", "sid=new;track=deleted;"},
      {"both empty", "", "", "", ""},
      {"only the response", "", "a=1; b=2; ", "a=1; b=2", "a=1;b=2;"},
      {"first old entry of a name", "a=1; a=2", "", "a=1", ""},
      {"exact repeats in the response", "", "a=1; a=1; ", "a=1", "a=1;a=1;"},
      {"same name twice in the response", "", "a=1; a=2; ", "a=1; a=2", "a=1;a=2;"},
      {"names are case sensitive", "A=1", "a=2; ", "a=2; A=1", "a=2;"},
      {"spaces inside values go", "a=x y", "", "a=xy", ""},
      {"full-width spaces go", "a=x\xA1\xA1y", "", "a=xy", ""},
      {"old deleted entry dropped", "a=deleted; b=1", "", "b=1", ""},
      {"other endings stay", "", "a=Deleted; b=undeleted; ", "a=Deleted; b=undeleted",
       "a=Deleted;b=undeleted;"},
      {"empty entry kept once", "", "a=1; ; b=2; ", "a=1; ; b=2", "a=1;;b=2;"},
      {"entry without equals", "flag; a=1", "flag=2; ", "flag=2; a=1", "flag=2;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Text cookies(c.cookies);
    Text response(c.response);
    const Text result = mergeCookies(cookies, response);
    EXPECT_EQ(cookies.str(), c.merged);
    EXPECT_EQ(result, cookies);
    EXPECT_EQ(response.str(), c.responseAfter);
  }
}

TEST(CookieHelpers, CompareNamesAndEntriesExactly) {
  const TextArray entries{Text(" sid = 1"), Text("flag"), Text("Lang=en")};
  EXPECT_TRUE(hasCookieName(entries, Text("sid")));
  EXPECT_TRUE(hasCookieName(entries, Text("flag")));
  EXPECT_FALSE(hasCookieName(entries, Text("lang")));
  EXPECT_FALSE(hasCookieName(TextArray{}, Text()));
  EXPECT_TRUE(hasText(entries, Text("flag")));
  EXPECT_FALSE(hasText(entries, Text("sid = 1")));
  EXPECT_FALSE(hasText(TextArray{}, Text()));
}

TEST(DropRepeats, KeepsTheFirstOfEachPart) {
  struct Case {
    const char* name;
    const char* text;
    const char* separator;
    std::string_view expected;
  };
  const Case cases[] = {
      {"repeats", "a; b; a; c; b", "; ", "a; b; c"}, {"trailing separator", "a; a; ", "; ", "a"},
      {"empty parts once", "; ; a", "; ", "; a"},    {"empty text", "", "; ", ""},
      {"empty separator", "a;a", "", "a;a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(dropRepeats(Text(c.text), Text(c.separator)).str(), c.expected);
  }
}

}  // namespace
