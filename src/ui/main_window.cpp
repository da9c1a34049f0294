#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QRadioButton>
#include <QScreen>
#include <array>

#include "runtime/control_registry.h"
#include "runtime/picture.h"
#include "runtime/widgets.h"
#include "text/encoding.h"
#include "ui/window_widgets.h"

namespace {

constexpr QSize kOuterSize(576, 400);

QString qText(const Text& text) {
  return QString::fromUtf8(textToUtf8(text));
}

// Sets a colour for the active and inactive states only, so that disabled
// controls keep the style's greyed look.
void setColor(QWidget* widget, QPalette::ColorRole role, const QColor& color) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Active, role, color);
  palette.setColor(QPalette::Inactive, role, color);
  widget->setPalette(palette);
}

class MainWindow : public QWidget {
 public:
  explicit MainWindow(const MainWindowHandlers& handlers);
  ~MainWindow() override;

  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  template <typename Widget>
  Widget* place(Widget* widget, Control control, const char* name, QRect geometry,
                const Text& kept = Text());
  void buildControls();
  bool handleKey(const QKeyEvent* key);
  void moveFocus(int direction);
  void moveRadio(QWidget* from, int direction);
  void fitOuterSize();
  void reportClosing();

  MainWindowHandlers handlers_;
  bool closingReported_ = false;
  QPushButton* startStopButton_ = nullptr;
  QListWidget* wallpaperList_ = nullptr;
  QLineEdit* threadCountEdit_ = nullptr;
  QRadioButton* saverModeRadio_ = nullptr;
  QRadioButton* fastModeRadio_ = nullptr;
};

MainWindow::MainWindow(const MainWindowHandlers& handlers)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      handlers_(handlers) {
  setObjectName(QStringLiteral("mainWindow"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(qText("Brelvik工具"_t));
  setWindowIcon(QIcon(QStringLiteral(":/icon/brelvik-48.png")));

  QFont font(QStringLiteral("微软雅黑"));
  font.setPixelSize(12);
  font.setWeight(QFont::Normal);
  font.setStyleStrategy(QFont::PreferQuality);
  setFont(font);

  const QColor buttonFace = palette().color(QPalette::Button);
  setColor(this, QPalette::Window, buttonFace);
  for (const QPalette::ColorRole role :
       {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    setColor(this, role, Qt::black);
  }

  // The client area starts at the outer size; once the window manager's frame
  // is known, fitOuterSize takes the frame off it.
  setFixedSize(kOuterSize);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect desktop = screen->geometry();
    move(desktop.left() + (desktop.width() - kOuterSize.width()) / 2,
         desktop.top() + (desktop.height() - kOuterSize.height()) / 2);
  }

  registerMainWindow(this);
  buildControls();
  installEventFilter(this);
}

MainWindow::~MainWindow() {
  reportClosing();
}

template <typename Widget>
Widget* MainWindow::place(Widget* widget, Control control, const char* name, QRect geometry,
                          const Text& kept) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(geometry);
  registerControl(control, widget, kept);
  return widget;
}

void MainWindow::buildControls() {
  wallpaperList_ = place(new QListWidget(this), Control::wallpaperList, "wallpaperList",
                         QRect(24, 16, 328, 328));
  wallpaperList_->setFrameStyle(QFrame::Box | QFrame::Plain);
  wallpaperList_->setLineWidth(1);
  wallpaperList_->setSelectionMode(QAbstractItemView::SingleSelection);
  wallpaperList_->setSortingEnabled(false);
  wallpaperList_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  wallpaperList_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  wallpaperList_->setTextElideMode(Qt::ElideNone);
  wallpaperList_->setUniformItemSizes(true);
  wallpaperList_->setItemDelegate(new ListEntryDelegate(wallpaperList_));
  setColor(wallpaperList_, QPalette::Base, Qt::white);
  connect(wallpaperList_, &QListWidget::itemDoubleClicked, this, [this] {
    if (handlers_.listDoubleClicked != nullptr) handlers_.listDoubleClicked();
  });

  const Text& startCaption = "开始下载"_t;
  startStopButton_ = place(new WrappingButton(qText(startCaption), this), Control::startStopButton,
                           "startStopButton", QRect(368, 16, 72, 40), startCaption);
  startStopButton_->setAutoDefault(false);
  startStopButton_->setDefault(false);
  connect(startStopButton_, &QPushButton::clicked, this, [this] {
    if (handlers_.startStopClicked != nullptr) handlers_.startStopClicked();
  });

  struct LabelRow {
    Control control;
    const char* name;
    QRect geometry;
    const Text& text;
    Qt::Alignment alignment;
  };
  static const Text kEmpty;
  const std::array<LabelRow, 5> labels{{
      {Control::noteLabel, "noteLabel", QRect(456, 16, 96, 40), "*注意：已存在的图片将被跳过"_t,
       Qt::AlignLeft},
      {Control::threadCountLabel, "threadCountLabel", QRect(456, 72, 72, 16), "下载线程数："_t,
       Qt::AlignHCenter},
      {Control::statusLabel, "statusLabel", QRect(368, 80, 72, 40), kEmpty, Qt::AlignHCenter},
      {Control::modeLabel, "modeLabel", QRect(368, 160, 64, 16), "下载模式："_t, Qt::AlignLeft},
      {Control::previewHintLabel, "previewHintLabel", QRect(368, 200, 160, 16),
       "双击列表项目以预览图片："_t, Qt::AlignLeft},
  }};
  for (const LabelRow& row : labels) {
    auto* label =
        place(new TextLabel(row.alignment, this), row.control, row.name, row.geometry, row.text);
    label->setText(qText(row.text));
    if (row.control == Control::noteLabel) setColor(label, QPalette::WindowText, Qt::red);
  }

  threadCountEdit_ = place(new QLineEdit(QStringLiteral("10"), this), Control::threadCountEdit,
                           "threadCountEdit", QRect(456, 96, 72, 24), "10"_t);
  threadCountEdit_->setReadOnly(true);
  threadCountEdit_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  threadCountEdit_->setContextMenuPolicy(Qt::NoContextMenu);
  threadCountEdit_->setCursorPosition(0);
  setColor(threadCountEdit_, QPalette::Base, Qt::white);

  auto* arrows = place(new ThreadCountArrows(this), Control::threadCountSpin, "threadCountSpin",
                       QRect(528, 96, 18, 24));
  arrows->raise();
  connect(arrows, &ThreadCountArrows::stepped, this,
          [this](int direction) { stepThreadCount(threadCountEdit_, direction); });

  auto* progress =
      place(new QProgressBar(this), Control::progressBar, "progressBar", QRect(368, 136, 176, 16));
  progress->setOrientation(Qt::Horizontal);
  progress->setRange(0, 1000);
  progress->setValue(0);
  progress->setTextVisible(false);
  progress->setFocusPolicy(Qt::NoFocus);

  fastModeRadio_ = place(new QRadioButton(qText("最快速度"_t), this), Control::fastModeRadio,
                         "fastModeRadio", QRect(448, 160, 72, 16));
  saverModeRadio_ = place(new QRadioButton(qText("最省资源"_t), this), Control::saverModeRadio,
                          "saverModeRadio", QRect(448, 180, 72, 16));
  saverModeRadio_->setChecked(true);

  place(new PictureBox(this), Control::previewBox, "previewBox", QRect(368, 224, 184, 120));

  for (QWidget* control : std::initializer_list<QWidget*>{
           startStopButton_, wallpaperList_, threadCountEdit_, saverModeRadio_, fastModeRadio_}) {
    control->installEventFilter(this);
  }
  startStopButton_->setFocus(Qt::OtherFocusReason);
}

bool MainWindow::event(QEvent* event) {
  const bool handled = QWidget::event(event);
  switch (event->type()) {
    case QEvent::Show:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::WindowStateChange:
      fitOuterSize();
      break;
    default:
      break;
  }
  return handled;
}

void MainWindow::fitOuterSize() {
  if (isMinimized() || !isVisible()) return;
  const QSize frame = frameGeometry().size() - geometry().size();
  const QSize client = kOuterSize - frame;
  if (client != size() && client.isValid()) setFixedSize(client);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && handleKey(static_cast<QKeyEvent*>(event))) return true;
  return QWidget::eventFilter(watched, event);
}

