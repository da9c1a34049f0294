#include "runtime/controls.h"

#include <QAbstractButton>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <stop_token>
#include <utility>

#include "runtime/control_registry.h"
#include "runtime/picture.h"
#include "runtime/threads.h"
#include "runtime/ui_thread.h"
#include "runtime/widgets.h"
#include "text/encoding.h"

namespace {

// Each entry keeps its exact bytes beside the shown text, so that reading an
// entry back and comparing texts never depend on a round trip through UTF-8.
constexpr int kEntryBytesRole = Qt::UserRole;
constexpr int kEntryValueRole = Qt::UserRole + 1;

enum class Access { property, enabling, list };
enum class Missing { none, window, control };

QString toQString(const Text& text) {
  return QString::fromUtf8(textToUtf8(text));
}

Text fromQString(const QString& text) {
  return utf8ToText(text.toUtf8().toStdString());
}

const Text& missingMessage(Access access, Missing missing) {
  if (access == Access::list) return "指定窗口或窗口组件不存在或尚未载入"_t;
  if (missing == Missing::window) return "未载入欲访问窗口组件所在的窗口"_t;
  return "指定窗口尚未载入"_t;
}

// Runs op(entry, widget) on the user interface thread for the control when the
// calling thread has not been stopped, at the moment it runs, and the main
// window is not being torn down. A control of another kind than Widget is left
// alone. A missing window or control is reported on the calling thread.
template <typename Widget, Access access, typename Result, typename Op>
Result onControl(Control control, Result empty, Op op) {
  const std::stop_token stop = currentStopToken();
  if (windowTornDown()) return empty;
  Result result = empty;
  Missing missing = Missing::none;
  runOnUiThread([&] {
    if (stop.stop_requested() || windowTornDown()) return;
    if (findMainWindow() == nullptr) {
      missing = Missing::window;
      return;
    }
    ControlEntry& entry = controlEntry(control);
    if (entry.widget == nullptr) {
      // Only enabling goes on without the control's widget; the other
      // operations are never even instantiated with a null widget.
      if constexpr (access == Access::enabling) {
        result = op(entry, static_cast<Widget*>(nullptr));
      } else {
        missing = Missing::control;
      }
      return;
    }
    if (auto* widget = qobject_cast<Widget*>(entry.widget.data())) result = op(entry, widget);
  });
  if (missing != Missing::none) reportMissingControl(missingMessage(access, missing));
  return result;
}

}  // namespace

Text getButtonCaption(Control button) {
  return onControl<QAbstractButton, Access::property>(
      button, Text(), [](ControlEntry& entry, QAbstractButton*) { return entry.kept; });
}

void setButtonCaption(Control button, const Text& caption) {
  onControl<QAbstractButton, Access::property>(
      button, false, [&caption](ControlEntry& entry, QAbstractButton* widget) {
        entry.kept = caption;
        widget->setText(toQString(caption));
        return true;
      });
}

void setLabelText(Control label, const Text& text) {
  onControl<TextLabel, Access::property>(label, false,
                                         [&text](ControlEntry& entry, TextLabel* widget) {
                                           entry.kept = text;
                                           widget->setText(toQString(text));
                                           return true;
                                         });
}

Text getEditText(Control edit) {
  return onControl<QLineEdit, Access::property>(edit, Text(),
                                                [](ControlEntry& entry, QLineEdit* widget) {
                                                  entry.kept = fromQString(widget->text());
                                                  return entry.kept;
                                                });
}

void setControlEnabled(Control control, bool enabled) {
  onControl<QWidget, Access::enabling>(
      control, false, [control, enabled](ControlEntry& entry, QWidget* widget) {
        entry.disabled = !enabled;
        if (widget != nullptr) widget->setEnabled(enabled);
        // The edit box's arrows go with it.
        if (control == Control::threadCountEdit) {
          ControlEntry& arrows = controlEntry(Control::threadCountSpin);
          arrows.disabled = !enabled;
          if (arrows.widget != nullptr) arrows.widget->setEnabled(enabled);
        }
        return true;
      });
}

