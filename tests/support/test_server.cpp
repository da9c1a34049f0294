#include "support/test_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>

namespace {

std::string lowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  return s;
}

// The header lines of a request head, as name and value.
std::vector<std::pair<std::string, std::string>> headerLines(std::string_view raw) {
  std::vector<std::pair<std::string, std::string>> lines;
  const std::size_t headEnd = raw.find("\r\n\r\n");
  std::string_view head = raw.substr(0, headEnd);
  std::size_t start = head.find("\r\n");
  while (start != std::string_view::npos) {
    start += 2;
    const std::size_t end = head.find("\r\n", start);
    std::string_view line = head.substr(start, end == std::string_view::npos ? end : end - start);
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos)
      lines.emplace_back(lowerAscii(line.substr(0, colon)),
                         std::string(trimmed(line.substr(colon + 1))));
    start = end;
  }
  return lines;
}

int listenOn127(int backlog, int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, backlog) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

// Waits until the socket is readable (true) or the server stops (false).
bool waitReadable(int socket, int wake, int timeoutMs = -1) {
  pollfd fds[2] = {{socket, POLLIN, 0}, {wake, POLLIN, 0}};
  for (;;) {
    const int n = poll(fds, 2, timeoutMs);
    if (n < 0 && errno == EINTR) continue;
    return n > 0 && (fds[1].revents & POLLIN) == 0;
  }
}

// Reads some bytes; 0 at the end, negative on error or when the server stops.
long readSome(int socket, SSL* tls, int wake, char* buffer, std::size_t size) {
  if (tls == nullptr || SSL_pending(tls) == 0)
    if (!waitReadable(socket, wake)) return -1;
  if (tls != nullptr) {
    const int n = SSL_read(tls, buffer, static_cast<int>(size));
    if (n > 0) return n;
    return SSL_get_error(tls, n) == SSL_ERROR_ZERO_RETURN ? 0 : -1;
  }
  return recv(socket, buffer, size, 0);
}

}  // namespace

std::optional<std::string> ReceivedRequest::header(std::string_view name) const {
  const std::string wanted = lowerAscii(name);
  for (const auto& [key, value] : headerLines(raw))
    if (key == wanted) return value;
  return std::nullopt;
}

std::size_t ReceivedRequest::headerCount(std::string_view name) const {
  const std::string wanted = lowerAscii(name);
  const auto lines = headerLines(raw);
  return static_cast<std::size_t>(
      std::count_if(lines.begin(), lines.end(), [&](const auto& l) { return l.first == wanted; }));
}

bool ServerExchange::send(std::string_view bytes) {
  auto* tls = static_cast<SSL*>(tls_);
  while (!bytes.empty()) {
    long n = 0;
    if (tls != nullptr)
      n = SSL_write(tls, bytes.data(),
                    static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 30)));
    else
      n = ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && tls == nullptr && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool ServerExchange::sendSlowly(std::string_view bytes, std::size_t piece,
                                std::chrono::milliseconds pauseAfter) {
  while (!bytes.empty()) {
    const std::size_t n = std::min(piece, bytes.size());
    if (!send(bytes.substr(0, n))) return false;
    bytes.remove_prefix(n);
    if (!pause(pauseAfter)) return false;
  }
  return true;
}

