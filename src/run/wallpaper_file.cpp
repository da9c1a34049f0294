#include "run/wallpaper_file.h"

#include <climits>
#include <cstddef>
#include <string>
#include <string_view>

#include "text/encoding.h"

namespace {

constexpr std::size_t kNameLimit = NAME_MAX;  // bytes, for every Linux file system we meet
constexpr std::string_view kExtension = ".jpg";

bool isContinuationByte(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

Text wallpaperFilePath(const Text& folder, const Text& title) {
  const Text extension(kExtension);
  // Names reach the file system as UTF-8, so that is where the limit is counted.
  const std::string name = textToUtf8(title);
  const std::size_t room = kNameLimit - kExtension.size();
  if (name.size() <= room) return concatText(folder, title, extension);

  std::size_t cut = room;
  while (cut > 0 && isContinuationByte(name[cut]))
    --cut;
  // Back through the same conversion, so the file system sees exactly the
  // first `cut` bytes of the name.
  return concatText(folder, utf8ToText(std::string_view(name).substr(0, cut)), extension);
}
