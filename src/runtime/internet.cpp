#include "runtime/internet.h"

#include <curl/curl.h>

#include <algorithm>
#include <csignal>
#include <memory>
#include <mutex>
#include <new>
#include <stop_token>
#include <utility>

#include "runtime/threads.h"

namespace {

constexpr char kImageAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
// Only a safety net: a stop wakes the wait and the stall clock sets its own.
constexpr auto kLongestPoll = std::chrono::milliseconds(1000);
constexpr long kReceiveBufferBytes = 256L * 1024;

using Clock = std::chrono::steady_clock;

std::mutex limitsMutex;
InternetLimits& currentLimits() {
  static InternetLimits limits;
  return limits;
}

// curl_global_init is not safe to race with itself or with any other libcurl
// call, so it runs exactly once, before the first handle is made. With
// CURLOPT_NOSIGNAL libcurl leaves SIGPIPE to the program: a server that hangs
// up while a request is being written must fail that transfer, not end the
// process.
bool sessionReady() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] {
    std::signal(SIGPIPE, SIG_IGN);
    ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  });
  return ready;
}

struct EasyCleanup {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiCleanup {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct SlistCleanup {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct UrlCleanup {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlStringFree {
  void operator()(char* s) const { curl_free(s); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;
using MultiHandle = std::unique_ptr<CURLM, MultiCleanup>;
using HeaderList = std::unique_ptr<curl_slist, SlistCleanup>;
using UrlHandle = std::unique_ptr<CURLU, UrlCleanup>;
using CurlString = std::unique_ptr<char, CurlStringFree>;

// Keeps the easy handle in the multi handle for one scope; libcurl wants it
// removed before either handle is cleaned up.
class Attachment {
 public:
  Attachment(CURLM* multi, CURL* easy)
      : multi_(multi), easy_(easy), added_(curl_multi_add_handle(multi, easy) == CURLM_OK) {}
  ~Attachment() {
    if (added_) curl_multi_remove_handle(multi_, easy_);
  }
  Attachment(const Attachment&) = delete;
  Attachment& operator=(const Attachment&) = delete;
  [[nodiscard]] bool added() const { return added_; }

 private:
  CURLM* multi_;
  CURL* easy_;
  bool added_;
};

// What the callbacks collect. They all run inside curl_multi_perform on the
// calling thread, so nothing here needs a lock.
struct Transfer {
  CURL* easy = nullptr;
  std::int64_t maxBody = 0;
  std::int64_t maxHeader = 0;
  std::string headers;       // the current answer's block
  bool answerBegan = false;  // a status line has arrived
  bool blockClosed = false;  // the current block's empty line has arrived
  std::string body;
  bool overBound = false;
  bool connected = false;  // the stall clock runs from the first request sent
  Clock::time_point lastActivity = Clock::now();
  curl_off_t uploaded = 0;
  curl_off_t downloaded = 0;

  void touch() { lastActivity = Clock::now(); }
};

// libcurl takes a status line's "HTTP/" in any case.
bool startsWithHttp(std::string_view line) {
  constexpr std::string_view kHttp = "http/";
  if (line.size() < kHttp.size()) return false;
  for (std::size_t i = 0; i < kHttp.size(); ++i)
    if ((line[i] | 0x20) != kHttp[i]) return false;
  return true;
}

std::size_t onHeaderLine(char* data, std::size_t size, std::size_t count, void* user) {
  auto& t = *static_cast<Transfer*>(user);
  const std::size_t n = size * count;
  std::string_view line(data, n);
  t.touch();
  if (startsWithHttp(line)) {
    // A new answer (after a redirect or a 1xx): only the last one counts.
    t.headers.clear();
    t.body.clear();
    t.answerBegan = true;
    t.blockClosed = false;
  } else if (!t.answerBegan || t.blockClosed) {
    return n;  // trailers of a chunked body
  }
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
    line.remove_suffix(1);
  if (line.empty()) t.blockClosed = true;
  if (static_cast<std::int64_t>(t.headers.size() + line.size() + 2) > t.maxHeader) {
    t.overBound = true;
    return 0;
  }
  try {
    t.headers.append(line).append("\r\n");
  } catch (const std::bad_alloc&) {
    t.overBound = true;
    return 0;
  }
  return n;
}

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& t = *static_cast<Transfer*>(user);
  const std::size_t n = size * count;
  t.touch();
  curl_off_t announced = -1;
  if (t.body.empty() &&
      curl_easy_getinfo(t.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) != CURLE_OK)
    announced = -1;
  // An announced length over the bound ends the transfer before its body.
  if (announced > t.maxBody || static_cast<std::int64_t>(t.body.size() + n) > t.maxBody) {
    t.overBound = true;
    return 0;
  }
  try {
    // One allocation for the whole body when its length is announced.
    if (announced > 0) t.body.reserve(static_cast<std::size_t>(announced));
    t.body.append(data, n);
  } catch (const std::bad_alloc&) {
    t.overBound = true;
    return 0;
  }
  return n;
}

int onProgress(void* user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded) {
  auto& t = *static_cast<Transfer*>(user);
  if (uploaded != t.uploaded || downloaded != t.downloaded) {
    t.uploaded = uploaded;
    t.downloaded = downloaded;
    t.touch();
  }
  return 0;
}

// Called once a connection stands and the request is about to go out.
int onConnected(void* user, char*, char*, int, int) {
  auto& t = *static_cast<Transfer*>(user);
  t.connected = true;
  t.touch();
  return CURL_PREREQFUNC_OK;
}

// Header lines never carry a line break of their own into the request: a lone
// CR or LF would start a header line that nobody wrote.
bool appendHeaderLines(HeaderList& list, std::string_view lines) {
  while (!lines.empty()) {
    const std::size_t end = std::min(lines.find_first_of("\r\n"), lines.size());
    std::string line(lines.substr(0, end));
    lines.remove_prefix(std::min(end + 1, lines.size()));
    if (line.find_first_not_of(' ') == std::string::npos) continue;
    // "Name:" with nothing after it would make libcurl drop its own header of
    // that name instead of sending the line; "Name;" sends it empty.
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos && line.find_first_not_of(' ', colon + 1) == std::string::npos)
      line.replace(colon, std::string::npos, ";");
    // Appending keeps the head; only the first append makes one.
    curl_slist* head = curl_slist_append(list.get(), line.c_str());
    if (head == nullptr) return false;
    if (!list) list.reset(head);
  }
  return true;
}

template <typename T>
bool set(CURL* easy, CURLoption option, T value) {
  return curl_easy_setopt(easy, option, value) == CURLE_OK;
}

bool configure(CURL* easy, const HttpRequest& request, const std::string& address,
               const InternetLimits& limits, Transfer& transfer, HeaderList& headers) {
  for (const std::string& line : request.headerLines)
    if (!appendHeaderLines(headers, line)) return false;
  // A body goes out with the request, without libcurl's wait for a
  // "100 Continue" that older servers never send.
  if (request.body) {
    curl_slist* head = curl_slist_append(headers.get(), "Expect:");
    if (head == nullptr) return false;
    if (!headers) headers.reset(head);
  }

  std::string agent = request.userAgent.substr(0, request.userAgent.find_first_of("\r\n"));
  bool ok =
      set(easy, CURLOPT_URL, address.c_str()) && set(easy, CURLOPT_NOSIGNAL, 1L) &&
      set(easy, CURLOPT_PROTOCOLS_STR, "http,https") &&
      set(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") &&
      set(easy, CURLOPT_HTTP_VERSION,
          request.http10 ? CURL_HTTP_VERSION_1_0 : CURL_HTTP_VERSION_1_1) &&
      set(easy, CURLOPT_HTTPHEADER, headers.get()) &&
      set(easy, CURLOPT_FOLLOWLOCATION, request.followRedirects ? 1L : 0L) &&
      set(easy, CURLOPT_MAXREDIRS, static_cast<long>(limits.maxRedirects)) &&
      set(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L) &&
      set(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectTimeout.count())) &&
      set(easy, CURLOPT_HEADERFUNCTION, onHeaderLine) && set(easy, CURLOPT_HEADERDATA, &transfer) &&
      set(easy, CURLOPT_WRITEFUNCTION, onBody) && set(easy, CURLOPT_WRITEDATA, &transfer) &&
      set(easy, CURLOPT_NOPROGRESS, 0L) && set(easy, CURLOPT_XFERINFOFUNCTION, onProgress) &&
      set(easy, CURLOPT_XFERINFODATA, &transfer) &&
      set(easy, CURLOPT_PREREQFUNCTION, onConnected) && set(easy, CURLOPT_PREREQDATA, &transfer) &&
      // A stop during name resolution must not wait for the resolver thread.
      set(easy, CURLOPT_QUICK_EXIT, 1L) &&
      // libcurl's 16 KiB default costs a pass through the transfer loop per
      // 16 KiB; at 256 KiB a fast download keeps pace with the curl command.
      set(easy, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
  if (!agent.empty()) ok = ok && set(easy, CURLOPT_USERAGENT, agent.c_str());
  if (request.cookieEngine) ok = ok && set(easy, CURLOPT_COOKIEFILE, "");
  if (!limits.caFile.empty()) ok = ok && set(easy, CURLOPT_CAINFO, limits.caFile.c_str());
  switch (request.proxyChoice) {
    case ProxyChoice::system:
      break;  // libcurl reads the proxy environment itself
    case ProxyChoice::direct:
      ok = ok && set(easy, CURLOPT_PROXY, "");
      break;
    case ProxyChoice::given:
      ok = ok && set(easy, CURLOPT_PROXY, request.proxy.c_str()) && set(easy, CURLOPT_NOPROXY, "");
      break;
  }

  const bool post = request.verb == "POST";
  if (request.body) {
    ok = ok &&
         set(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body->size())) &&
         set(easy, CURLOPT_POSTFIELDS, request.body->data());
    if (!post) ok = ok && set(easy, CURLOPT_CUSTOMREQUEST, request.verb.c_str());
  } else if (request.verb == "GET") {
    ok = ok && set(easy, CURLOPT_HTTPGET, 1L);
  } else {
    ok = ok && set(easy, CURLOPT_CUSTOMREQUEST, request.verb.c_str());
  }
  return ok;
}

// Drives the one transfer until it ends, the thread is stopped or it stalls.
// curl_multi_poll returns at once when the stop callback wakes it, so a stop
// does not wait for libcurl's next timer tick.
HttpOutcome drive(CURLM* multi, Transfer& transfer, const std::stop_token& stop,
                  std::chrono::milliseconds stallTimeout, CURLcode& result) {
  for (;;) {
    if (stop.stop_requested()) return HttpOutcome::stopped;
    int running = 0;
    if (curl_multi_perform(multi, &running) != CURLM_OK) return HttpOutcome::failed;
    if (running == 0) break;
    if (stop.stop_requested()) return HttpOutcome::stopped;
    auto wait = kLongestPoll;
    if (transfer.connected) {
      const auto idle = Clock::now() - transfer.lastActivity;
      if (idle >= stallTimeout) return HttpOutcome::timedOut;
      wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(stallTimeout - idle));
    }
    if (curl_multi_poll(multi, nullptr, 0, static_cast<int>(wait.count()), nullptr) != CURLM_OK)
      return HttpOutcome::failed;
  }
  result = CURLE_GOT_NOTHING;
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi, &left))
    if (message->msg == CURLMSG_DONE) result = message->data.result;
  return HttpOutcome::complete;
}

HttpOutcome outcomeOf(CURLcode result, const Transfer& transfer) {
  if (transfer.overBound) return HttpOutcome::tooLarge;
  switch (result) {
    case CURLE_OK:
      return HttpOutcome::complete;
    case CURLE_OPERATION_TIMEDOUT:
      return HttpOutcome::timedOut;
    case CURLE_TOO_MANY_REDIRECTS:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
      return HttpOutcome::failed;
    default:
      return transfer.answerBegan ? HttpOutcome::broken : HttpOutcome::failed;
  }
}

// "HTTP/1.1 404 Not Found" gives 404; anything unreadable gives 0.
std::int32_t statusOf(std::string_view headers) {
  const std::size_t space = headers.find(' ');
  if (space == std::string_view::npos) return 0;
  std::int32_t status = 0;
  for (std::size_t i = space + 1; i < headers.size() && i < space + 4; ++i) {
    if (headers[i] < '0' || headers[i] > '9') return 0;
    status = status * 10 + (headers[i] - '0');
  }
  return status;
}

}  // namespace

