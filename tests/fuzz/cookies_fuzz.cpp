// A caller's cookie text merged with the cookies of a response, both any text.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "fuzz_check.h"
#include "http/cookies.h"

using fuzz_check::hasAtCharStart;
using fuzz_check::hasSingleByteChar;

namespace {

bool endsWithDeleted(const Text& entry) {
  return textRight(entry, 8) == Text("=deleted");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  Text cookieText(in.ConsumeRandomLengthString());
  Text responseCookies(in.ConsumeRandomLengthString());
  const Text oldCookies = cookieText;
  const Text fresh = responseCookies;

  const Text merged = mergeCookies(cookieText, responseCookies);
  FUZZ_CHECK(merged == cookieText);
  FUZZ_CHECK(responseCookies == removeSpaces(fresh));

  // Every entry has lost its spaces, none is deleted, none repeats, and each
  // comes from one of the two texts.
  const Text oldEntries = removeSpaces(oldCookies);
  std::set<std::string> seen;
  for (const Text& entry : splitText(merged, Text("; "))) {
    FUZZ_CHECK(!hasSingleByteChar(entry.str(), ' '));
    FUZZ_CHECK(!hasAtCharStart(entry.str(), "\xA1\xA1"));
    FUZZ_CHECK(!endsWithDeleted(entry));
    FUZZ_CHECK(seen.insert(entry.str()).second);
    FUZZ_CHECK(hasText(splitText(responseCookies, Text(";")), entry) ||
               hasText(splitText(oldEntries, Text(";")), entry));
  }
  // Every cookie the response set and did not delete is kept (an empty entry
  // is no cookie: one at the end goes with the final separator).
  for (const Text& entry : splitText(responseCookies, Text(";"))) {
    if (!entry.empty() && !endsWithDeleted(entry)) FUZZ_CHECK(seen.count(entry.str()) == 1);
  }
  return 0;
}
