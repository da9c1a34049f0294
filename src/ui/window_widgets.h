// The main window's own kinds of control. User interface thread only.
#pragma once

#include <QPushButton>
#include <QStyledItemDelegate>
#include <QWidget>

class QLineEdit;
class QToolButton;

// A push button whose caption is centred both ways and wraps onto further
// lines when it is too wide for one.
class WrappingButton : public QPushButton {
  Q_OBJECT

 public:
  using QPushButton::QPushButton;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// The up and down arrows beside the thread-count box. They take no focus.
class ThreadCountArrows : public QWidget {
  Q_OBJECT

 public:
  explicit ThreadCountArrows(QWidget* parent = nullptr);

  [[nodiscard]] QToolButton* upButton() const { return up_; }
  [[nodiscard]] QToolButton* downButton() const { return down_; }

 signals:
  // +1 for the up arrow, -1 for the down arrow.
  void stepped(int direction);

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  QToolButton* up_;
  QToolButton* down_;
};

// One arrow click on the thread-count box: reads the number at the start of the
// text as atoi does, steps it within 1..20 (up past 20 or below 1 gives 1, down
// below 1 gives 20, above 20 gives 20), writes it back, selects it all and
// focuses the box. Nothing happens unless the box is enabled and visible.
void stepThreadCount(QLineEdit* edit, int direction);

// List entries one pixel taller than the font's line height.
class ListEntryDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  [[nodiscard]] QSize sizeHint(const QStyleOptionViewItem& option,
                               const QModelIndex& index) const override;
};
