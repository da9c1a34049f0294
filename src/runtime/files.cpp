#include "runtime/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <limits>
#include <mutex>
#include <string>

#include "runtime/threads.h"
#include "runtime/visible_step.h"
#include "text/encoding.h"

namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }

  [[nodiscard]] int get() const noexcept { return fd_; }
  [[nodiscard]] bool valid() const noexcept { return fd_ >= 0; }
  // Closes now and tells whether the close succeeded (it may report a failed write).
  bool close() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool writeAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Creates a new, empty file beside the target that no one else can have open.
FileDescriptor createTemporaryBeside(const std::string& folder, std::string& temporary) {
  static std::atomic<unsigned long long> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    temporary = folder + ".~" + std::to_string(::getpid()) + "-" +
                std::to_string(counter.fetch_add(1)) + ".part";
    // 0666 lets the umask decide, as for any newly created file.
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return FileDescriptor(fd);
  }
  return FileDescriptor(-1);
}

struct MemoryStream {
  std::string bytes;
  std::size_t position = 0;
};

// Streams are never closed, so a handle names the same stream to the end.
struct MemoryFiles {
  std::mutex mutex;
  std::deque<MemoryStream> streams;
};

MemoryFiles& memoryFiles() {
  static MemoryFiles* const instance = new MemoryFiles;  // outlives detached threads
  return *instance;
}

MemoryStream* findStream(MemoryFiles& files, MemoryFile file) {
  if (file <= 0 || static_cast<std::size_t>(file) > files.streams.size()) return nullptr;
  return &files.streams[static_cast<std::size_t>(file) - 1];
}

// "\\" and "/" both separate; mapped after the conversion, where no byte 0x5C
// is part of another character (as in 乗, 81 5C in code page 936).
std::string platformPath(const Text& name) {
  std::string path = textToUtf8(name);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

}  // namespace

bool fileExists(const Text& name) {
  if (name.empty()) return false;
  struct stat st {};
  return ::lstat(platformPath(name).c_str(), &st) == 0;
}

Bytes readFileBytes(const Text& name) {
  if (name.empty()) return {};
  // Non-blocking, so that a pipe or device of that name cannot hang the caller;
  // it changes nothing for a regular file.
  FileDescriptor fd(
      ::open(platformPath(name).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd.valid()) return {};
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  // A byte string's length is a signed 32-bit count.
  if (st.st_size > std::numeric_limits<std::int32_t>::max()) return {};
  std::string data(static_cast<std::size_t>(st.st_size), '\0');
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::read(fd.get(), data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return {};
    }
    if (n == 0) break;  // the file shrank meanwhile: keep what arrived
    done += static_cast<std::size_t>(n);
  }
  data.resize(done);
  return Bytes(std::move(data));
}

bool writeFileBytes(const Text& name, const Bytes& data) {
  if (name.empty() || stopRequested()) return false;
  const std::string path = platformPath(name);
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  if (folder.size() == path.size()) return false;  // names a folder, not a file
  std::string temporary;
  FileDescriptor fd = createTemporaryBeside(folder, temporary);
  if (!fd.valid()) return false;
  bool ok = writeAll(fd.get(), data.str());
  ok = fd.close() && ok;
  if (ok) {
    // The rename is the step that others see; a stopped thread leaves no file.
    bool renamed = false;
    runVisibleStep([&] { renamed = ::rename(temporary.c_str(), path.c_str()) == 0; });
    ok = renamed;
  }
  if (!ok) ::unlink(temporary.c_str());
  return ok;
}

MemoryFile openMemoryFile() {
  MemoryFiles& files = memoryFiles();
  std::lock_guard guard(files.mutex);
  if (files.streams.size() >= static_cast<std::size_t>(std::numeric_limits<MemoryFile>::max()))
    return 0;
  files.streams.emplace_back();
  return static_cast<MemoryFile>(files.streams.size());
}

bool fileWriteText(MemoryFile file, const Text& text) {
  MemoryFiles& files = memoryFiles();
  std::lock_guard guard(files.mutex);
  MemoryStream* stream = findStream(files, file);
  if (stream == nullptr) return false;
  const std::string& bytes = text.str();
  const std::size_t overwritten = std::min(bytes.size(), stream->bytes.size() - stream->position);
  stream->bytes.replace(stream->position, overwritten, bytes);
  stream->position += bytes.size();
  return true;
}

bool fileSeekToStart(MemoryFile file) {
  MemoryFiles& files = memoryFiles();
  std::lock_guard guard(files.mutex);
  MemoryStream* stream = findStream(files, file);
  if (stream == nullptr) return false;
  stream->position = 0;
  return true;
}

Text fileReadText(MemoryFile file) {
  std::string rest;
  {
    MemoryFiles& files = memoryFiles();
    std::lock_guard guard(files.mutex);
    MemoryStream* stream = findStream(files, file);
    if (stream == nullptr) return {};
    rest = stream->bytes.substr(stream->position);
    stream->position = stream->bytes.size();
  }
  // Read as code page 936 characters: the text ends before a one-byte 0 or
  // 0x1A, or before a lead byte whose second byte is 0.
  std::size_t end = 0;
  while (end < rest.size()) {
    const auto c = static_cast<unsigned char>(rest[end]);
    if (c >= 0x80) {
      if (end + 1 < rest.size() && rest[end + 1] == '\0') break;
      end += 2;
    } else {
      if (c == 0 || c == 0x1A) break;
      ++end;
    }
  }
  rest.resize(std::min(end, rest.size()));
  return Text(std::move(rest));
}
