#include "runtime/files.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "runtime/threads.h"
#include "text/encoding.h"

namespace {

namespace fs = std::filesystem;

// A fresh folder per test; paths are handed to the file layer as Texts.
class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "files-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { fs::remove_all(folder_); }

  // The folder joined with a UTF-8 relative name by a backslash, as the
  // program joins its save folder and a title.
  [[nodiscard]] Text name(const std::string& relative) const {
    return utf8ToText(folder_.string() + "\\" + relative);
  }
  [[nodiscard]] fs::path onDisk(const std::string& relative) const { return folder_ / relative; }

  static void put(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
  }
  static std::string contentOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  // Every entry of the folder, to show that no temporary file is left behind.
  [[nodiscard]] std::set<std::string> entries() const {
    std::set<std::string> names;
    for (const fs::directory_entry& e : fs::directory_iterator(folder_))
      names.insert(e.path().filename().string());
    return names;
  }

  fs::path folder_;
};

TEST_F(FilesTest, ExistsForAnyEntryButNotForNothing) {
  put(onDisk("file.jpg"), "x");
  fs::create_directory(onDisk("folder.jpg"));
  struct Case {
    const char* name;
    Text path;
    bool exists;
  };
  const Case cases[] = {
      {"file", name("file.jpg"), true},
      {"folder bearing a file's name", name("folder.jpg"), true},
      {"folder with a trailing separator", name("folder.jpg\\"), true},
      {"missing", name("missing.jpg"), false},
      {"in a missing folder", name("missing\\file.jpg"), false},
      {"empty name", Text(), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(fileExists(c.path), c.exists);
  }
}

TEST_F(FilesTest, ReadGivesWholeFileOrNothing) {
  const std::string binary("\xFF\xD8\x00\x1A\r\n\x00end", 10);
  put(onDisk("binary.jpg"), binary);
  put(onDisk("empty.jpg"), "");
  fs::create_directory(onDisk("folder"));
  ASSERT_EQ(mkfifo(onDisk("pipe").c_str(), 0600), 0);
  struct Case {
    const char* name;
    Text path;
    std::string content;
  };
  const Case cases[] = {
      {"bytes with zeros", name("binary.jpg"), binary},
      {"empty file", name("empty.jpg"), ""},
      {"missing", name("missing.jpg"), ""},
      {"folder", name("folder"), ""},
      {"pipe without a writer must not block", name("pipe"), ""},
      {"empty name", Text(), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(readFileBytes(c.path).str(), c.content);
  }
}

TEST_F(FilesTest, WriteCreatesThenReplacesWholeContent) {
  const Text path = name("wallpaper.jpg");
  ASSERT_TRUE(writeFileBytes(path, Bytes(std::string("a longer first content\0!", 24))));
  EXPECT_EQ(contentOf(onDisk("wallpaper.jpg")), std::string("a longer first content\0!", 24));
  ASSERT_TRUE(writeFileBytes(path, Bytes("short")));
  EXPECT_EQ(contentOf(onDisk("wallpaper.jpg")), "short");
  ASSERT_TRUE(writeFileBytes(path, Bytes()));
  EXPECT_TRUE(fs::is_regular_file(onDisk("wallpaper.jpg")));
  EXPECT_EQ(fs::file_size(onDisk("wallpaper.jpg")), 0u);
  EXPECT_EQ(entries(), std::set<std::string>{"wallpaper.jpg"});
}

TEST_F(FilesTest, WriteThatCannotBeDoneTouchesNothing) {
  fs::create_directory(onDisk("taken.jpg"));
  put(onDisk("taken.jpg") / "inside", "kept");
  struct Case {
    const char* name;
    Text path;
  };
  const Case cases[] = {
      {"empty name", Text()},
      {"missing folder, not created", name("missing\\file.jpg")},
      {"name of a folder", name("taken.jpg")},
      {"name ending in a separator", name("taken.jpg\\")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(writeFileBytes(c.path, Bytes("data")));
    EXPECT_EQ(entries(), std::set<std::string>{"taken.jpg"});
    EXPECT_EQ(contentOf(onDisk("taken.jpg") / "inside"), "kept");
  }
}

TEST_F(FilesTest, WriteFailingMidwayLeavesOldFileIntact) {
  put(onDisk("wallpaper.jpg"), "old picture");
  // The kernel refuses to let a file grow past this; the write fails part way.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = writeFileBytes(name("wallpaper.jpg"), Bytes(std::string(65536, 'n')));
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previousHandler);

  EXPECT_FALSE(written);
  EXPECT_EQ(contentOf(onDisk("wallpaper.jpg")), "old picture");
  EXPECT_EQ(entries(), std::set<std::string>{"wallpaper.jpg"});
}

TEST_F(FilesTest, StoppedThreadWritesNothing) {
  struct State {
    Text path;
    std::atomic<int> written{-1};
  };
  static State* s;  // never freed: a thread left behind by a failure may still read it
  s = new State;
  s->path = name("wallpaper.jpg");
  const ThreadHandle writer = startThread([](std::int32_t) {
    while (!stopRequested())
      sleepMs(std::numeric_limits<std::int32_t>::max());
    s->written = writeFileBytes(s->path, Bytes("picture")) ? 1 : 0;
  });
  ASSERT_NE(writer, 0);
  ASSERT_TRUE(killThread(writer));
  ASSERT_TRUE(waitThread(writer));
  EXPECT_EQ(s->written, 0);
  EXPECT_TRUE(entries().empty());
}

TEST_F(FilesTest, NamesBecomePlatformPathsAfterConversion) {
  // 乗 is 81 5C in code page 936: its second byte is a backslash.
  ASSERT_EQ(utf8ToText("乗").str(), "\x81\x5C");
  fs::create_directory(onDisk("sub"));
  struct Case {
    const char* name;
    std::string relative;  // as the program writes it, in UTF-8
    std::string onDisk;
  };
  const Case cases[] = {
      {"backslash separator", "sub\\a.jpg", "sub/a.jpg"},
      {"doubled separator", "sub\\\\b.jpg", "sub/b.jpg"},
      {"slash separator", "sub/c.jpg", "sub/c.jpg"},
      {"Chinese", "sub\\秋日的湖泊.jpg", "sub/秋日的湖泊.jpg"},
      {"second byte 0x5C is no separator", "乗り物\\乗.jpg", "乗り物/乗.jpg"},
      {"characters outside GBK", "sub\\한글 😀.jpg", "sub/한글 😀.jpg"},
  };
  fs::create_directory(onDisk("乗り物"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes data(std::string("image of ") + c.name);
    ASSERT_TRUE(writeFileBytes(name(c.relative), data));
    EXPECT_EQ(contentOf(onDisk(c.onDisk)), data.str());
    EXPECT_TRUE(fileExists(name(c.relative)));
    EXPECT_EQ(readFileBytes(name(c.relative)), data);
  }
  EXPECT_EQ(entries(), (std::set<std::string>{"sub", "乗り物"}));
}

TEST(MemoryFile, HandsOverTheTextWritten) {
  const MemoryFile file = openMemoryFile();
  ASSERT_NE(file, 0);
  const Text task = utf8ToText("秋日的湖泊|http://example.com/a.jpg");
  EXPECT_TRUE(fileWriteText(file, task));
  EXPECT_TRUE(fileWriteText(file, Text("!")));
  EXPECT_EQ(fileReadText(file), Text());  // the position is at the end
  EXPECT_TRUE(fileSeekToStart(file));
  EXPECT_EQ(fileReadText(file).str(), task.str() + "!");
  EXPECT_EQ(fileReadText(file), Text());

  // A write after the seek overwrites from the start and keeps the rest.
  EXPECT_TRUE(fileSeekToStart(file));
  EXPECT_TRUE(fileWriteText(file, Text("AB")));
  EXPECT_EQ(fileReadText(file).str(), task.str().substr(2) + "!");

  const MemoryFile other = openMemoryFile();
  EXPECT_NE(other, file);
  EXPECT_EQ(fileReadText(other), Text());
}

TEST(MemoryFile, ReadStopsBeforeEndOfFileMark) {
  struct Case {
    const char* name;
    std::string written;
    std::string read;
  };
  const Case cases[] = {
      {"mark after one-byte characters",
       "ab\x1A"
       "cd",
       "ab"},
      {"mark first",
       "\x1A"
       "abc",
       ""},
      {"mark as second byte of a character",
       "\xB0\x1A"
       "cd\x1A"
       "e",
       "\xB0\x1A"
       "cd"},
      {"lone lead byte at the end", "ab\xB0", "ab\xB0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const MemoryFile file = openMemoryFile();
    ASSERT_TRUE(fileWriteText(file, Text(c.written)));
    ASSERT_TRUE(fileSeekToStart(file));
    EXPECT_EQ(fileReadText(file).str(), c.read);
  }
}

TEST(MemoryFile, HandlesThatNameNoFileFail) {
  const MemoryFile known = openMemoryFile();
  for (const MemoryFile file : {0, -1, known + 1000, std::numeric_limits<MemoryFile>::min(),
                                std::numeric_limits<MemoryFile>::max()}) {
    SCOPED_TRACE(file);
    EXPECT_FALSE(fileWriteText(file, Text("x")));
    EXPECT_FALSE(fileSeekToStart(file));
    EXPECT_EQ(fileReadText(file), Text());
  }
}

TEST(MemoryFile, HandsTextsToManyThreadsAtOnce) {
  constexpr int kTasks = 40;
  struct State {
    std::vector<std::string> received = std::vector<std::string>(kTasks);
  };
  static State* s;  // never freed: a thread left behind by a failure may still read it
  s = new State;
  std::vector<ThreadHandle> tasks;
  for (int i = 0; i < kTasks; ++i) {
    // As the worker does: open, write, then start the task with the handle.
    const MemoryFile file = openMemoryFile();
    ASSERT_TRUE(fileWriteText(file, Text("task " + std::to_string(i))));
    tasks.push_back(startThread(
        [](std::int32_t handle) {
          (void)fileSeekToStart(handle);
          const std::string text = fileReadText(handle).str();
          const int index = std::atoi(text.c_str() + 5);
          if (index >= 0 && index < kTasks) s->received[static_cast<std::size_t>(index)] = text;
          // Other files are made meanwhile.
          (void)fileWriteText(openMemoryFile(), Text("more"));
        },
        file));
    ASSERT_NE(tasks.back(), 0);
  }
  for (const ThreadHandle t : tasks)
    ASSERT_TRUE(waitThread(t));
  for (int i = 0; i < kTasks; ++i)
    EXPECT_EQ(s->received[static_cast<std::size_t>(i)], "task " + std::to_string(i));
}

}  // namespace
