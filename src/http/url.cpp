#include "http/url.h"

#include "text/markers.h"

Text urlHost(const Text& url, std::int32_t keepLastTwoLabels, std::int32_t keepPort) {
  const Text slash("/");
  const Text https("https://");
  const Text http("http://");
  Text s = toLowerText(url);
  if (compareText(textRight(s, 1), slash) != 0) s = concatText(s, slash);
  if (compareText(textLeft(s, 8), https) == 0) {
    s = textBetween(s, https, slash);
  } else {
    if (findText(s, http, 0, 0) == -1) s = concatText(http, s);
    s = textBetween(s, http, slash);
  }
  if (keepLastTwoLabels != 0) {
    const TextArray parts = splitText(s, Text("."));
    const std::size_t n = parts.size();
    if (n > 1) s = concatText(parts[n - 2], Text("."), parts[n - 1]);
  }
  if (keepPort != 0) return s;
  const std::int32_t p = findText(s, Text(":"), 0, 0);
  return p != -1 ? textLeft(s, p - 1) : s;
}

std::int32_t urlPort(const Text& url) {
  const Text h = urlHost(url, 0, 1);
  const std::int32_t p = findLastText(h, Text(":"), 0);
  if (p != -1) return textToInt(textRight(h, textLength(h) - p));
  return compareText(toLowerText(textLeft(url, 5)), Text("https")) == 0 ? 443 : 80;
}

Text urlPath(const Text& url) {
  const Text h = urlHost(url, 0, 0);
  const std::int32_t a = findText(url, h, 1, 1);
  const std::int32_t b = findText(url, Text("/"), a, 1);
  if (b <= 0) return Text("/");
  return textRight(url, textLength(url) - b + 1);
}