InternetLimits internetLimits() {
  std::lock_guard guard(limitsMutex);
  return currentLimits();
}

void setInternetLimits(const InternetLimits& limits) {
  std::lock_guard guard(limitsMutex);
  currentLimits() = limits;
}

std::optional<std::string> usableHttpAddress(std::string_view url) {
  constexpr std::string_view kBlank = " \t\r\n\f\v";
  const std::size_t first = url.find_first_not_of(kBlank);
  if (first == std::string_view::npos) return std::nullopt;
  url = url.substr(first, url.find_last_not_of(kBlank) - first + 1);

  // The URL parser refuses spaces and control bytes; escaped, they reach the
  // server as the same bytes.
  std::string escaped;
  for (const char c : url) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F) {
      constexpr char kHex[] = "0123456789ABCDEF";
      escaped += '%';
      escaped += kHex[byte >> 4];
      escaped += kHex[byte & 0x0F];
    } else {
      escaped += c;
    }
  }

  UrlHandle parsed(curl_url());
  if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, escaped.c_str(),
                              CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK)
    return std::nullopt;
  char* raw = nullptr;
  if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &raw, 0) != CURLUE_OK) return std::nullopt;
  const CurlString scheme(raw);
  if (std::string_view(scheme.get()) != "http" && std::string_view(scheme.get()) != "https")
    return std::nullopt;
  if (curl_url_set(parsed.get(), CURLUPART_FRAGMENT, nullptr, 0) != CURLUE_OK ||
      curl_url_get(parsed.get(), CURLUPART_URL, &raw, 0) != CURLUE_OK)
    return std::nullopt;
  const CurlString whole(raw);
  return std::string(whole.get());
}

