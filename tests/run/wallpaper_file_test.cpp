#include "run/wallpaper_file.h"

#include <gtest/gtest.h>

#include <string>

#include "text/encoding.h"

namespace {

std::string repeated(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i)
    out += piece;
  return out;
}

TEST(WallpaperFilePath, KeepsTheNameWithinTheFileSystemLimit) {
  struct Case {
    const char* name;
    std::string title;     // UTF-8
    std::string expected;  // the file name, UTF-8
  };
  const Case cases[] = {
      {"short title", "晨曦", "晨曦.jpg"},
      {"ASCII name of exactly 255 bytes", repeated("a", 251), repeated("a", 251) + ".jpg"},
      {"ASCII name one byte over", repeated("a", 252), repeated("a", 251) + ".jpg"},
      // 2 bytes each as Text, 3 as UTF-8: the limit is counted in UTF-8.
      {"Chinese title of 270 bytes", repeated("长", 90), repeated("长", 83) + ".jpg"},
      {"Chinese title fitting as Text only", repeated("长", 100), repeated("长", 83) + ".jpg"},
      {"cut lands inside a character", "a" + repeated("长", 90), "a" + repeated("长", 83) + ".jpg"},
      // Four-byte characters in both encodings.
      {"characters beyond the basic plane", repeated("😀", 70), repeated("😀", 62) + ".jpg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Text path = wallpaperFilePath(utf8ToText("存档\\"), utf8ToText(c.title));
    EXPECT_EQ(textToUtf8(path), "存档\\" + c.expected);
  }
}

}  // namespace
