#include "http/fetch_page.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "http/cookies.h"
#include "http/url.h"
#include "runtime/internet.h"
#include "text/encoding.h"
#include "text/markers.h"

namespace {

const Text& defaultUserAgent() {
  static const Text agent(
      "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1; QZ7TB; .NET CLR 2.0.50727; .NET CLR "
      "3.0.04506.648; .NET CLR 3.5.21022)");
  return agent;
}
// What the header text is when no answer came: the untouched 5000-byte buffer.
constexpr std::int32_t kNoAnswerHeaderBytes = 5000;
// A page declares its charset near its start.
constexpr std::int32_t kCharsetWithin = 500;

bool contains(const Text& text, const char* pattern) {
  return findText(text, Text(pattern), 0, 0) != -1;
}

// Completes the caller's header lines into the block that is sent.
void completeHeaderBlock(Text& headers, const Text& url, const std::optional<Text>& cookieText) {
  if (!contains(headers, "Referer:"))
    headers = headers.empty() ? concatText(Text("Referer: "), url)
                              : concatText(headers, Text("\r\nReferer: "), url);
  if (!contains(headers, "Accept:")) headers = concatText(headers, Text("\r\nAccept: */*"));
  if (!contains(headers, "Accept-Language:"))
    headers = concatText(headers, Text("\r\nAccept-Language: zh-cn"));
  if (!contains(headers, "Content-Type:"))
    headers = concatText(headers, Text("\r\nContent-Type: application/x-www-form-urlencoded"));
  if (cookieText && !cookieText->empty())
    headers = concatText(headers, Text("\r\nCookie: "), *cookieText);
}

// The text up to its first line break. The character-aware split takes a CR
// that follows a lead byte as that character's second byte, so such a line
// runs on into the next header line; cut before the broken character, no
// header of the server's can ride along into a later request's Cookie line.
Text upToLineBreak(const Text& text) {
  const std::string& bytes = text.str();
  const auto isBreak = [&](std::size_t i) { return bytes[i] == '\r' || bytes[i] == '\n'; };
  std::size_t i = 0;
  while (i < bytes.size() && !isBreak(i)) {
    const bool lead = static_cast<unsigned char>(bytes[i]) >= 0x80;
    if (lead && i + 1 < bytes.size() && isBreak(i + 1)) break;
    i += lead ? 2 : 1;
  }
  return Text(std::string_view(bytes).substr(0, std::min(i, bytes.size())));
}

// Location and Set-Cookie lines of the header text, matched anywhere in a line.
void scanHeaders(FetchPageOptions& options) {
  options.responseCookies = Text();
  for (const Text& line : splitText(options.rawHeaders, Text("\r\n"))) {
    if (contains(line, "Location:")) options.redirectAddress = valueAfterColon(line);
    if (contains(line, "Set-Cookie"))
      options.responseCookies = concatText(
          options.responseCookies,
          trimText(upToLineBreak(textBetween(line, Text("Set-Cookie:"), Text(";")))), Text("; "));
  }
}

bool declaresUtf8(const Bytes& body, const Text& rawHeaders) {
  const std::int32_t p = findBytes(body, textToBytes(Text("charset=utf-8")));
  return (p != -1 && p < kCharsetWithin) || contains(rawHeaders, "charset=utf-8");
}

Bytes fetchPageAt(const Text& url, FetchPageOptions& options, std::int32_t repeats) {
  const bool secure = compareText(toLowerText(textLeft(url, 5)), Text("https")) == 0;
  const Text host = urlHost(url, 0, 0);
  if (host.empty()) return Bytes();
  const std::int32_t port = urlPort(url);
  HttpRequest request;
  request.url = (secure ? "https://" : "http://") + host.str();
  if (port != (secure ? 443 : 80)) request.url += ":" + std::to_string(port);
  request.url += urlPath(url).str();
  // What cannot be sent fails before any option changes, as a connection that
  // cannot be opened does.
  if (!usableHttpAddress(request.url)) return Bytes();

  request.verb = options.method == 1 ? "POST" : "GET";
  request.userAgent = pageAgent(options.extraHeaders).str();
  completeHeaderBlock(options.extraHeaders, url, options.cookieText);
  request.headerLines = {options.extraHeaders.str()};
  if (options.method != 0) {
    if (options.postBytes.empty()) options.postBytes = textToBytes(options.postText);
    request.body = options.postBytes.str();
  }
  request.followRedirects = options.noRedirect == 0;
  request.cookieEngine = !options.cookieText.has_value();
  // A proxy list "http=..." serves http requests only.
  if (options.proxy && !secure) {
    request.proxyChoice = ProxyChoice::given;
    request.proxy = options.proxy->str();
  } else {
    request.proxyChoice = ProxyChoice::direct;
  }

  HttpResponse response = performHttpRequest(request);
  if (response.outcome == HttpOutcome::stopped) return Bytes();
  // A page cut short is no page: only a whole body counts.
  const Bytes body =
      response.outcome == HttpOutcome::complete ? Bytes(std::move(response.body)) : Bytes();
  options.rawHeaders = response.rawHeaders.empty() ? blankText(kNoAnswerHeaderBytes)
                                                   : Text(std::move(response.rawHeaders));

  if (takeResponseHeaders(options)) {
    // A server that answers every repeat so would otherwise nest requests
    // without end.
    if (repeats >= kMaxMovedRepeats) return Bytes();
    const Text next = concatText(options.redirectAddress, urlPath(url));
    options.redirectAddress = Text();
    return fetchPageAt(next, options, repeats + 1);
  }
  return declaresUtf8(body, options.rawHeaders) ? utf8ToCp936(body) : body;
}

}  // namespace

bool takeResponseHeaders(FetchPageOptions& options) {
  scanHeaders(options);
  if (options.cookieText) mergeCookies(*options.cookieText, options.responseCookies);
  if (options.redirectAddress.empty()) options.redirectAddress = options.rawHeaders;
  return compareText(textBetween(options.rawHeaders, Text("HTTP/1.1 "), Text(" Moved")),
                     Text("301")) == 0;
}

Text pageAgent(const Text& extraHeaders) {
  if (findText(extraHeaders, Text("User-Agent:"), 0, 1) == -1) return defaultUserAgent();
  const Text agent = trimText(textBetween(extraHeaders, Text("User-Agent:"), Text("\r\n")));
  return agent.empty() ? valueAfterColon(extraHeaders) : agent;
}

Bytes fetchPage(const Text& url, FetchPageOptions& options) {
  return fetchPageAt(url, options, 0);
}

Bytes fetchPage(const Text& url) {
  FetchPageOptions options;
  return fetchPage(url, options);
}
