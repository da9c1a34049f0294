#include "ui/window_widgets.h"

#include <QFontMetrics>
#include <QLineEdit>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QToolButton>
#include <algorithm>
#include <climits>
#include <cstdlib>

void WrappingButton::paintEvent(QPaintEvent* /*event*/) {
  QStylePainter painter(this);
  QStyleOptionButton option;
  initStyleOption(&option);
  const QString caption = option.text;
  option.text.clear();
  painter.drawControl(QStyle::CE_PushButton, option);
  const QRect area = style()->subElementRect(QStyle::SE_PushButtonContents, &option, this);
  painter.drawItemText(area, Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic, palette(),
                       isEnabled(), caption, QPalette::ButtonText);
}

ThreadCountArrows::ThreadCountArrows(QWidget* parent)
    : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)) {
  for (QToolButton* button : {up_, down_}) {
    button->setFocusPolicy(Qt::NoFocus);
    button->setAutoRepeat(true);
  }
  up_->setArrowType(Qt::UpArrow);
  down_->setArrowType(Qt::DownArrow);
  connect(up_, &QToolButton::clicked, this, [this] { emit stepped(1); });
  connect(down_, &QToolButton::clicked, this, [this] { emit stepped(-1); });
}

void ThreadCountArrows::resizeEvent(QResizeEvent* /*event*/) {
  const int upper = height() / 2;
  up_->setGeometry(0, 0, width(), upper);
  down_->setGeometry(0, upper, width(), height() - upper);
}

void stepThreadCount(QLineEdit* edit, int direction) {
  if (edit == nullptr || !edit->isEnabled() || !edit->isVisible()) return;
  const long read = std::strtol(edit->text().toUtf8().constData(), nullptr, 10);
  const long long number = std::clamp<long>(read, INT_MIN, INT_MAX);
  long long next = number + (direction > 0 ? 1 : -1);
  if (direction > 0) {
    if (next > 20 || next < 1) next = 1;
  } else {
    if (next < 1) next = 20;
    if (next > 20) next = 20;
  }
  edit->setText(QString::number(next));
  edit->selectAll();
  edit->setFocus(Qt::OtherFocusReason);
}

QSize ListEntryDelegate::sizeHint(const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
  QSize size = QStyledItemDelegate::sizeHint(option, index);
  size.setHeight(QFontMetrics(option.font).height() + 1);
  return size;
}
