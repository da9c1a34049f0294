#include "text/encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

TEST(Utf8ToText, ConvertsToCodePage936) {
  struct Case {
    const char* name;
    std::string_view utf8;
    std::string_view expected;
  };
  const Case cases[] = {
      {"ASCII", "abc", "abc"},
      {"Chinese", "中文", "\xD6\xD0\xCE\xC4"},
      {"full-width colon", "：", "\xA3\xBA"},
      {"outside code page 936", "\xF0\x9F\x98\x80", "\x94\x39\xFC\x36"},
      {"invalid byte",
       "a\xFF"
       "b",
       "a?b"},
      {"lone continuation bytes", "\x80\x80", "??"},
      {"truncated at the end", "a\xE4\xB8", "a?"},
      {"truncated before ASCII",
       "\xE4\xB8"
       "a",
       "??a"},
      {"stops at a zero byte", std::string_view("ab\0cd", 5), "ab"},
      {"empty", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(utf8ToText(c.utf8).str(), c.expected);
  }
}

TEST(TextToUtf8, ConvertsFromCodePage936) {
  struct Case {
    const char* name;
    std::string_view text;
    std::string_view expected;
  };
  const Case cases[] = {
      {"ASCII", "abc", "abc"},
      {"Chinese", "\xD6\xD0\xCE\xC4", "中文"},
      {"second byte is a backslash", "\x81\x5C", "乗"},
      {"four-byte sequence", "\x94\x39\xFC\x36", "\xF0\x9F\x98\x80"},
      {"lone lead byte", "a\x81", "a\xEF\xBF\xBD"},
      {"invalid second byte",
       "\x81\x20"
       "b",
       "\xEF\xBF\xBD b"},
      {"byte FF", "\xFF", "\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(textToUtf8(Text(c.text)), c.expected);
  }
}

TEST(Utf8ToCp936, PassesZeroBytesThrough) {
  const Bytes body(std::string_view("\xE4\xB8\xAD\0\xE6\x96\x87\0\xFF", 9));
  EXPECT_EQ(utf8ToCp936(body).str(), std::string_view("\xD6\xD0\0\xCE\xC4\0?", 7));
  EXPECT_TRUE(utf8ToCp936(Bytes()).empty());
}

TEST(Utf8ToText, LargeInputRoundTrips) {
  std::string utf8;
  for (int i = 0; i < 20000; ++i)
    utf8 += "开始下载 ok ";
  EXPECT_EQ(textToUtf8(utf8ToText(utf8)), utf8);
}

TEST(TextLiteral, ConvertsOnceToCodePage936) {
  EXPECT_EQ("中文"_t.str(), "\xD6\xD0\xCE\xC4");
  EXPECT_EQ(&"中文"_t, &"中文"_t);
}

}  // namespace
