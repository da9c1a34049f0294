// Cutting a piece out of a text by the markers around it. Pure functions, safe
// to call from any thread.
#pragma once

#include <cstdint>

#include "text/text.h"

// The bytes after the first startMarker (searched as findText does from start)
// up to, not including, the next endMarker after it. In both markers each
// "#引号" stands for a double quote. Bit 0 of caseSensitive set compares exactly;
// clear (the default) folds ASCII letters. The empty text when either marker is
// missing or the end marker is empty.
[[nodiscard]] Text textBetween(const Text& text, const Text& startMarker, const Text& endMarker,
                               std::int32_t start = 0, std::int32_t caseSensitive = 0);

// Repeats occurrence times (0 counts as 1, negative not at all): b is the
// start marker from start, e the end marker from b itself, both folding ASCII
// letters; the piece is textMid(text, b + L, e - b - L) for L the start
// marker's length, and the next pass searches from e. Positions are not checked
// for -1, so a missing start marker still gives the bytes from position L - 1 up
// to the first end marker. The last piece, trimmed.
[[nodiscard]] Text nthTextBetween(const Text& startMarker, const Text& endMarker, const Text& text,
                                  std::int32_t occurrence = 0, std::int32_t start = 0);

// Everything after the first ":", trimmed; the empty text without a colon.
[[nodiscard]] Text valueAfterColon(const Text& text);
// Everything before the first "=", trimmed; the whole text trimmed without one.
[[nodiscard]] Text nameBeforeEquals(const Text& text);
