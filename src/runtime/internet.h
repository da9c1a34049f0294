// The internet client: HTTP and HTTPS transfers on libcurl, and the image
// download that the download tasks call.
//
// One process-wide session (libcurl's global state) is set up on first use,
// exactly once however many threads start at the same time. Every transfer has
// an easy handle and a multi handle of its own; nothing else is shared between
// transfers, so any number of threads may call these functions at once.
//
// A transfer on a thread made by startThread ends at once when that thread is
// stopped (killThread): it yields the outcome `stopped` and empty data.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/text.h"

// Bounds of every transfer. The defaults are the program's; tests shorten the
// time-outs and point caFile at their own certificate.
struct InternetLimits {
  // Name resolution, TCP connect and TLS handshake together.
  std::chrono::milliseconds connectTimeout{30'000};
  // Once connected: longest time in which no header line, no body bytes
  // arrive and no request bytes go out.
  std::chrono::milliseconds stallTimeout{30'000};
  // Far above any wallpaper, far below the machine's memory.
  std::int64_t maxBodyBytes = std::int64_t{256} << 20;
  // One answer's header block.
  std::int64_t maxHeaderBytes = std::int64_t{256} << 10;
  // Redirects followed by the client itself within one transfer.
  std::int32_t maxRedirects = 20;
  // Extra certificate file to trust instead of the system's store; empty for
  // the system's store. Only tests set it.
  std::string caFile{};
};

// The limits that transfers starting from now on use. Any thread.
[[nodiscard]] InternetLimits internetLimits();
void setInternetLimits(const InternetLimits& limits);

enum class ProxyChoice {
  system,  // the system's configuration: http_proxy, https_proxy, no_proxy
  direct,  // no proxy, whatever the environment says
  given,   // HttpRequest::proxy, with no bypass list
};

struct HttpRequest {
  std::string url{};  // http:// or https:// only
  std::string verb = "GET";
  bool http10 = false;                     // HTTP/1.0 instead of HTTP/1.1
  std::string userAgent{};                 // sent unless headerLines holds a User-Agent line
  std::vector<std::string> headerLines{};  // "Name: value", sent in this order
  std::optional<std::string> body{};       // sent, even empty, when present
  bool followRedirects = true;             // http and https targets only
  bool cookieEngine = true;                // keep cookies across the redirects of this transfer
  ProxyChoice proxyChoice = ProxyChoice::system;
  std::string proxy{};  // host:port, for ProxyChoice::given
};

enum class HttpOutcome {
  complete,    // the final answer arrived whole
  badAddress,  // the address is not a usable http or https address; nothing sent
  failed,      // no answer: connect or TLS failure, refused redirect, too many redirects
  broken,      // the answer began but broke off (network error, short body)
  timedOut,    // the connect or the stall time-out ran out
  tooLarge,    // the body or a header block exceeded its bound
  stopped,     // the calling thread was stopped
};

struct HttpResponse {
  HttpOutcome outcome = HttpOutcome::failed;
  // Status code of the last answer that began, 0 when none did.
  std::int32_t status = 0;
  // That answer's status line and header lines, each ended by "\r\n", then the
  // empty line that closes the block; empty when no answer began.
  std::string rawHeaders{};
  // Its body; empty unless the outcome is complete.
  std::string body{};
};

// One transfer, redirects included. Any thread.
[[nodiscard]] HttpResponse performHttpRequest(const HttpRequest& request);

// The address as the client will send it: dot segments resolved, spaces and
// control bytes percent-escaped, the fragment dropped; nullopt when it does not
// parse or its scheme is not http or https. Any thread.
[[nodiscard]] std::optional<std::string> usableHttpAddress(std::string_view url);

// Downloads an image: GET over HTTP/1.0 with the agent
// "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)" and "Accept: */*", the
// part from "#" on cut off, redirects followed, the system's proxy
// configuration, TLS certificates checked for https. The body of a complete 2xx
// answer; empty bytes for anything else (a bad or non-http address, no answer,
// an error status, a broken, stalled or oversized transfer, a stop). Any thread.
[[nodiscard]] Bytes httpReadFile(const Text& url);
