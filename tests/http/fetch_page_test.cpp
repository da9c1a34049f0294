#include "http/fetch_page.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <optional>
#include <string>

#include "runtime/internet.h"
#include "runtime/threads.h"
#include "support/environment.h"
#include "support/internet_fixture.h"
#include "support/test_server.h"

namespace {

using namespace std::chrono_literals;

const std::string kDefaultAgent =
    "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1; QZ7TB; .NET CLR 2.0.50727; .NET CLR "
    "3.0.04506.648; .NET CLR 3.5.21022)";
const std::string kFormType = "Content-Type: application/x-www-form-urlencoded";

// The block a call completes for caller lines that hold none of its lines.
std::string addedLines(const std::string& url) {
  return "Referer: " + url + "\r\nAccept: */*\r\nAccept-Language: zh-cn\r\n" + kFormType;
}

Bytes fetch(const std::string& url, FetchPageOptions& options) {
  return fetchPage(Text(url), options);
}

using FetchPageTest = InternetFixture;

TEST_F(FetchPageTest, AddressAloneSendsTheFourLineBlock) {
  TestServer server(answerWith(httpAnswer("HTTP/1.1 200 OK", "<html>page</html>")));
  const std::string url = server.url("/zh-CN/windows/wallpaper/?T1=all");

  EXPECT_EQ(fetchPage(Text(url)).str(), "<html>page</html>");

  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].raw,
            "GET /zh-CN/windows/wallpaper/?T1=all HTTP/1.1\r\n"
            "Host: " +
                server.hostPort() +
                "\r\n"
                "User-Agent: " +
                kDefaultAgent + "\r\n" + addedLines(url) + "\r\n\r\n");

  FetchPageOptions options;
  EXPECT_EQ(fetch(url, options).str(), "<html>page</html>");
  EXPECT_EQ(options.extraHeaders.str(), addedLines(url));
}

