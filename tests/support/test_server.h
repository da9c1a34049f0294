// A scriptable HTTP and HTTPS server on 127.0.0.1 for tests.
//
// Every connection carries one request. The server records the request's
// exact bytes, then hands the connection to the test's handler, which writes
// the answer byte for byte and may break it off (return early), stall, or
// answer slowly. When the handler returns the server ends the connection; a
// further request on it goes unanswered, which clients take as the end of a
// kept-alive connection; libcurl retries such a request on a new connection,
// but only a few times per transfer, so answers of a long redirect chain
// should say "Connection: close". A handler that answers a request line in
// absolute form ("GET http://...") plays a proxy.
//
// Handlers run on the server's own threads, one per connection; everything
// else may be called from any thread. The destructor wakes stalled handlers,
// closes every connection and waits for its threads.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct ReceivedRequest {
  std::string raw;      // exactly the bytes received: head and body
  std::string method;   // of the request line
  std::string target;   // as written in the request line
  std::string version;  // "HTTP/1.0" or "HTTP/1.1"
  std::string body;

  // The value of the first header line of that name (case-insensitive),
  // trimmed; nullopt when there is none.
  [[nodiscard]] std::optional<std::string> header(std::string_view name) const;
  // How many header lines bear that name (case-insensitive).
  [[nodiscard]] std::size_t headerCount(std::string_view name) const;
};

class ServerExchange {
 public:
  [[nodiscard]] const ReceivedRequest& request() const { return request_; }
  // Sends the bytes as they are; false once the client has gone.
  bool send(std::string_view bytes);
  // Sends the bytes in pieces with a pause after each; false once the client
  // has gone or the server is stopping.
  bool sendSlowly(std::string_view bytes, std::size_t piece, std::chrono::milliseconds pause);
  // Answers nothing until the client goes away or the server stops.
  void stall();
  // Waits for the duration; false when the server began to stop first.
  bool pause(std::chrono::milliseconds duration);

 private:
  friend class TestServer;
  ServerExchange(int socket, void* tls, int wake) : socket_(socket), tls_(tls), wake_(wake) {}
  int socket_;
  void* tls_;  // the connection's SSL, or null for plain HTTP
  int wake_;   // readable once the server stops
  ReceivedRequest request_;
};

using ServerHandler = std::function<void(ServerExchange&)>;

struct TlsIdentity {
  std::string certificateFile;  // PEM, also the file a client trusts
  std::string keyFile;          // PEM
};

class TestServer {
 public:
  // Listens on an ephemeral port of 127.0.0.1, speaking TLS with the identity
  // when one is given.
  explicit TestServer(ServerHandler handler, const TlsIdentity* tls = nullptr);
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  // False when the server could not listen (or load its identity).
  [[nodiscard]] bool listening() const { return listener_ >= 0; }
  [[nodiscard]] int port() const { return port_; }
  // "127.0.0.1:port"
  [[nodiscard]] std::string hostPort() const;
  // "http://127.0.0.1:port" (or https) followed by the path.
  [[nodiscard]] std::string url(std::string_view path = "/") const;

  [[nodiscard]] std::vector<ReceivedRequest> requests() const;
  // Connections accepted so far, whether or not a request came on them.
  [[nodiscard]] std::size_t connectionCount() const;
  // Waits until at least count requests have arrived; false after the bound.
  bool waitForRequests(std::size_t count,
                       std::chrono::milliseconds bound = std::chrono::seconds(30)) const;

 private:
  void acceptLoop();
  void serve(int socket);
  bool readRequest(int socket, void* tls, ReceivedRequest& request);

  ServerHandler handler_;
  void* tlsContext_ = nullptr;  // SSL_CTX
  int listener_ = -1;
  int port_ = 0;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::thread acceptor_;

  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  bool stopping_ = false;
  std::vector<ReceivedRequest> requests_;
  std::size_t connectionCount_ = 0;
  std::set<int> openSockets_;
  std::list<std::thread> connections_;
};

// An answer with the status line, the header lines (each ended by "\r\n"), a
// Content-Length of the body, the empty line and the body.
[[nodiscard]] std::string httpAnswer(std::string_view statusLine, std::string_view body,
                                     std::string_view headerLines = "");
// A handler that answers every request with the same bytes.
[[nodiscard]] ServerHandler answerWith(std::string answer);

// A private folder under the system's temporary folder, removed with all its
// content at destruction.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  [[nodiscard]] const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A fresh self-signed certificate for 127.0.0.1 and localhost, made by the
// openssl command in the folder; nullopt when that failed.
[[nodiscard]] std::optional<TlsIdentity> makeTestCertificate(const std::string& folder,
                                                             const std::string& name = "server");

// A port of 127.0.0.1 whose accept queue is full: a connect to it goes
// unanswered until the client gives up.
class UnansweredPort {
 public:
  UnansweredPort();
  ~UnansweredPort();
  UnansweredPort(const UnansweredPort&) = delete;
  UnansweredPort& operator=(const UnansweredPort&) = delete;
  [[nodiscard]] int port() const { return port_; }

 private:
  int listener_ = -1;
  int filler_ = -1;
  int port_ = 0;
};

// A port of 127.0.0.1 on which nothing listens: a connect is refused.
[[nodiscard]] int closedPort();