void ServerExchange::stall() {
  char sink[4096];
  for (;;) {
    pollfd fds[2] = {{socket_, POLLIN | POLLRDHUP, 0}, {wake_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if ((fds[1].revents & POLLIN) != 0) return;
    if ((fds[0].revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) return;
    // The client said something more; it goes unanswered.
    if (recv(socket_, sink, sizeof sink, MSG_DONTWAIT) <= 0) return;
  }
}

bool ServerExchange::pause(std::chrono::milliseconds duration) {
  pollfd wake = {wake_, POLLIN, 0};
  return poll(&wake, 1, static_cast<int>(duration.count())) == 0;
}

TestServer::TestServer(ServerHandler handler, const TlsIdentity* tls)
    : handler_(std::move(handler)) {
  // A client that hangs up while the server writes must not end the tests.
  std::signal(SIGPIPE, SIG_IGN);
  if (tls != nullptr) {
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (context == nullptr ||
        SSL_CTX_use_certificate_chain_file(context, tls->certificateFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context, tls->keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
      SSL_CTX_free(context);
      return;
    }
    tlsContext_ = context;
  }
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) return;
  wakeRead_ = pipeEnds[0];
  wakeWrite_ = pipeEnds[1];
  listener_ = listenOn127(64, port_);
  if (listener_ >= 0) acceptor_ = std::thread([this] { acceptLoop(); });
}

TestServer::~TestServer() {
  {
    std::lock_guard guard(mutex_);
    stopping_ = true;
    // Wakes blocked reads and writes of every connection.
    for (const int socket : openSockets_)
      shutdown(socket, SHUT_RDWR);
  }
  if (wakeWrite_ >= 0) {
    const char byte = 0;
    (void)!write(wakeWrite_, &byte, 1);
  }
  if (acceptor_.joinable()) acceptor_.join();
  std::list<std::thread> connections;
  {
    std::lock_guard guard(mutex_);
    connections.swap(connections_);
  }
  for (std::thread& t : connections)
    t.join();
  if (listener_ >= 0) close(listener_);
  if (wakeRead_ >= 0) close(wakeRead_);
  if (wakeWrite_ >= 0) close(wakeWrite_);
  SSL_CTX_free(static_cast<SSL_CTX*>(tlsContext_));
}

std::string TestServer::hostPort() const {
  return "127.0.0.1:" + std::to_string(port_);
}

std::string TestServer::url(std::string_view path) const {
  return std::string(tlsContext_ != nullptr ? "https://" : "http://") + hostPort() +
         std::string(path);
}

std::vector<ReceivedRequest> TestServer::requests() const {
  std::lock_guard guard(mutex_);
  return requests_;
}

std::size_t TestServer::connectionCount() const {
  std::lock_guard guard(mutex_);
  return connectionCount_;
}

bool TestServer::waitForRequests(std::size_t count, std::chrono::milliseconds bound) const {
  std::unique_lock guard(mutex_);
  return arrived_.wait_for(guard, bound, [&] { return requests_.size() >= count; });
}

void TestServer::acceptLoop() {
  for (;;) {
    if (!waitReadable(listener_, wakeRead_)) return;
    const int socket = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (socket < 0) continue;
    std::lock_guard guard(mutex_);
    if (stopping_) {
      close(socket);
      return;
    }
    ++connectionCount_;
    openSockets_.insert(socket);
    connections_.emplace_back([this, socket] { serve(socket); });
  }
}

void TestServer::serve(int socket) {
  SSL* tls = nullptr;
  bool ready = true;
  if (tlsContext_ != nullptr) {
    tls = SSL_new(static_cast<SSL_CTX*>(tlsContext_));
    ready = tls != nullptr && SSL_set_fd(tls, socket) == 1 && SSL_accept(tls) == 1;
  }
  ServerExchange exchange(socket, tls, wakeRead_);
  if (ready && readRequest(socket, tls, exchange.request_)) {
    {
      std::lock_guard guard(mutex_);
      requests_.push_back(exchange.request_);
    }
    arrived_.notify_all();
    handler_(exchange);
    if (tls != nullptr) SSL_shutdown(tls);
  }
  SSL_free(tls);
  // Closing with unread bytes would send a reset, and a client that already
  // sent its next request on this connection would see an error instead of an
  // end to retry on a new connection. So end the writing side and read until
  // the client closes.
  shutdown(socket, SHUT_WR);
  char sink[4096];
  while (waitReadable(socket, wakeRead_) && recv(socket, sink, sizeof sink, 0) > 0) {
  }
  std::lock_guard guard(mutex_);
  openSockets_.erase(socket);
  close(socket);
}

bool TestServer::readRequest(int socket, void* tls, ReceivedRequest& request) {
  char buffer[16384];
  std::size_t headEnd = std::string::npos;
  while ((headEnd = request.raw.find("\r\n\r\n")) == std::string::npos) {
    const long n = readSome(socket, static_cast<SSL*>(tls), wakeRead_, buffer, sizeof buffer);
    if (n <= 0) return false;
    request.raw.append(buffer, static_cast<std::size_t>(n));
  }
  const std::string_view line = std::string_view(request.raw).substr(0, request.raw.find("\r\n"));
  const std::size_t firstSpace = line.find(' ');
  const std::size_t lastSpace = line.rfind(' ');
  request.method = line.substr(0, firstSpace);
  if (firstSpace != lastSpace) {
    request.target = line.substr(firstSpace + 1, lastSpace - firstSpace - 1);
    request.version = line.substr(lastSpace + 1);
  }
  const std::size_t length = static_cast<std::size_t>(
      std::strtoull(request.header("Content-Length").value_or("0").c_str(), nullptr, 10));
  const std::size_t bodyStart = headEnd + 4;
  while (request.raw.size() < bodyStart + length) {
    const long n = readSome(socket, static_cast<SSL*>(tls), wakeRead_, buffer, sizeof buffer);
    if (n <= 0) return false;
    request.raw.append(buffer, static_cast<std::size_t>(n));
  }
  request.body = request.raw.substr(bodyStart);
  return true;
}

std::string httpAnswer(std::string_view statusLine, std::string_view body,
                       std::string_view headerLines) {
  std::string answer(statusLine);
  answer += "\r\n";
  answer += headerLines;
  answer += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  answer += body;
  return answer;
}

ServerHandler answerWith(std::string answer) {
  return [answer = std::move(answer)](ServerExchange& exchange) { exchange.send(answer); };
}

TempFolder::TempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "brelvik-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

std::optional<TlsIdentity> makeTestCertificate(const std::string& folder, const std::string& name) {
  TlsIdentity identity{folder + "/" + name + "-cert.pem", folder + "/" + name + "-key.pem"};
  const std::string command =
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
      " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1,DNS:localhost -keyout '" +
      identity.keyFile + "' -out '" + identity.certificateFile + "' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return std::nullopt;
  return identity;
}

UnansweredPort::UnansweredPort() {
  // With a backlog of 0 the kernel queues one finished handshake; the filler
  // takes that place, and every later SYN is dropped without an answer.
  listener_ = listenOn127(0, port_);
  if (listener_ < 0) return;
  filler_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port_));
  if (filler_ < 0 || connect(filler_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    port_ = 0;
}

UnansweredPort::~UnansweredPort() {
  if (filler_ >= 0) close(filler_);
  if (listener_ >= 0) close(listener_);
}

int closedPort() {
  int port = 0;
  const int fd = listenOn127(1, port);
  if (fd >= 0) close(fd);
  return port;
}
