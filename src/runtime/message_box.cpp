#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stop_token>
#include <vector>

#include "runtime/control_registry.h"
#include "runtime/controls.h"
#include "runtime/threads.h"
#include "runtime/ui_thread.h"
#include "text/encoding.h"

namespace {

constexpr std::int32_t kButtonsMask = 0x0F;
constexpr std::int32_t kIconMask = 0xF0;
constexpr std::int32_t kDefaultButtonMask = 0xF00;

struct Choice {
  QMessageBox::StandardButton button;
  const char* label;  // UTF-8
  std::int32_t number;
};

constexpr Choice kOk{QMessageBox::Ok, "确定", 0};
constexpr Choice kCancel{QMessageBox::Cancel, "取消", 1};
constexpr Choice kAbort{QMessageBox::Abort, "中止(&A)", 2};
constexpr Choice kRetry{QMessageBox::Retry, "重试(&R)", 3};
constexpr Choice kIgnore{QMessageBox::Ignore, "忽略(&I)", 4};
constexpr Choice kYes{QMessageBox::Yes, "是(&Y)", 5};
constexpr Choice kNo{QMessageBox::No, "否(&N)", 6};
constexpr Choice kChoices[] = {kOk, kCancel, kAbort, kRetry, kIgnore, kYes, kNo};

// The buttons of each button set, in the order the default-button bits count.
std::vector<Choice> buttonSet(std::int32_t flags) {
  switch (flags & kButtonsMask) {
    case 1:
      return {kOk, kCancel};
    case 2:
      return {kAbort, kRetry, kIgnore};
    case 3:
      return {kYes, kNo, kCancel};
    case 4:
      return {kYes, kNo};
    case 5:
      return {kRetry, kCancel};
    default:
      return {kOk};
  }
}

QMessageBox::Icon icon(std::int32_t flags) {
  switch (flags & kIconMask) {
    case 0x10:
      return QMessageBox::Critical;
    case 0x20:
      return QMessageBox::Question;
    case 0x30:
      return QMessageBox::Warning;
    case 0x40:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

std::int32_t buttonNumber(QMessageBox* box) {
  const QMessageBox::StandardButton pressed = box->standardButton(box->clickedButton());
  for (const Choice& choice : kChoices) {
    if (choice.button == pressed) return choice.number;
  }
  return -1;
}

QMessageBox* makeBox(const Text& text, std::int32_t flags, const Text& title) {
  auto* box = new QMessageBox();
  // The caller's wait must leave the program's windows usable.
  box->setWindowModality(Qt::NonModal);
  box->setObjectName(QStringLiteral("messageBox"));
  box->setIcon(icon(flags));
  box->setWindowTitle(QString::fromUtf8(textToUtf8(title.empty() ? "信息："_t : title)));
  box->setText(QString::fromUtf8(textToUtf8(text)));
  box->setTextFormat(Qt::PlainText);
  const std::vector<Choice> buttons = buttonSet(flags);
  for (const Choice& choice : buttons) {
    box->addButton(choice.button)->setText(QString::fromUtf8(choice.label));
  }
  const auto defaultIndex = static_cast<std::size_t>((flags & kDefaultButtonMask) >> 8);
  box->setDefaultButton(buttons[defaultIndex < buttons.size() ? defaultIndex : 0].button);
  return box;
}

struct BoxState {
  std::mutex mutex;
  std::condition_variable_any answered;
  bool done = false;          // guarded by mutex
  std::int32_t result = -1;   // guarded by mutex
  QPointer<QMessageBox> box;  // user interface thread only
};

}  // namespace

std::int32_t showMessageBox(const Text& text, std::int32_t flags, const Text& title) {
  const std::stop_token stop = currentStopToken();
  if (stop.stop_requested() || windowTornDown()) return -1;
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return -1;

  auto state = std::make_shared<BoxState>();
  bool shown = false;
  runOnUiThread([&] {
    if (stop.stop_requested()) return;
    QMessageBox* box = makeBox(text, flags, title);
    state->box = box;
    QObject::connect(box, &QMessageBox::finished, box, [state, box] {
      const std::int32_t number = buttonNumber(box);
      {
        std::lock_guard guard(state->mutex);
        state->done = true;
        state->result = number;
      }
      state->answered.notify_all();
      box->deleteLater();
    });
    box->show();
    shown = true;
  });
  if (!shown) return -1;

  if (isUiThread()) {
    // Waiting on the user interface thread itself: keep its events flowing.
    QEventLoop loop;
    QObject::connect(state->box, &QMessageBox::finished, &loop, &QEventLoop::quit);
    if (state->box != nullptr && state->box->isVisible()) loop.exec();
    std::lock_guard guard(state->mutex);
    return state->result;
  }

  // A stop closes the box on the user interface thread and ends the wait here.
  std::stop_callback closeOnStop(stop, [state] {
    postToUiThread([state] {
      if (state->box == nullptr) return;
      state->box->hide();
      state->box->deleteLater();
    });
  });
  std::unique_lock guard(state->mutex);
  state->answered.wait(guard, stop, [&state] { return state->done; });
  return state->done ? state->result : -1;
}