HttpResponse performHttpRequest(const HttpRequest& request) {
  HttpResponse response;
  const std::stop_token stop = currentStopToken();
  if (stop.stop_requested()) {
    response.outcome = HttpOutcome::stopped;
    return response;
  }
  const std::optional<std::string> address = usableHttpAddress(request.url);
  if (!address) {
    response.outcome = HttpOutcome::badAddress;
    return response;
  }
  if (!sessionReady()) return response;
  const InternetLimits limits = internetLimits();

  EasyHandle easy(curl_easy_init());
  MultiHandle multi(curl_multi_init());
  if (!easy || !multi) return response;
  Transfer transfer;
  transfer.easy = easy.get();
  transfer.maxBody = limits.maxBodyBytes;
  transfer.maxHeader = limits.maxHeaderBytes;
  HeaderList headers;
  if (!configure(easy.get(), request, *address, limits, transfer, headers)) return response;

  const Attachment attachment(multi.get(), easy.get());
  if (!attachment.added()) return response;
  // curl_multi_wakeup may be called from any thread. The callback is
  // unregistered (waiting for a running one) before the handles go away.
  const std::stop_callback wake(stop, [m = multi.get()] { curl_multi_wakeup(m); });

  CURLcode result = CURLE_OK;
  response.outcome = drive(multi.get(), transfer, stop, limits.stallTimeout, result);
  if (response.outcome == HttpOutcome::complete) response.outcome = outcomeOf(result, transfer);
  if (response.outcome == HttpOutcome::stopped) return response;

  response.rawHeaders = std::move(transfer.headers);
  response.status = statusOf(response.rawHeaders);
  if (response.outcome == HttpOutcome::complete) response.body = std::move(transfer.body);
  return response;
}

Bytes httpReadFile(const Text& url) {
  if (url.empty()) return Bytes();
  HttpRequest request;
  request.url = url.str().substr(0, url.str().find('#'));
  request.http10 = true;
  request.userAgent = kImageAgent;
  request.headerLines = {"Accept: */*"};
  HttpResponse response = performHttpRequest(request);
  if (response.outcome != HttpOutcome::complete || response.status < 200 || response.status > 299)
    return Bytes();
  return Bytes(std::move(response.body));
}