bool isRadioChecked(Control radio) {
  return onControl<QAbstractButton, Access::property>(
      radio, false, [](ControlEntry&, QAbstractButton* widget) { return widget->isChecked(); });
}

std::int32_t getListSelection(Control list) {
  return onControl<QListWidget, Access::list>(list, -1, [](ControlEntry&, QListWidget* widget) {
    const QModelIndexList selected = widget->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : static_cast<std::int32_t>(selected.front().row());
  });
}

std::int32_t listItemCount(Control list) {
  return onControl<QListWidget, Access::list>(list, 0, [](ControlEntry&, QListWidget* widget) {
    return static_cast<std::int32_t>(widget->count());
  });
}

std::int32_t listInsertItem(Control list, std::int32_t index, const Text& text) {
  return onControl<QListWidget, Access::list>(
      list, -1, [index, &text](ControlEntry&, QListWidget* widget) {
        if (index < 0 || index > widget->count()) return -1;
        auto* item = new QListWidgetItem(toQString(text));
        item->setData(kEntryBytesRole, QByteArray::fromStdString(text.str()));
        item->setData(kEntryValueRole, 0);
        widget->insertItem(index, item);
        return index;
      });
}

bool listSetItemText(Control list, std::int32_t index, const Text& text) {
  return onControl<QListWidget, Access::list>(
      list, false, [index, &text](ControlEntry&, QListWidget* widget) {
        if (index < 0 || index >= widget->count()) return false;
        QListWidgetItem* item = widget->item(index);
        const QByteArray bytes = QByteArray::fromStdString(text.str());
        if (item->data(kEntryBytesRole).toByteArray() == bytes) return true;
        // Changing the item in place keeps the selection, the current
        // entry and the scroll position without the list ever going
        // through a state without the entry.
        item->setData(kEntryBytesRole, bytes);
        item->setText(toQString(text));
        return true;
      });
}

Text listItemText(Control list, std::int32_t index) {
  return onControl<QListWidget, Access::list>(
      list, Text(), [index](ControlEntry&, QListWidget* widget) {
        if (index < 0 || index >= widget->count()) return Text();
        return Text(widget->item(index)->data(kEntryBytesRole).toByteArray().toStdString());
      });
}

void listClear(Control list) {
  onControl<QListWidget, Access::list>(list, false, [](ControlEntry&, QListWidget* widget) {
    widget->clear();
    return true;
  });
}

void setPicture(Control pictureBox, const Bytes& data) {
  // Decoding is the slow part; do it on the calling thread, before the hand-over.
  QImage picture = decodePicture(data);
  onControl<PictureBox, Access::property>(pictureBox, false,
                                          [&data, &picture](ControlEntry&, PictureBox* widget) {
                                            widget->setPicture(data, std::move(picture));
                                            return true;
                                          });
}

void setPictureDisplayMode(Control pictureBox, std::int32_t mode) {
  onControl<PictureBox, Access::property>(pictureBox, false,
                                          [mode](ControlEntry&, PictureBox* widget) {
                                            widget->setDisplayMode(mode);
                                            return true;
                                          });
}

void setProgressPosition(Control bar, std::int32_t position) {
  onControl<QProgressBar, Access::property>(
      bar, false, [position](ControlEntry&, QProgressBar* widget) {
        const std::int32_t clamped = std::clamp(position, 0, 32767);
        widget->setValue(std::clamp(clamped, widget->minimum(), widget->maximum()));
        return true;
      });
}

bool isWindowCreated(Control window) {
  const std::stop_token stop = currentStopToken();
  if (windowTornDown()) return false;
  bool exists = false;
  runOnUiThread([&] {
    if (stop.stop_requested() || findMainWindow() == nullptr) return;
    exists = controlEntry(window).widget != nullptr;
  });
  return exists;
}
