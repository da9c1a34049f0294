#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "runtime/files.h"
#include "text/encoding.h"

namespace {

namespace fs = std::filesystem;

// Presses the dialog's own accept button, as the user would.
void choose(QFileDialog* dialog) {
  auto* buttons = dialog->findChild<QDialogButtonBox*>("buttonBox");
  ASSERT_NE(buttons, nullptr);
  ASSERT_NE(buttons->button(QDialogButtonBox::Open), nullptr);
  buttons->button(QDialogButtonBox::Open)->click();
}

class FolderPickerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Another test of this program may have made the application already.
    if (QApplication::instance() == nullptr) {
      setenv("QT_QPA_PLATFORM", "offscreen", 0);
      app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    std::string pattern = (fs::temp_directory_path() / "picker-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { fs::remove_all(folder_); }

  // Runs the picker and answers its dialog once it is the modal window. A
  // dialog that is never found is rejected after a generous bound.
  Text browseAnswering(const Text& title, bool includeFiles,
                       const std::function<void(QFileDialog*)>& answer) {
    QTimer timer;
    int ticks = 0;
    found_ = false;
    QObject::connect(&timer, &QTimer::timeout, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      auto* dialog = qobject_cast<QFileDialog*>(modal);
      if (dialog != nullptr && dialog->objectName() == "browseForFolderDialog") {
        timer.stop();
        found_ = true;
        answer(dialog);
      } else if (++ticks > 3000) {
        timer.stop();
        if (auto* other = qobject_cast<QDialog*>(modal)) other->reject();
      }
    });
    timer.start(10);
    return browseForFolder(title, includeFiles);
  }

  [[nodiscard]] std::string path(const std::string& relative) const {
    return (folder_ / relative).string();
  }

  fs::path folder_;
  bool found_ = false;

 private:
  int argc_ = 1;
  char name_[16] = "runtime_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

TEST_F(FolderPickerTest, ShowsQtsOwnModalDialogWithTheTitle) {
  for (const bool includeFiles : {false, true}) {
    SCOPED_TRACE(includeFiles);
    const Text result = browseAnswering(
        utf8ToText("请选择保存文件夹："), includeFiles, [includeFiles](QFileDialog* dialog) {
          EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8("请选择保存文件夹："));
          EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
          EXPECT_EQ(dialog->testOption(QFileDialog::ShowDirsOnly), !includeFiles);
          EXPECT_EQ(dialog->windowModality(), Qt::ApplicationModal);
          EXPECT_NE(dialog->findChild<QLineEdit*>("fileNameEdit"), nullptr);
          dialog->reject();
        });
    EXPECT_TRUE(found_);
    EXPECT_EQ(result, Text());
  }
}

TEST_F(FolderPickerTest, GivesAbsolutePathOfTheChoiceOrNothing) {
  fs::create_directory(path("秋日"));
  fs::create_directory(path("한글 😀"));
  fs::create_directory(path("with\\backslash"));
  struct Case {
    const char* name;
    std::function<void(QFileDialog*)> answer;
    std::string expected;  // UTF-8
  };
  const auto typed = [this](const std::string& relative) {
    return [this, relative](QFileDialog* dialog) {
      dialog->setDirectory(QString::fromStdString(folder_.string()));
      dialog->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(relative));
      choose(dialog);
    };
  };
  const auto opened = [](const std::string& directory) {
    return [directory](QFileDialog* dialog) {
      dialog->setDirectory(QString::fromStdString(directory));
      choose(dialog);
    };
  };
  const Case cases[] = {
      {"cancelled", [](QFileDialog* dialog) { dialog->reject(); }, ""},
      {"typed Chinese name", typed("秋日"), path("秋日")},
      {"typed name outside GBK", typed("한글 😀"), path("한글 😀")},
      {"opened with a trailing separator", opened(path("秋日") + "/"), path("秋日")},
      {"root", opened("/"), "/"},
      {"backslash in the path", opened(path("with\\backslash")), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Text result = browseAnswering(utf8ToText("选择"), false, c.answer);
    EXPECT_TRUE(found_);
    EXPECT_EQ(textToUtf8(result), c.expected);
  }
}

}  // namespace