TEST_F(FetchPageTest, HeaderBlockIsCompletedInPlace) {
  TestServer server(answerWith(httpAnswer("HTTP/1.1 200 OK", "ok")));
  const std::string url = server.url("/page");
  const std::string tail = "\r\nAccept: */*\r\nAccept-Language: zh-cn\r\n" + kFormType;
  struct Case {
    const char* name;
    std::string extraHeaders;
    std::optional<std::string> cookieText;
    std::string block;
  };
  const Case cases[] = {
      {"caller's line first", "X-Mine: 1", std::nullopt, "X-Mine: 1\r\nReferer: " + url + tail},
      {"lower-case referer is another line", "referer: x", std::nullopt,
       "referer: x\r\nReferer: " + url + tail},
      {"every line present", "Referer: r\r\nAccept: a\r\nAccept-Language: l\r\nContent-Type: c",
       std::nullopt, "Referer: r\r\nAccept: a\r\nAccept-Language: l\r\nContent-Type: c"},
      {"found inside another line", "X-Note: Referer: Accept: Content-Type:", std::nullopt,
       "X-Note: Referer: Accept: Content-Type:\r\nAccept-Language: zh-cn"},
      {"cookie text", "", "a=1; b=2", addedLines(url) + "\r\nCookie: a=1; b=2"},
      {"cookie line beside the caller's", "Cookie: c=3", "a=1",
       "Cookie: c=3\r\nReferer: " + url + tail + "\r\nCookie: a=1"},
      {"given but empty cookie text", "", "", addedLines(url)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FetchPageOptions options;
    options.extraHeaders = Text(c.extraHeaders);
    if (c.cookieText) options.cookieText = Text(*c.cookieText);
    EXPECT_EQ(fetch(url, options).str(), "ok");
    EXPECT_EQ(options.extraHeaders.str(), c.block);
    // Sent as completed, after the host and agent lines.
    EXPECT_TRUE(server.requests().back().raw.ends_with("\r\n" + c.block + "\r\n\r\n"))
        << server.requests().back().raw;
  }
}

TEST_F(FetchPageTest, AgentString) {
  struct Case {
    const char* name;
    const char* extraHeaders;
    std::string agent;
  };
  const Case cases[] = {
      {"none given", "Accept: a", kDefaultAgent},
      {"a line of its own", "User-Agent: X\r\nAccept: a", "X"},
      {"in any case", "user-agent:  X y \r\n", "X y"},
      {"last line: the whole text after the first colon", "Accept: text/html\r\nUser-Agent: X",
       "text/html\r\nUser-Agent: X"},
      {"empty value: the whole text after the first colon", "User-Agent:\r\nAccept: a",
       "\r\nAccept: a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(pageAgent(Text(c.extraHeaders)).str(), c.agent);
  }
}

TEST_F(FetchPageTest, AgentOnTheWire) {
  TestServer server(answerWith(httpAnswer("HTTP/1.1 200 OK", "ok")));
  struct Case {
    const char* name;
    const char* extraHeaders;
    const char* userAgent;  // the one User-Agent line the server sees
  };
  const Case cases[] = {
      {"caller's own line", "user-agent: X", "X"},
      {"agent named inside another line", "X-Note: see User-Agent: Z", "see User-Agent: Z"},
      // The agent string holds a line break here; it must not start a header.
      {"agent string with a line break", "X-Note: User-Agent:\r\nX-Other: 1", "User-Agent:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FetchPageOptions options;
    options.extraHeaders = Text(c.extraHeaders);
    EXPECT_EQ(fetch(server.url("/"), options).str(), "ok");
    const ReceivedRequest request = server.requests().back();
    EXPECT_EQ(request.headerCount("User-Agent"), 1u) << request.raw;
    EXPECT_EQ(request.header("User-Agent"), c.userAgent);
    EXPECT_LE(request.headerCount("X-Other"), 1u);
  }
}

TEST_F(FetchPageTest, ResponseHeaderScan) {
  struct Case {
    const char* name;
    std::string headerLines;
    std::string redirectBefore;
    std::optional<std::string> redirectAfter;  // nullopt: the whole header text
    std::string responseCookies;
  };
  const Case cases[] = {
      {"Content-Location counts as Location", "Content-Location: /a\r\n", "", "/a", ""},
      {"last Location line wins", "Location: /1\r\nX: 2\r\nLocation:  /2 \r\n", "old", "/2", ""},
      {"no Location: the whole header text", "X: 1\r\n", "", std::nullopt, ""},
      {"no Location keeps the caller's value", "X: 1\r\n", "mine", "mine", ""},
      {"cookies up to their first semicolon",
       "Set-Cookie: sid=1; path=/\r\nSet-Cookie: t=2\r\nX-Set-Cookie-Note: SET-COOKIE: u=3;\r\n",
       "", std::nullopt, "sid=1; ; u=3; "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string answer = httpAnswer("HTTP/1.1 200 OK", "ok", c.headerLines);
    TestServer server(answerWith(answer));
    FetchPageOptions options;
    options.redirectAddress = Text(c.redirectBefore);
    options.responseCookies = Text("stale");
    EXPECT_EQ(fetch(server.url("/"), options).str(), "ok");
    EXPECT_EQ(options.rawHeaders.str(), answer.substr(0, answer.size() - 2));
    EXPECT_EQ(options.redirectAddress.str(), c.redirectAfter.value_or(options.rawHeaders.str()));
    EXPECT_EQ(options.responseCookies.str(), c.responseCookies);
  }
}

TEST_F(FetchPageTest, HeaderBlockLongerThan5000BytesIsKeptWhole) {
  const std::string lines =
      "X-Filler: " + std::string(6000, 'f') + "\r\nSet-Cookie: big=1; path=/\r\nLocation: /far\r\n";
  const std::string answer = httpAnswer("HTTP/1.1 200 OK", "ok", lines);
  TestServer server(answerWith(answer));
  FetchPageOptions options;
  EXPECT_EQ(fetch(server.url("/"), options).str(), "ok");
  EXPECT_EQ(options.rawHeaders.str(), answer.substr(0, answer.size() - 2));
  EXPECT_EQ(options.responseCookies.str(), "big=1; ");
  EXPECT_EQ(options.redirectAddress.str(), "/far");
}

// The first request gets the status line under test with a Location of the
// server's bare address; any later one the final page.
TEST_F(FetchPageTest, MovedAnswersAreRepeatedAtTheSamePath) {
  struct Case {
    const char* name;
    const char* statusLine;
    bool repeated;
  };
  const Case cases[] = {
      {"301 Moved", "HTTP/1.1 301 Moved Permanently", true},
      {"in any case", "http/1.1 301 moved", true},
      {"302", "HTTP/1.1 302 Found", false},
      {"HTTP/1.0", "HTTP/1.0 301 Moved Permanently", false},
      {"not Moved", "HTTP/1.1 301 Redirect", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string base;
    std::atomic<int> answered{0};
    TestServer server([&](ServerExchange& e) {
      if (answered++ == 0)
        e.send(httpAnswer(c.statusLine, "first", "Location: " + base + "\r\n"));
      else
        e.send(httpAnswer("HTTP/1.1 200 OK", "final"));
    });
    base = server.url("");
    FetchPageOptions options;
    options.noRedirect = 1;
    EXPECT_EQ(fetch(server.url("/a/b?c=1"), options).str(), c.repeated ? "final" : "first");
    ASSERT_EQ(server.requests().size(), c.repeated ? 2u : 1u);
    if (c.repeated) {
      EXPECT_EQ(server.requests()[1].target, "/a/b?c=1");
    }
  }
}

TEST_F(FetchPageTest, RepeatCarriesTheCompletedBlockAndMergedCookies) {
  std::string base;
  TestServer server([&](ServerExchange& e) {
    if (e.request().target == "/a")
      e.send(httpAnswer("HTTP/1.1 301 Moved Permanently", "",
                        "Set-Cookie: s=2; path=/\r\nLocation: " + base + "/x\r\n"));
    else
      e.send(httpAnswer("HTTP/1.1 200 OK", "final"));
  });
  base = server.url("");
  const std::string url = server.url("/a");
  FetchPageOptions options;
  options.noRedirect = 1;
  options.cookieText = Text("a=1");
  EXPECT_EQ(fetch(url, options).str(), "final");

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  // A Location with a path gets the old path appended.
  EXPECT_EQ(requests[1].target, "/x/a");
  EXPECT_EQ(requests[1].header("Referer"), url);
  EXPECT_EQ(requests[1].headerCount("Referer"), 1u);
  EXPECT_EQ(requests[0].header("Cookie"), "a=1");
  EXPECT_TRUE(requests[1].raw.find("\r\nCookie: a=1\r\nCookie: s=2; a=1\r\n") != std::string::npos)
      << requests[1].raw;
  EXPECT_EQ(options.cookieText, Text("s=2; a=1"));
  EXPECT_EQ(options.extraHeaders.str(), addedLines(url) + "\r\nCookie: a=1\r\nCookie: s=2; a=1");
  EXPECT_EQ(options.redirectAddress, options.rawHeaders);
}

// A Set-Cookie value whose last character is a lead byte takes the CR LF
// after it as its second byte, so its line runs on into the next header.
TEST_F(FetchPageTest, NoHeaderOfTheServerRidesAlongInTheRepeatsCookies) {
  std::string base;
  TestServer server([&](ServerExchange& e) {
    if (e.request().target == "/a")
      e.send(httpAnswer(
          "HTTP/1.1 301 Moved Permanently", "",
          "Set-Cookie: s=\xB0\r\nX-Injected: yes; path=/\r\nSet-Cookie: t=3; path=/\r\nLocation: " +
              base + "/x\r\n"));
    else
      e.send(httpAnswer("HTTP/1.1 200 OK", "final"));
  });
  base = server.url("");
  FetchPageOptions options;
  options.noRedirect = 1;
  options.cookieText = Text("a=1");
  EXPECT_EQ(fetch(server.url("/a"), options).str(), "final");

  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].header("X-Injected"), std::nullopt) << requests[1].raw;
  EXPECT_EQ(options.responseCookies.str().find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(options.cookieText->str().find_first_of("\r\n"), std::string::npos);
  EXPECT_NE(options.cookieText->str().find("t=3"), std::string::npos);
}

TEST_F(FetchPageTest, MovedRepeatsAreBounded) {
  std::string base;
  TestServer server([&](ServerExchange& e) {
    e.send(httpAnswer("HTTP/1.1 301 Moved Permanently", "loop", "Location: " + base + "\r\n"));
  });
  base = server.url("");
  FetchPageOptions options;
  options.noRedirect = 1;
  EXPECT_TRUE(fetch(server.url("/p"), options).empty());
  EXPECT_EQ(server.requests().size(), static_cast<std::size_t>(kMaxMovedRepeats) + 1);
  EXPECT_EQ(options.redirectAddress.str(), base);
}

TEST_F(FetchPageTest, ClientFollowsRedirectsUnlessTold) {
  std::string base;
  TestServer server([&base](ServerExchange& e) {
    if (e.request().target == "/a")
      e.send(httpAnswer("HTTP/1.1 301 Moved Permanently", "moved", "Location: " + base + "/b\r\n"));
    else
      e.send(httpAnswer("HTTP/1.1 200 OK", "final"));
  });
  base = server.url("");
  for (const std::int32_t noRedirect : {0, 7}) {
    SCOPED_TRACE(noRedirect);
    const std::size_t before = server.requests().size();
    FetchPageOptions options;
    options.noRedirect = noRedirect;
    // Told not to, the repeat still happens, at "/b" followed by the old path.
    EXPECT_EQ(fetch(server.url("/a"), options).str(), "final");
    ASSERT_EQ(server.requests().size(), before + 2);
    EXPECT_EQ(server.requests().back().target, noRedirect == 0 ? "/b" : "/b/a");
  }
}

TEST_F(FetchPageTest, Utf8PagesAreConvertedByTheCharsetRule) {
  const std::string utf8 = "\xe4\xb8\xad\xe6\x96\x87";  // 中文
  const std::string gbk = "\xd6\xd0\xce\xc4";
  const std::string marker = "charset=utf-8";
  struct Case {
    const char* name;
    std::string headerLines;
    std::string beforeText;  // body bytes before the Chinese text
    bool converted;
  };
  const Case cases[] = {
      {"marker at byte 499", "", std::string(498, 'x') + marker, true},
      {"marker at byte 500", "", std::string(499, 'x') + marker, false},
      {"marker at byte 500, header too", "Content-Type: text/html; charset=utf-8\r\n",
       std::string(499, 'x') + marker, true},
      {"header only", "Content-Type: text/html; charset=utf-8\r\n", "", true},
      {"header in capitals", "Content-Type: text/html; charset=UTF-8\r\n", "", false},
      {"body in capitals", "", "<meta charset=UTF-8>", false},
      {"no marker", "", "<html>", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestServer server(
        answerWith(httpAnswer("HTTP/1.1 200 OK", c.beforeText + utf8 + "!", c.headerLines)));
    EXPECT_EQ(fetchPage(Text(server.url("/"))).str(),
              c.beforeText + (c.converted ? gbk : utf8) + "!");
  }
}

TEST_F(FetchPageTest, MethodAndBody) {
  TestServer server(answerWith(httpAnswer("HTTP/1.1 200 OK", "ok")));
  struct Case {
    const char* name;
    std::int32_t method;
    std::string postText;
    std::string postBytes;
    const char* verb;
    std::optional<std::string> body;  // nullopt: none sent
  };
  const Case cases[] = {
      {"0 gets without a body", 0, "a=1", "", "GET", std::nullopt},
      {"1 posts the text when the bytes are empty", 1, "a=1", "", "POST", "a=1"},
      {"1 posts the bytes before the text", 1, "a=1", std::string("b\0=2", 4), "POST",
       std::string("b\0=2", 4)},
      {"1 with nothing posts nothing", 1, "", "", "POST", ""},
      {"2 gets with a body", 2, "x=2", "", "GET", "x=2"},
      {"-1 gets with a body", -1, "", "y", "GET", "y"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FetchPageOptions options;
    options.method = c.method;
    options.postText = Text(c.postText);
    options.postBytes = Bytes(c.postBytes);
    EXPECT_EQ(fetch(server.url("/form"), options).str(), "ok");
    const ReceivedRequest request = server.requests().back();
    EXPECT_EQ(request.method, c.verb);
    EXPECT_EQ(request.body, c.body.value_or(""));
    EXPECT_EQ(request.header("Content-Length"),
              c.body ? std::optional(std::to_string(c.body->size())) : std::nullopt);
    EXPECT_EQ(request.header("Expect"), std::nullopt);
    EXPECT_EQ(request.headerCount("Content-Type"), 1u);
    EXPECT_EQ(options.postBytes.str(), c.body.value_or(c.postBytes));
  }
}

TEST_F(FetchPageTest, GivenCookieTextReplacesTheClientsCookies) {
  // "/a" sets a cookie and sends the client on to "/b", which sets two more.
  TestServer server([](ServerExchange& e) {
    if (e.request().target == "/a")
      e.send(httpAnswer("HTTP/1.1 302 Found", "", "Set-Cookie: jar=1; path=/\r\nLocation: /b\r\n"));
    else
      e.send(httpAnswer("HTTP/1.1 200 OK", "ok",
                        "Set-Cookie: sid=1; path=/\r\nSet-Cookie: lang=en zh; path=/\r\n"));
  });
  struct Case {
    const char* name;
    std::optional<std::string> cookieText;
    std::optional<std::string> cookieAtB;  // the Cookie line of the second request
    std::string responseCookies;
    std::optional<std::string> cookieTextAfter;
  };
  const Case cases[] = {
      {"omitted: the client's own", std::nullopt, "jar=1", "sid=1; lang=en zh; ", std::nullopt},
      {"given empty: none", "", std::nullopt, "sid=1;lang=enzh;", "sid=1; lang=enzh"},
      {"given: its own line only", "lang=fr; old=1", "lang=fr; old=1", "sid=1;lang=enzh;",
       "sid=1; lang=enzh; old=1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t before = server.requests().size();
    FetchPageOptions options;
    if (c.cookieText) options.cookieText = Text(*c.cookieText);
    EXPECT_EQ(fetch(server.url("/a"), options).str(), "ok");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), before + 2);
    EXPECT_EQ(requests.back().header("Cookie"), c.cookieAtB);
    EXPECT_LE(requests.back().headerCount("Cookie"), 1u);
    EXPECT_EQ(options.responseCookies.str(), c.responseCookies);
    EXPECT_EQ(options.cookieText.has_value(), c.cookieTextAfter.has_value());
    if (c.cookieTextAfter) {
      EXPECT_EQ(options.cookieText->str(), *c.cookieTextAfter);
    }
  }
}

TEST_F(FetchPageTest, ProxyOnlyWhenGivenAndNotEmpty) {
  TestServer proxy(answerWith(httpAnswer("HTTP/1.1 200 OK", "via proxy")));
  TestServer origin(answerWith(httpAnswer("HTTP/1.1 200 OK", "direct")));
  // The environment names the proxy too: the page request never uses it.
  const ScopedEnv environmentProxy("http_proxy", "http://" + proxy.hostPort());
  struct Case {
    const char* name;
    std::optional<std::string> proxy;
    std::string url;
    const char* body;
  };
  const Case cases[] = {
      {"omitted", std::nullopt, origin.url("/p"), "direct"},
      {"given but empty", "", origin.url("/p"), "direct"},
      {"given", proxy.hostPort(), "http://gallery.invalid/p?q=1", "via proxy"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FetchPageOptions options;
    if (c.proxy) options.proxy = Text(*c.proxy);
    EXPECT_EQ(fetch(c.url, options).str(), c.body);
  }
  ASSERT_EQ(proxy.requests().size(), 1u);
  EXPECT_EQ(proxy.requests()[0].target, "http://gallery.invalid/p?q=1");
  EXPECT_EQ(proxy.requests()[0].header("Referer"), "http://gallery.invalid/p?q=1");
  EXPECT_EQ(origin.requests().size(), 2u);
}

TEST_F(FetchPageTest, UnusableAddressChangesNothing) {
  const std::string addresses[] = {"http:///page", "http://bad host/page", "http://h:99999/page",
                                   ""};
  for (const std::string& address : addresses) {
    SCOPED_TRACE(address);
    FetchPageOptions options;
    options.extraHeaders = Text("X: 1");
    options.redirectAddress = Text("r");
    options.rawHeaders = Text("h");
    options.method = 1;
    options.postText = Text("a=1");
    EXPECT_TRUE(fetch(address, options).empty());
    EXPECT_EQ(options.extraHeaders.str(), "X: 1");
    EXPECT_EQ(options.redirectAddress.str(), "r");
    EXPECT_EQ(options.rawHeaders.str(), "h");
    EXPECT_TRUE(options.postBytes.empty());
  }
}

TEST_F(FetchPageTest, FailedTransfersYieldNoPage) {
  setLimits([](InternetLimits& l) {
    l.stallTimeout = 300ms;
    l.maxBodyBytes = 1000;
  });
  const std::string blank(5000, ' ');
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 800\r\n\r\n";
  const std::string largeHead = "HTTP/1.1 200 OK\r\nContent-Length: 2000\r\n\r\n";
  struct Case {
    const char* name;
    ServerHandler handler;
    std::string rawHeaders;
  };
  const Case cases[] = {
      {"silent server", [](ServerExchange& e) { e.stall(); }, blank},
      {"closed without a word", [](ServerExchange&) {}, blank},
      {"stalls within the body",
       [&](ServerExchange& e) {
         if (e.send(head + std::string(500, 'x'))) e.stall();
       },
       head},
      {"body cut short", answerWith(head + std::string(500, 'x')), head},
      {"body over the bound", answerWith(largeHead + std::string(2000, 'x')), largeHead},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestServer server(c.handler);
    FetchPageOptions options;
    EXPECT_TRUE(fetch(server.url("/"), options).empty());
    EXPECT_EQ(options.rawHeaders.str(), c.rawHeaders);
    EXPECT_EQ(options.redirectAddress.str(), c.rawHeaders);
    EXPECT_EQ(options.extraHeaders.str(), addedLines(server.url("/")));
  }
}

TEST_F(FetchPageTest, UnreachableServerRunsToTheEnd) {
  const std::string url = "http://127.0.0.1:" + std::to_string(closedPort()) + "/";
  FetchPageOptions options;
  options.cookieText = Text("a=1");
  EXPECT_TRUE(fetch(url, options).empty());
  EXPECT_EQ(options.extraHeaders.str(), addedLines(url) + "\r\nCookie: a=1");
  EXPECT_EQ(options.rawHeaders, blankText(5000));
  EXPECT_EQ(options.redirectAddress, blankText(5000));
  EXPECT_EQ(options.cookieText, Text("a=1"));
}

TEST_F(FetchPageTest, ConnectTimeOut) {
  setLimits([](InternetLimits& l) { l.connectTimeout = 300ms; });
  UnansweredPort unanswered;
  ASSERT_NE(unanswered.port(), 0);
  FetchPageOptions options;
  EXPECT_TRUE(
      fetch("http://127.0.0.1:" + std::to_string(unanswered.port()) + "/", options).empty());
  EXPECT_EQ(options.rawHeaders, blankText(5000));
}

TEST_F(FetchPageTest, HttpsChecksTheCertificate) {
  TempFolder folder;
  const std::optional<TlsIdentity> identity = makeTestCertificate(folder.path());
  ASSERT_TRUE(identity.has_value());
  TestServer server(answerWith(httpAnswer("HTTP/1.1 200 OK", "secure page")), &*identity);
  const std::string port = std::to_string(server.port());
  struct Case {
    const char* name;
    std::string url;
    std::string caFile;
    std::optional<std::string> proxy;
    const char* body;
  };
  const Case cases[] = {
      {"trusted", "https://127.0.0.1:" + port + "/p", identity->certificateFile, std::nullopt,
       "secure page"},
      {"scheme in capitals", "HTTPS://127.0.0.1:" + port + "/p", identity->certificateFile,
       std::nullopt, "secure page"},
      {"an http proxy does not serve https", "https://127.0.0.1:" + port + "/p",
       identity->certificateFile, "127.0.0.1:" + std::to_string(closedPort()), "secure page"},
      {"untrusted", "https://127.0.0.1:" + port + "/p", "", std::nullopt, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InternetLimits limits = internetLimits();
    limits.caFile = c.caFile;
    setInternetLimits(limits);
    FetchPageOptions options;
    if (c.proxy) options.proxy = Text(*c.proxy);
    EXPECT_EQ(fetch(c.url, options).str(), c.body);
  }
}

// A fetch on a thread made by startThread, handed back to the test.
struct StoppableFetch {
  std::string url;
  FetchPageOptions options{};
  std::promise<Bytes> result{};
};
StoppableFetch* stoppable = nullptr;

void fetchRoutine(std::int32_t) {
  stoppable->result.set_value(fetch(stoppable->url, stoppable->options));
}

TEST_F(FetchPageTest, StopEndsTheRequestWithoutFurtherEffect) {
  TestServer server([](ServerExchange& e) {
    if (e.send("HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nContent-Length: 90000\r\n\r\n<html>"))
      e.stall();
  });
  StoppableFetch state{.url = server.url("/")};
  state.options.cookieText = Text("old=1");
  state.options.redirectAddress = Text("before");
  state.options.rawHeaders = Text("before");
  stoppable = &state;
  std::future<Bytes> result = state.result.get_future();
  const ThreadHandle thread = startThread(fetchRoutine);
  ASSERT_NE(thread, 0);
  ASSERT_TRUE(server.waitForRequests(1));
  EXPECT_EQ(result.wait_for(0s), std::future_status::timeout) << "ended before the stop";

  killThread(thread);
  ASSERT_EQ(result.wait_for(1s), std::future_status::ready) << "the stop did not end the request";
  EXPECT_TRUE(result.get().empty());
  EXPECT_TRUE(waitThread(thread));
  EXPECT_EQ(state.options.rawHeaders.str(), "before");
  EXPECT_EQ(state.options.redirectAddress.str(), "before");
  EXPECT_EQ(state.options.cookieText, Text("old=1"));
}

}  // namespace
