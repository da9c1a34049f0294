// Any address cut into host, port and path.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "http/url.h"

using fuzz_check::hasSingleByteChar;
using fuzz_check::isSubstring;

namespace {

bool startsWith(const Text& text, const Text& prefix) {
  return text.str().compare(0, prefix.str().size(), prefix.str()) == 0;
}

bool endsWith(const Text& text, const Text& suffix) {
  const std::string& t = text.str();
  const std::string& s = suffix.str();
  return s.size() <= t.size() && t.compare(t.size() - s.size(), s.size(), s) == 0;
}

void checkHost(const Text& url) {
  const Text host = urlHost(url, 0, 0);
  const Text withPort = urlHost(url, 0, 1);
  // The host comes out of the lower-cased address and stops at the first "/"
  // after the scheme; without its port it holds no ":".
  FUZZ_CHECK(isSubstring(withPort, toLowerText(url)));
  FUZZ_CHECK(startsWith(withPort, host));
  FUZZ_CHECK(!hasSingleByteChar(withPort.str(), '/'));
  FUZZ_CHECK(!hasSingleByteChar(host.str(), ':'));
  for (char c = 'A'; c <= 'Z'; ++c)
    FUZZ_CHECK(!hasSingleByteChar(withPort.str(), c));

  const Text lastTwo = urlHost(url, 1, 1);
  FUZZ_CHECK(isSubstring(lastTwo, withPort));
  FUZZ_CHECK(startsWith(lastTwo, urlHost(url, 1, 0)));
}

void checkPort(const Text& url) {
  const std::int32_t port = urlPort(url);
  if (findLastText(urlHost(url, 0, 1), Text(":"), 0) == -1) FUZZ_CHECK(port == 80 || port == 443);
}

void checkPath(const Text& url) {
  const Text path = urlPath(url);
  FUZZ_CHECK(startsWith(path, Text("/")));
  FUZZ_CHECK(path == Text("/") || endsWith(url, path));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Text url = fuzz_check::textOf(data, size);
  checkHost(url);
  checkPort(url);
  checkPath(url);
  return 0;
}
