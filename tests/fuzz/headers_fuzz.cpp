// The header scan of the page request: any header text in; the cookies, the
// redirect address and the "301 ... Moved" decision out.
//
// Input: a last byte whose low bit says whether the caller gave a cookie text;
// from the front the cookie text (when given) and a redirect address filled in
// beforehand, each ended by a backslash and a space; the rest is the header text.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "fuzz_check.h"
#include "http/fetch_page.h"

using fuzz_check::hasAtCharStart;
using fuzz_check::hasSingleByteChar;
using fuzz_check::isSubstring;

namespace {

bool hasLineBreakByte(const Text& text) {
  return text.str().find_first_of("\r\n") != std::string::npos;
}

void checkCookies(const FetchPageOptions& options, std::int32_t setCookieLines,
                  bool givenCookiesHadLineBreak) {
  // Nothing of the server's can start a header line in a later request.
  FUZZ_CHECK(!hasLineBreakByte(options.responseCookies));
  if (options.cookieText && !givenCookiesHadLineBreak)
    FUZZ_CHECK(!hasLineBreakByte(*options.cookieText));
  if (!options.cookieText) {
    // One entry per Set-Cookie line, each followed by "; ", none holding ";".
    const TextArray entries = splitText(options.responseCookies, Text("; "));
    FUZZ_CHECK(static_cast<std::int32_t>(entries.size()) == setCookieLines);
    for (const Text& entry : entries) {
      FUZZ_CHECK(!hasSingleByteChar(entry.str(), ';'));
      FUZZ_CHECK(trimText(entry) == entry);
    }
    return;
  }
  FUZZ_CHECK(!hasSingleByteChar(options.responseCookies.str(), ' '));
  std::set<std::string> seen;
  for (const Text& entry : splitText(*options.cookieText, Text("; "))) {
    FUZZ_CHECK(!hasSingleByteChar(entry.str(), ' '));
    FUZZ_CHECK(textRight(entry, 8) != Text("=deleted"));
    FUZZ_CHECK(seen.insert(entry.str()).second);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  FetchPageOptions options;
  if (in.ConsumeBool()) options.cookieText = Text(in.ConsumeRandomLengthString());
  const Text filledIn(in.ConsumeRandomLengthString());
  options.redirectAddress = filledIn;
  const Text headers(in.ConsumeRemainingBytesAsString());
  options.rawHeaders = headers;
  const bool givenCookiesHadLineBreak = options.cookieText && hasLineBreakByte(*options.cookieText);

  const bool moved = takeResponseHeaders(options);
  FUZZ_CHECK(options.rawHeaders == headers);

  std::int32_t setCookieLines = 0;
  bool locationLine = false;
  for (const Text& line : splitText(headers, Text("\r\n"))) {
    setCookieLines += findText(line, Text("Set-Cookie"), 0, 0) != -1 ? 1 : 0;
    locationLine = locationLine || findText(line, Text("Location:"), 0, 0) != -1;
  }
  checkCookies(options, setCookieLines, givenCookiesHadLineBreak);

  // A Location value is one trimmed line of the header text; without one the
  // address filled in stays. An empty result takes the whole header text.
  const Text& redirect = options.redirectAddress;
  if (locationLine && redirect != headers) {
    FUZZ_CHECK(isSubstring(redirect, headers));
    FUZZ_CHECK(!hasAtCharStart(redirect.str(), "\r\n"));
    FUZZ_CHECK(textLeft(redirect, 1) != Text(" "));
  } else if (!locationLine) {
    FUZZ_CHECK(redirect == (filledIn.empty() ? headers : filledIn));
  }

  // Repeated exactly when the first "HTTP/1.1 " (any case) reads "HTTP/1.1 301 Moved".
  const std::int32_t status = findText(headers, Text("HTTP/1.1 "), 0, 1);
  FUZZ_CHECK(moved ==
             (status != -1 && findText(headers, Text("HTTP/1.1 301 Moved"), status, 1) == status));
  return 0;
}
