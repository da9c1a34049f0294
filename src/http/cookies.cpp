#include "http/cookies.h"

#include <cstdint>
#include <string>
#include <unordered_set>

#include "text/markers.h"

// mergeCookies and dropRepeats keep the names and parts seen so far in a set:
// the same answers as walking the growing array, without being quadratic.

Text mergeCookies(Text& cookieText, Text& responseCookies) {
  cookieText = removeSpaces(cookieText);
  responseCookies = removeSpaces(responseCookies);
  const Text separator(";");
  const TextArray old = splitText(cookieText, separator);
  TextArray fresh = splitText(responseCookies, separator);
  std::unordered_set<std::string> names;
  for (const Text& f : fresh)
    names.insert(nameBeforeEquals(f).str());
  for (const Text& o : old) {
    if (names.insert(nameBeforeEquals(o).str()).second) fresh.push_back(o);
  }
  const Text deleted("=deleted");
  std::string joined;
  for (const Text& f : fresh) {
    if (compareText(textRight(f, 8), deleted) == 0) continue;
    joined += f.str();
    joined += "; ";
  }
  const Text all(std::move(joined));
  cookieText = textLeft(all, textLength(all) - 2);
  cookieText = dropRepeats(cookieText, Text("; "));
  return cookieText;
}

bool hasCookieName(const TextArray& entries, const Text& name) {
  for (const Text& e : entries) {
    if (compareText(nameBeforeEquals(e), name) == 0) return true;
  }
  return false;
}

Text dropRepeats(const Text& text, const Text& separator) {
  const TextArray parts = splitText(text, separator);
  std::unordered_set<std::string> seen;
  std::string out;
  for (const Text& p : parts) {
    if (!seen.insert(p.str()).second) continue;
    out += p.str();
    out += separator.str();
  }
  const Text all(std::move(out));
  return textLeft(all, textLength(all) - textLength(separator));
}

bool hasText(const TextArray& entries, const Text& text) {
  for (const Text& e : entries) {
    if (compareText(e, text) == 0) return true;
  }
  return false;
}
