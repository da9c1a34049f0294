#include "ui/handlers.h"

#include "run/run.h"
#include "run/wallpaper_file.h"
#include "runtime/controls.h"
#include "runtime/files.h"
#include "runtime/threads.h"
#include "text/encoding.h"
#include "ui/main_window.h"

namespace {

// The folder picker's last answer; each run keeps its own copy.
Text saveFolder;

bool runActive() {
  return getButtonCaption(Control::startStopButton) == "停止下载"_t;
}

// Walks by characters, so the second byte of a character such as 乗 (81 5C)
// is not taken for a backslash. "/" ends the root folder on this platform.
bool endsWithSeparator(const Text& folder) {
  const std::int32_t length = textLength(folder);
  return findLastText(folder, "\\"_t) == length || findLastText(folder, "/"_t) == length;
}

void setSettingsEnabled(bool enabled) {
  setControlEnabled(Control::threadCountEdit, enabled);
  setControlEnabled(Control::saverModeRadio, enabled);
  setControlEnabled(Control::fastModeRadio, enabled);
}

void stopAction() {
  stopRun();
  setButtonCaption(Control::startStopButton, "开始下载"_t);
  setLabelText(Control::statusLabel, Text());
  setSettingsEnabled(true);
}

void startAction(const Text& pageUrl) {
  saveFolder = browseForFolder("请选择保存文件夹："_t, false);
  if (saveFolder.empty()) return;
  if (!endsWithSeparator(saveFolder)) saveFolder = concatText(saveFolder, "\\"_t);
  setButtonCaption(Control::startStopButton, "停止下载"_t);
  setSettingsEnabled(false);
  setLabelText(Control::statusLabel, "解析图片...\r\n0 %"_t);
  listClear(Control::wallpaperList);
  startRun(saveFolder, pageUrl);
}

void releaseSaveFolder() {
  saveFolder = Text();
}

void startUp() {}

}  // namespace

void onStartStopClicked() {
  onStartStopClickedFor(Text(galleryPageUrl));
}

void onStartStopClickedFor(const Text& pageUrl) {
  if (runActive()) {
    stopAction();
  } else {
    startAction(pageUrl);
  }
}

void onMainWindowClosing() {
  if (runActive()) stopAction();
  forgetShownRun();
}

void onWallpaperListDoubleClicked() {
  const Text entry = listItemText(Control::wallpaperList, getListSelection(Control::wallpaperList));
  // The title is everything after the prefix's colon, one of its own included.
  const std::int32_t colon = findText(entry, "："_t);
  if (colon == -1) return;
  const Text title = textRight(entry, textLength(entry) - colon - textLength("："_t) + 1);
  const Text folder = shownRunFolder();
  if (title.empty() || folder.empty()) return;
  const Text path = wallpaperFilePath(folder, title);
  if (!fileExists(path)) return;
  setPicture(Control::previewBox, readFileBytes(path));
  setPictureDisplayMode(Control::previewBox, 1);
}

void programMain(int& argc, char** argv) {
  initRuntime(argc, argv);
  setExitRoutine(releaseSaveFolder);
  startUp();
  const MainWindowHandlers handlers{onStartStopClicked, onMainWindowClosing,
                                    onWallpaperListDoubleClicked};
  if (!createMainWindow(handlers)) fatalErrorMessage("载入启动窗口失败"_t);
  runMessageLoop();
}
