#include "runtime/internet.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "runtime/threads.h"
#include "support/environment.h"
#include "support/test_server.h"

namespace {

using namespace std::chrono_literals;

constexpr char kImageAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

// Bytes of every value, zeros included, different for each seed.
std::string binaryBody(std::size_t size, unsigned seed = 1) {
  std::string body(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    body[i] = static_cast<char>((i * 31 + seed * 7) % 256);
  return body;
}

Bytes readFile(const std::string& url) {
  return httpReadFile(Text(url));
}

// The bytes a server reads out of a request target.
std::string percentDecoded(std::string_view target) {
  std::string out;
  for (std::size_t i = 0; i < target.size(); ++i) {
    if (target[i] == '%' && i + 2 < target.size()) {
      out += static_cast<char>(std::stoi(std::string(target.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += target[i];
    }
  }
  return out;
}

// Every test starts from the program's limits and without a proxy from the
// machine's environment, and restores both.
class Internet : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = internetLimits(); }
  void TearDown() override { setInternetLimits(saved_); }

  static void setLimits(void (*change)(InternetLimits&)) {
    InternetLimits limits = internetLimits();
    change(limits);
    setInternetLimits(limits);
  }

 private:
  NoProxyEnvironment noProxy_;
  InternetLimits saved_;
};

TEST_F(Internet, ImageRequestIsExactAndBodyComesBackWhole) {
  const std::string body = binaryBody(70'000);
  TestServer server(
      answerWith(httpAnswer("HTTP/1.1 200 OK", body, "Content-Type: image/jpeg\r\n")));
  ASSERT_TRUE(server.listening());

  EXPECT_EQ(readFile(server.url("/img/a.jpg?w=1#part")).str(), body);

  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].raw,
            "GET /img/a.jpg?w=1 HTTP/1.0\r\n"
            "Host: " +
                server.hostPort() +
                "\r\n"
                "User-Agent: " +
                std::string(kImageAgent) +
                "\r\n"
                "Accept: */*\r\n"
                "\r\n");
}

TEST_F(Internet, AddressReachesTheServerCleaned) {
  struct Case {
    const char* name;
    const char* address;  // after "http://127.0.0.1:port"
    const char* target;   // as the server decodes it
  };
  const Case cases[] = {
      {"fragment cut", "/a.jpg#b?c", "/a.jpg"},
      {"space", "/my wall.jpg", "/my wall.jpg"},
      {"dot segments resolved", "/x/../y/./a.jpg", "/y/a.jpg"},
      {"query kept", "/a.jpg?x=1&y=2", "/a.jpg?x=1&y=2"},
      {"double-byte characters", "/\xb1\xda\xd6\xbd.jpg", "/\xb1\xda\xd6\xbd.jpg"},
  };
  TestServer server(answerWith(httpAnswer("HTTP/1.1 200 OK", "ok")));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t before = server.requests().size();
    EXPECT_EQ(readFile(server.url(c.address)).str(), "ok");
    ASSERT_EQ(server.requests().size(), before + 1);
    EXPECT_EQ(percentDecoded(server.requests().back().target), c.target);
  }
  SCOPED_TRACE("scheme in capitals");
  EXPECT_EQ(readFile("HTTP://" + server.hostPort() + "/a.jpg").str(), "ok");
}

TEST_F(Internet, AddressesThatAreNotFetched) {
  TestServer server(answerWith(httpAnswer("HTTP/1.1 200 OK", "body")));
  const std::string hostPort = server.hostPort();
  const std::string addresses[] = {
      "",
      "#http://" + hostPort + "/a.jpg",
      "ftp://" + hostPort + "/a.jpg",
      "file:///etc/hostname",
      "gopher://" + hostPort + "/a.jpg",
      hostPort + "/a.jpg",
      "http://",
      "http:///a.jpg",
  };
  for (const std::string& address : addresses) {
    SCOPED_TRACE(address);
    EXPECT_TRUE(readFile(address).empty());
  }
  EXPECT_TRUE(server.requests().empty());
}

// An error page or a half image must never reach the caller as an image.
TEST_F(Internet, AnswersThatAreNotAWholeImageYieldNothing) {
  struct Case {
    const char* name;
    ServerHandler handler;
  };
  const std::string page = "<html><body>Not here</body></html>";
  const Case cases[] = {
      {"404 page", answerWith(httpAnswer("HTTP/1.1 404 Not Found", page))},
      {"500 page", answerWith(httpAnswer("HTTP/1.1 500 Internal Server Error", page))},
      {"304", answerWith(httpAnswer("HTTP/1.1 304 Not Modified", ""))},
      {"redirect without target", answerWith(httpAnswer("HTTP/1.1 302 Found", page))},
      {"body shorter than its length",
       [](ServerExchange& e) {
         e.send("HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n" + binaryBody(1200));
       }},
      {"headers cut off", answerWith("HTTP/1.1 200 OK\r\nContent-Len")},
      {"nothing at all", [](ServerExchange&) {}},
      {"chunked body cut off",
       answerWith("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\n0123456789")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestServer server(c.handler);
    EXPECT_TRUE(readFile(server.url("/a.jpg")).empty());
    EXPECT_EQ(server.requests().size(), 1u);
  }
}

TEST_F(Internet, AnswersWithoutLengthRunToTheEnd) {
  // HTTP/1.0 style: the body ends when the server closes.
  const std::string body = binaryBody(300'000);
  TestServer server(answerWith("HTTP/1.0 200 OK\r\nContent-Type: image/jpeg\r\n\r\n" + body));
  EXPECT_EQ(readFile(server.url("/a.jpg")).str(), body);
}

TEST_F(Internet, RedirectsAreFollowedToHttpAndHttpsOnly) {
  // Every target names this server, which answers whatever reaches it.
  TestServer elsewhere(answerWith(httpAnswer("HTTP/1.1 200 OK", "image")));
  const std::string other = elsewhere.hostPort();
  struct Case {
    const char* name;
    std::string location;
    const char* expected;
  };
  const Case cases[] = {
      {"another server", "http://" + other + "/b.jpg", "image"},
      {"relative", "/b.jpg", "image"},
      {"to ftp", "ftp://" + other + "/b.jpg", ""},
      {"to gopher", "gopher://" + other + "/_GET%20/b.jpg%20HTTP/1.0%0D%0A%0D%0A", ""},
      {"to file", "file:///etc/hostname", ""},
      {"to data", "data:text/plain,stolen", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestServer server([&c](ServerExchange& e) {
      if (e.request().target == "/b.jpg")
        e.send(httpAnswer("HTTP/1.1 200 OK", "image"));
      else
        e.send(httpAnswer("HTTP/1.1 302 Found", "moved", "Location: " + c.location + "\r\n"));
    });
    EXPECT_EQ(readFile(server.url("/a.jpg")).str(), c.expected);
  }
  // Only the http redirect got through to it.
  EXPECT_EQ(elsewhere.connectionCount(), 1u);
}

TEST_F(Internet, EndlessRedirectsEnd) {
  TestServer server(answerWith(
      httpAnswer("HTTP/1.1 302 Found", "", "Location: /again\r\nConnection: close\r\n")));
  EXPECT_TRUE(readFile(server.url("/a.jpg")).empty());
  EXPECT_EQ(server.requests().size(), static_cast<std::size_t>(internetLimits().maxRedirects) + 1);
}

TEST_F(Internet, UnreachableServerYieldsNothing) {
  const int port = closedPort();
  ASSERT_NE(port, 0);
  EXPECT_TRUE(readFile("http://127.0.0.1:" + std::to_string(port) + "/a.jpg").empty());
}

TEST_F(Internet, ConnectTimeOutEndsAnUnansweredConnect) {
  setLimits([](InternetLimits& l) {
    l.connectTimeout = 300ms;
    l.stallTimeout = 60s;
  });
  UnansweredPort unanswered;
  ASSERT_NE(unanswered.port(), 0);
  const HttpResponse response =
      performHttpRequest({.url = "http://127.0.0.1:" + std::to_string(unanswered.port()) + "/"});
  EXPECT_EQ(response.outcome, HttpOutcome::timedOut);
  EXPECT_TRUE(readFile("http://127.0.0.1:" + std::to_string(unanswered.port()) + "/").empty());
}

TEST_F(Internet, StallTimeOutEndsASilentServer) {
  setLimits([](InternetLimits& l) { l.stallTimeout = 300ms; });
  struct Case {
    const char* name;
    ServerHandler handler;
  };
  const Case cases[] = {
      {"silent after the request", [](ServerExchange& e) { e.stall(); }},
      {"silent within the headers",
       [](ServerExchange& e) {
         if (e.send("HTTP/1.1 200 OK\r\n")) e.stall();
       }},
      {"silent within the body",
       [](ServerExchange& e) {
         if (e.send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + binaryBody(5000)))
           e.stall();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestServer server(c.handler);
    const HttpResponse response = performHttpRequest({.url = server.url("/a.jpg")});
    EXPECT_EQ(response.outcome, HttpOutcome::timedOut);
    EXPECT_TRUE(response.body.empty());
    EXPECT_TRUE(readFile(server.url("/a.jpg")).empty());
  }
}

TEST_F(Internet, SlowButSteadyBodyIsNotAStall) {
  // The body takes about three stall time-outs in all, with bytes well within each.
  setLimits([](InternetLimits& l) { l.stallTimeout = 400ms; });
  const std::string body = binaryBody(24);
  TestServer server([&body](ServerExchange& e) {
    if (e.send("HTTP/1.1 200 OK\r\nContent-Length: 24\r\n\r\n")) e.sendSlowly(body, 2, 100ms);
  });
  EXPECT_EQ(readFile(server.url("/a.jpg")).str(), body);
}

TEST_F(Internet, BodiesAreBounded) {
  setLimits([](InternetLimits& l) { l.maxBodyBytes = 1000; });
  struct Case {
    const char* name;
    std::string answer;
    bool whole;
  };
  const Case cases[] = {
      {"at the bound", httpAnswer("HTTP/1.1 200 OK", binaryBody(1000)), true},
      {"announced above the bound", httpAnswer("HTTP/1.1 200 OK", binaryBody(1001)), false},
      {"unannounced above the bound", "HTTP/1.0 200 OK\r\n\r\n" + binaryBody(5000), false},
      {"chunked above the bound",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n7d0\r\n" + binaryBody(2000) +
           "\r\n0\r\n\r\n",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestServer server(answerWith(c.answer));
    const HttpResponse response = performHttpRequest({.url = server.url("/a.jpg")});
    EXPECT_EQ(response.outcome, c.whole ? HttpOutcome::complete : HttpOutcome::tooLarge);
    EXPECT_EQ(readFile(server.url("/a.jpg")).empty(), !c.whole);
  }
}

TEST_F(Internet, HeaderBlocksAreBounded) {
  setLimits([](InternetLimits& l) { l.maxHeaderBytes = 2000; });
  TestServer server(answerWith(
      httpAnswer("HTTP/1.1 200 OK", "image", "X-Filler: " + std::string(3000, 'x') + "\r\n")));
  const HttpResponse response = performHttpRequest({.url = server.url("/a.jpg")});
  EXPECT_EQ(response.outcome, HttpOutcome::tooLarge);
  EXPECT_TRUE(readFile(server.url("/a.jpg")).empty());
}

class InternetTls : public Internet {
 protected:
  void SetUp() override {
    Internet::SetUp();
    ASSERT_FALSE(folder_.path().empty());
    identity_ = makeTestCertificate(folder_.path());
    ASSERT_TRUE(identity_.has_value()) << "openssl could not make a certificate";
  }
  TempFolder folder_;
  std::optional<TlsIdentity> identity_;
};

TEST_F(InternetTls, HttpsWithATrustedCertificate) {
  const std::string body = binaryBody(50'000);
  TestServer server(answerWith(httpAnswer("HTTP/1.1 200 OK", body)), &*identity_);
  ASSERT_TRUE(server.listening());
  InternetLimits limits = internetLimits();
  limits.caFile = identity_->certificateFile;
  setInternetLimits(limits);

  EXPECT_EQ(readFile(server.url("/a.jpg")).str(), body);
  // An http address that redirects to https.
  TestServer plain(answerWith(
      httpAnswer("HTTP/1.1 302 Found", "", "Location: " + server.url("/b.jpg") + "\r\n")));
  EXPECT_EQ(readFile(plain.url("/a.jpg")).str(), body);

  ASSERT_EQ(server.requests().size(), 2u);
  EXPECT_EQ(server.requests()[0].target, "/a.jpg");
  EXPECT_EQ(server.requests()[1].target, "/b.jpg");
}

TEST_F(InternetTls, UntrustedOrMismatchedCertificatesFail) {
  TestServer server(answerWith(httpAnswer("HTTP/1.1 200 OK", "image")), &*identity_);
  const std::optional<TlsIdentity> other = makeTestCertificate(folder_.path(), "other");
  ASSERT_TRUE(other.has_value());
  struct Case {
    const char* name;
    std::string caFile;
  };
  const Case cases[] = {
      {"the system's store", ""},
      {"another certificate", other->certificateFile},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InternetLimits limits = internetLimits();
    limits.caFile = c.caFile;
    setInternetLimits(limits);
    EXPECT_TRUE(readFile(server.url("/a.jpg")).empty());
  }
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(Internet, SystemProxyFromTheEnvironment) {
  TestServer proxy(answerWith(httpAnswer("HTTP/1.1 200 OK", "from the proxy")));
  TestServer origin(answerWith(httpAnswer("HTTP/1.1 200 OK", "direct")));
  const std::string proxyUrl = "http://" + proxy.hostPort();
  {
    const ScopedEnv viaProxy("http_proxy", proxyUrl);
    EXPECT_EQ(readFile("http://wallpaper.invalid/img/a.jpg").str(), "from the proxy");
    const ScopedEnv bypass("no_proxy", "127.0.0.1");
    EXPECT_EQ(readFile(origin.url("/a.jpg")).str(), "direct");
  }
  ASSERT_EQ(proxy.requests().size(), 1u);
  EXPECT_EQ(proxy.requests()[0].method, "GET");
  EXPECT_EQ(proxy.requests()[0].target, "http://wallpaper.invalid/img/a.jpg");
  EXPECT_EQ(proxy.requests()[0].version, "HTTP/1.0");
  EXPECT_EQ(origin.requests().size(), 1u);
}

TEST_F(Internet, LastAnswerHeadersWithCrLfLineEnds) {
  TestServer server([](ServerExchange& e) {
    if (e.request().target == "/a")
      e.send(httpAnswer("HTTP/1.1 302 Found", "", "Location: /b\r\nX-First: 1\r\n"));
    else
      e.send("HTTP/1.1 200 OK\nX-Last: 2\nContent-Length: 2\n\nok");
  });
  const HttpResponse response = performHttpRequest({.url = server.url("/a")});
  EXPECT_EQ(response.outcome, HttpOutcome::complete);
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.rawHeaders, "HTTP/1.1 200 OK\r\nX-Last: 2\r\nContent-Length: 2\r\n\r\n");
  EXPECT_EQ(response.body, "ok");
}

TEST_F(Internet, CookieEngineCarriesCookiesAcrossRedirectsOnlyWhenOn) {
  for (const bool engine : {true, false}) {
    SCOPED_TRACE(engine ? "engine on" : "engine off");
    TestServer server([](ServerExchange& e) {
      if (e.request().target == "/a")
        e.send(httpAnswer("HTTP/1.1 302 Found", "", "Set-Cookie: s=1; path=/\r\nLocation: /b\r\n"));
      else
        e.send(httpAnswer("HTTP/1.1 200 OK", "ok"));
    });
    const HttpResponse response =
        performHttpRequest({.url = server.url("/a"), .cookieEngine = engine});
    EXPECT_EQ(response.body, "ok");
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[1].header("Cookie"),
              engine ? std::optional<std::string>("s=1") : std::nullopt);
  }
}

TEST_F(Internet, ManyThreadsDownloadAtOnce) {
  constexpr int kThreads = 20;
  TestServer server([](ServerExchange& e) {
    const unsigned n = static_cast<unsigned>(std::stoi(e.request().target.substr(1)));
    e.send(httpAnswer("HTTP/1.1 200 OK", binaryBody(40'000 + n, n)));
  });
  std::vector<Bytes> results(kThreads);
  std::vector<std::thread> threads;
  std::atomic<bool> go{false};
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] {
      while (!go.load())
        std::this_thread::yield();
      results[static_cast<std::size_t>(i)] = readFile(server.url("/" + std::to_string(i)));
    });
  go = true;
  for (std::thread& t : threads)
    t.join();
  for (int i = 0; i < kThreads; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(results[static_cast<std::size_t>(i)].str(),
              binaryBody(40'000 + static_cast<unsigned>(i), static_cast<unsigned>(i)));
  }
}

// The download of a thread made by startThread, handed back to the test.
struct StoppableDownload {
  std::string url;
  std::promise<Bytes> result{};
  std::atomic<bool> waitForStop{false};
};
StoppableDownload* download = nullptr;

void downloadRoutine(std::int32_t) {
  if (download->waitForStop)
    while (!stopRequested())
      sleepMs(10'000);
  download->result.set_value(readFile(download->url));
}

TEST_F(Internet, StopEndsATransferAtOnce) {
  // Silent once the request is in, so the client is waiting when it is stopped.
  TestServer server([](ServerExchange& e) { e.stall(); });
  StoppableDownload state{.url = server.url("/a.jpg")};
  download = &state;
  std::future<Bytes> result = state.result.get_future();
  const ThreadHandle thread = startThread(downloadRoutine);
  ASSERT_NE(thread, 0);
  ASSERT_TRUE(server.waitForRequests(1));
  EXPECT_EQ(result.wait_for(0s), std::future_status::timeout) << "ended before the stop";

  killThread(thread);
  ASSERT_EQ(result.wait_for(1s), std::future_status::ready) << "the stop did not end the transfer";
  EXPECT_TRUE(result.get().empty());
  EXPECT_TRUE(waitThread(thread));
}

TEST_F(Internet, StoppedThreadSendsNothing) {
  TestServer server(answerWith(httpAnswer("HTTP/1.1 200 OK", "image")));
  StoppableDownload state{.url = server.url("/a.jpg")};
  state.waitForStop = true;
  download = &state;
  std::future<Bytes> result = state.result.get_future();
  const ThreadHandle thread = startThread(downloadRoutine);
  ASSERT_NE(thread, 0);
  killThread(thread);
  ASSERT_EQ(result.wait_for(10s), std::future_status::ready);
  EXPECT_TRUE(result.get().empty());
  EXPECT_TRUE(server.requests().empty());
  EXPECT_TRUE(waitThread(thread));
}

}  // namespace
