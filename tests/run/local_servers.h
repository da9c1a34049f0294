// HTTP servers on 127.0.0.1 for the run's tests: nginx serving a folder, and
// the scriptable server with routes whose answers can be held back, delayed
// or cut off, recording when each request arrived and when its answer was
// sent. Header-only, so that the tests of the user interface share it.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/test_server.h"

extern char** environ;

namespace test_servers {

// A fresh folder under /tmp that others (nginx's workers run as nobody) may
// read; removed with its content on destruction.
class ReadableFolder {
 public:
  ReadableFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "brelvik-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    std::filesystem::permissions(
        path_, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                   std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                   std::filesystem::perms::others_exec);
  }
  ~ReadableFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ReadableFolder(const ReadableFolder&) = delete;
  ReadableFolder& operator=(const ReadableFolder&) = delete;

  [[nodiscard]] const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Readable by others whatever the umask, as nginx's workers need.
inline void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  namespace fs = std::filesystem;
  if (fs::create_directories(path.parent_path()))
    fs::permissions(path.parent_path(), fs::perms::owner_all | fs::perms::group_read |
                                            fs::perms::group_exec | fs::perms::others_read |
                                            fs::perms::others_exec);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
  }
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                            fs::perms::others_read);
}

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline int freeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

inline bool acceptsConnections(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

// nginx serving a folder (which, with everything in it, must be readable by
// others) on a free loopback port, with its own configuration, logs and
// temporary folders; stopped on destruction.
class NginxServer {
 public:
  // serverConfig: further directives of the server block, such as a location
  // served slowly.
  explicit NginxServer(const std::filesystem::path& root, const std::string& serverConfig = "") {
    for (int attempt = 0; attempt < 5 && pid_ == 0; ++attempt)
      tryStart(root, serverConfig);
    if (pid_ == 0)
      throw std::runtime_error("nginx did not start: " + readFile(dir_.path() / "error.log"));
  }
  ~NginxServer() {
    if (pid_ == 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  [[nodiscard]] int port() const { return port_; }
  [[nodiscard]] std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  void tryStart(const std::filesystem::path& root, const std::string& serverConfig) {
    port_ = freeLoopbackPort();
    const std::string dir = dir_.path().string();
    writeFile(dir_.path() / "nginx.conf",
              "daemon off;\n"
              "worker_processes 1;\n"
              "pid " +
                  dir +
                  "/nginx.pid;\n"
                  "error_log " +
                  dir +
                  "/error.log;\n"
                  "events { worker_connections 512; }\n"
                  "http {\n"
                  "  access_log " +
                  dir +
                  "/access.log;\n"
                  "  client_body_temp_path " +
                  dir +
                  "/client_body;\n"
                  "  proxy_temp_path " +
                  dir +
                  "/proxy;\n"
                  "  fastcgi_temp_path " +
                  dir +
                  "/fastcgi;\n"
                  "  uwsgi_temp_path " +
                  dir +
                  "/uwsgi;\n"
                  "  scgi_temp_path " +
                  dir +
                  "/scgi;\n"
                  "  types { text/html html; image/jpeg jpg; }\n"
                  "  default_type application/octet-stream;\n"
                  "  charset utf-8;\n"
                  "  server {\n"
                  "    listen 127.0.0.1:" +
                  std::to_string(port_) +
                  ";\n"
                  "    root " +
                  root.string() + ";\n" + serverConfig +
                  "  }\n"
                  "}\n");
    const std::string conf = dir + "/nginx.conf";
    const std::string errors = dir + "/error.log";
    std::vector<std::string> args = {"nginx", "-p", dir, "-c", conf, "-e", errors};
    std::vector<char*> argv;
    for (std::string& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    // nginx must not hold the test's output open: a runner waits for it.
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    for (int fd = 0; fd <= 2; ++fd)
      posix_spawn_file_actions_addopen(&files, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, "/usr/sbin/nginx", &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    if (spawned != 0) return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) return;  // it gave up, most likely the port
      if (acceptsConnections(port_)) {
        pid_ = pid;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }

  ReadableFolder dir_;
  int port_ = 0;
  pid_t pid_ = 0;
};

// One answer of the scripted server.
struct Answer {
  int status = 200;
  std::string contentType = "image/jpeg";
  std::string body;
  bool held = false;                         // sent only after release()
  int delayMs = 0;                           // waited before sending
  std::size_t cutAfter = std::string::npos;  // body bytes sent before the connection drops
};

// What the scripted server saw: a request's target arriving, or its answer
// having been sent in full (or cut off).
struct ServerEvent {
  bool answered = false;
  std::string target;
};

// Answers by target from a table of routes, on the tests' scriptable server;
// unknown targets get a 404 page. Records when each request arrived and when
// its answer went out.
class ScriptedServer {
 public:
  ScriptedServer() : server_([this](ServerExchange& exchange) { serve(exchange); }) {
    if (!server_.listening()) throw std::runtime_error("scripted server cannot listen");
  }
  ~ScriptedServer() { release(); }
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  [[nodiscard]] std::string url(const std::string& target) const { return server_.url(target); }
  void route(const std::string& target, const Answer& answer) {
    std::lock_guard guard(mutex_);
    routes_[target] = answer;
  }
  // Lets every held answer, present and future, go out.
  void release() {
    {
      std::lock_guard guard(mutex_);
      released_ = true;
    }
    changed_.notify_all();
  }
  [[nodiscard]] std::vector<ServerEvent> events() const {
    std::lock_guard guard(mutex_);
    return events_;
  }

 private:
  void serve(ServerExchange& exchange) {
    const std::string target = exchange.request().target;
    Answer answer;
    {
      std::unique_lock guard(mutex_);
      events_.push_back({false, target});
      auto found = routes_.find(target);
      if (found != routes_.end()) {
        answer = found->second;
      } else {
        answer.status = 404;
        answer.contentType = "text/html";
        answer.body = "<html><body>404 Not Found</body></html>";
      }
      if (answer.held) changed_.wait(guard, [this] { return released_; });
    }
    if (answer.delayMs > 0 && !exchange.pause(std::chrono::milliseconds(answer.delayMs))) return;
    const std::string statusLine =
        "HTTP/1.1 " + std::to_string(answer.status) + (answer.status == 200 ? " OK" : " Not Found");
    const std::string full =
        httpAnswer(statusLine, answer.body, "Content-Type: " + answer.contentType + "\r\n");
    exchange.send(
        std::string_view(full).substr(0, answer.cutAfter == std::string::npos
                                             ? full.size()
                                             : full.size() - answer.body.size() + answer.cutAfter));
    std::lock_guard guard(mutex_);
    events_.push_back({true, target});
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, Answer> routes_;
  std::vector<ServerEvent> events_;
  bool released_ = false;
  // Last, so that it is gone, its handlers ended, before the state above.
  TestServer server_;
};

}  // namespace test_servers
