// Cookies kept as text: "name=value" entries joined by "; ". Pure apart from
// the two texts mergeCookies rewrites; any thread.
#pragma once

#include "text/text.h"

// Folds the cookies a response set into the caller's cookie text. Both texts
// lose every space (responseCookies keeps that form). The new cookieText lists
// the response's entries in order, then the old entries whose name the
// response did not set (the first of each name), without entries ending in
// "=deleted" and without exact repeats, joined by "; ". Returns a copy of it.
Text mergeCookies(Text& cookieText, Text& responseCookies);

// Whether an entry's name (the trimmed text before its first "=", the whole
// entry without one) equals name, byte for byte.
[[nodiscard]] bool hasCookieName(const TextArray& entries, const Text& name);
// The text split at separator with every repeat of an earlier part left out,
// joined by separator again.
[[nodiscard]] Text dropRepeats(const Text& text, const Text& separator);
// Whether an element equals text byte for byte.
[[nodiscard]] bool hasText(const TextArray& entries, const Text& text);
