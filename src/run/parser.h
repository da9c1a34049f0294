// The gallery page parser: the page cut into lines, then wallpaper titles and
// image links collected line by line, and titles cleaned into file names. Pure
// functions apart from appending to the given array; any thread.
#pragma once

#include "text/text.h"

// A line break "\r\n" before every "<", then the text split at "\r\n": each line
// starts with one tag, or is a line of the page itself.
[[nodiscard]] TextArray splitPageIntoLines(const Text& pageText);

// A line holding "headingBase headingM" (ASCII case folded) is a title line: its
// title, everything after its first ">" (the whole line without one), untrimmed,
// is appended. Returns whether the line was a title line; the caller counts it.
bool collectTitle(const Text& line, TextArray& titles);

// A line holding "navigationLink" and ".jpg" (case folded) is an image-link line:
// the text between "href=\"" and "\">立即获取" is appended trimmed, also when it
// is empty. Returns whether the line was an image-link line.
bool collectImageUrl(const Text& line, TextArray& imageUrls);

// The title without any of ? \ / < > | " * : (whole characters only, never the
// second byte of a double-byte character); everything else stays.
[[nodiscard]] Text cleanTitle(const Text& title);
