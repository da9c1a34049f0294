// Operations on the main window and its controls, callable from any thread.
//
// From a thread other than the user interface thread, each operation runs on
// the user interface thread while the caller waits, so it has taken effect when
// it returns. The caller's stop mark is checked there: an operation of a
// stopped thread changes nothing and returns the empty value. An operation on a
// control that does not exist raises the run-time fatal error, except once the
// main window is being torn down, when it quietly does nothing.
#pragma once

#include <cstdint>

#include "text/text.h"

enum class Control {
  mainWindow,
  startStopButton,
  wallpaperList,
  threadCountEdit,
  threadCountSpin,
  statusLabel,
  progressBar,
  previewBox,
  saverModeRadio,
  fastModeRadio,
  noteLabel,
  threadCountLabel,
  previewHintLabel,
  modeLabel,
};

[[nodiscard]] Text getButtonCaption(Control button);
void setButtonCaption(Control button, const Text& caption);
void setLabelText(Control label, const Text& text);
[[nodiscard]] Text getEditText(Control edit);
void setControlEnabled(Control control, bool enabled);
[[nodiscard]] bool isRadioChecked(Control radio);

// List entries are numbered from 0; -1 means no selection.
[[nodiscard]] std::int32_t getListSelection(Control list);
[[nodiscard]] std::int32_t listItemCount(Control list);
// The new entry's number, or -1 for a negative index or one beyond the count.
std::int32_t listInsertItem(Control list, std::int32_t index, const Text& text);
// False for an index outside the entries. Keeps selection, scroll position and
// focus entry; does nothing when the text is unchanged.
bool listSetItemText(Control list, std::int32_t index, const Text& text);
// The empty text outside the entries.
[[nodiscard]] Text listItemText(Control list, std::int32_t index);
void listClear(Control list);

// Decodes the picture (JPEG among others); undecodable data leaves the box empty.
void setPicture(Control pictureBox, const Bytes& data);
// 0 natural size at the top left, 1 stretched over the box, 2 centred and shrunk
// to fit; other values are clamped to 0..2.
void setPictureDisplayMode(Control pictureBox, std::int32_t mode);
// Clamped to 0..32767, then to the bar's range.
void setProgressPosition(Control bar, std::int32_t position);
// True from the main window's creation until it is destroyed. Never fails.
[[nodiscard]] bool isWindowCreated(Control window);
// A message box without an owner; the caller waits until it is dismissed (or
// until the calling thread is stopped, which closes it). The main window stays
// usable. Returns 0 for OK, 1 Cancel, 2 Abort, 3 Retry, 4 Ignore, 5 Yes, 6 No;
// -1 when the box could not be shown or the caller was stopped.
std::int32_t showMessageBox(const Text& text, std::int32_t flags, const Text& title);