bool MainWindow::handleKey(const QKeyEvent* key) {
  const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
  switch (key->key()) {
    case Qt::Key_Escape:
      close();
      return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return true;
    case Qt::Key_Tab:
      if (modifiers & (Qt::ControlModifier | Qt::AltModifier)) return false;
      moveFocus(modifiers & Qt::ShiftModifier ? -1 : 1);
      return true;
    case Qt::Key_Backtab:
      if (modifiers & (Qt::ControlModifier | Qt::AltModifier)) return false;
      moveFocus(-1);
      return true;
    case Qt::Key_Right:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Up: {
      QWidget* focus = focusWidget();
      if (focus != saverModeRadio_ && focus != fastModeRadio_) return false;
      const bool forward = key->key() == Qt::Key_Right || key->key() == Qt::Key_Down;
      moveRadio(focus, forward ? 1 : -1);
      return true;
    }
    default:
      return false;
  }
}

void MainWindow::moveFocus(int direction) {
  const std::array<QWidget*, 5> order{startStopButton_, wallpaperList_, threadCountEdit_,
                                      saverModeRadio_, fastModeRadio_};
  const int count = static_cast<int>(order.size());
  int at = -1;
  for (int i = 0; i < count; ++i) {
    if (order[static_cast<std::size_t>(i)] == focusWidget()) at = i;
  }
  if (at < 0) at = direction > 0 ? count - 1 : 0;
  for (int step = 1; step <= count; ++step) {
    QWidget* candidate =
        order[static_cast<std::size_t>(((at + direction * step) % count + count) % count)];
    if (candidate->isEnabled() && candidate->isVisible()) {
      candidate->setFocus(direction > 0 ? Qt::TabFocusReason : Qt::BacktabFocusReason);
      return;
    }
  }
}

void MainWindow::moveRadio(QWidget* from, int direction) {
  const std::array<QRadioButton*, 2> radios{saverModeRadio_, fastModeRadio_};
  const int count = static_cast<int>(radios.size());
  const int at = from == radios[0] ? 0 : 1;
  for (int step = 1; step < count + 1; ++step) {
    QRadioButton* candidate =
        radios[static_cast<std::size_t>(((at + direction * step) % count + count) % count)];
    if (candidate->isEnabled() && candidate->isVisible()) {
      candidate->setChecked(true);
      candidate->setFocus(Qt::OtherFocusReason);
      return;
    }
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  reportClosing();
  event->accept();
}

void MainWindow::reportClosing() {
  if (closingReported_) return;
  closingReported_ = true;
  // A window that a newer one has replaced (only tests make a second) no
  // longer owns the controls the operations reach.
  if (controlEntry(Control::mainWindow).widget != this) return;
  // The handler may still stop a run through the control operations; after it,
  // those quietly do nothing while the controls go away.
  if (handlers_.closing != nullptr) handlers_.closing();
  beginWindowTeardown();
}

}  // namespace

bool createMainWindow(const MainWindowHandlers& handlers) {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return false;
  auto* window = new MainWindow(handlers);
  window->show();
  return true;
}
