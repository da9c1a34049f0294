#include "runtime/widgets.h"

#include <QPainter>

TextLabel::TextLabel(Qt::Alignment horizontal, QWidget* parent)
    : QWidget(parent), horizontal_(horizontal & Qt::AlignHorizontal_Mask) {
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TextLabel::setText(const QString& text) {
  // Qt breaks lines at "\n" only; a lone "\r" would show as a glyph.
  QString lines = text;
  lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  text_ = lines;
  update();
}

void TextLabel::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Window));
  painter.setPen(
      palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
  painter.setFont(font());
  painter.drawText(rect(), static_cast<int>(horizontal_ | Qt::AlignTop | Qt::TextWordWrap), text_);
}
