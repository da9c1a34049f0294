// The page request: one HTTP or HTTPS request with the program's header block,
// then the header scan, the cookie merge, the repeat after a "301 ... Moved"
// answer and the conversion of a UTF-8 page into code page 936.
//
// Calls keep no state and share none; any thread may call, several at once.
// A call on a stopped thread (killThread) yields empty bytes and leaves the
// options as they were when its transfer ended.
#pragma once

#include <cstdint>
#include <optional>

#include "text/text.h"

// The caller's variables of one request. The in/out and out members are
// rewritten by the call; a repeat after "301 ... Moved" works on the same ones.
struct FetchPageOptions {
  // 1 selects "POST", any other value "GET"; a body is sent whenever it is not 0.
  std::int32_t method = 0;
  // The body when postBytes is empty.
  Text postText{};
  // In/out. Given, even empty: the client keeps no cookies of its own for the
  // request, a non-empty text is sent as a Cookie line, and afterwards it
  // holds the merged cookie set.
  std::optional<Text> cookieText{};
  // Out: the answer's cookies, each entry followed by "; " (without spaces
  // when cookieText was given).
  Text responseCookies{};
  // In/out: the caller's header lines joined by "\r\n", completed in place
  // into the header block that is sent.
  Text extraHeaders{};
  // In/out: the value of the answer's last line containing "Location:"; when
  // there is none and it is empty, the whole header text.
  Text redirectAddress{};
  // Not 0: redirects are not followed by the client.
  std::int32_t noRedirect = 0;
  // In/out: the body; when a body is sent and this is empty, it becomes the
  // bytes of postText.
  Bytes postBytes{};
  // Given, even empty: http requests go through this proxy (host:port), an
  // empty one meaning none; https requests go direct. Not given: direct, the
  // environment's proxy settings unused.
  std::optional<Text> proxy{};
  // Out: the answer's status line and header lines, each ended by "\r\n",
  // then the empty line, however long the block; 5000 spaces when no answer
  // came.
  Text rawHeaders{};
};

// Successive "301 ... Moved" answers are repeated at most this often; the
// answer after the last repeat yields empty bytes, its Location left in
// redirectAddress.
inline constexpr std::int32_t kMaxMovedRepeats = 10;

// The body of the answer, converted from UTF-8 into code page 936 when the page
// or its headers declare "charset=utf-8"; after a "301 ... Moved" answer the
// result of the repeated request. Empty bytes when the address cannot be used
// (the options then unchanged), when no answer or no whole body arrived (a
// failed connect, a time-out, a broken or oversized transfer), and on a stop.
[[nodiscard]] Bytes fetchPage(const Text& url, FetchPageOptions& options);
// The same with every option omitted.
[[nodiscard]] Bytes fetchPage(const Text& url);

// What a request takes from its answer's header text, options.rawHeaders: the
// last "Location:" value into redirectAddress, the Set-Cookie values into
// responseCookies, those merged into cookieText when it is given, and the whole
// header text into redirectAddress when that is still empty. Returns whether
// the answer is a "301 ... Moved" that the request repeats. Any thread.
bool takeResponseHeaders(FetchPageOptions& options);

// The agent string that a request with these header lines names: the value of
// their "User-Agent:" (any case) up to the next "\r\n"; failing that,
// everything after the first ":" of the whole text; without such a line the
// program's default agent.
[[nodiscard]] Text pageAgent(const Text& extraHeaders);
