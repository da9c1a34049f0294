// Widgets that the control operations drive beyond what Qt's own offer.
// User interface thread only, like every widget.
#pragma once

#include <QString>
#include <QWidget>

// A label that paints itself: its whole area in the palette's Window colour,
// then its text in WindowText, wrapped to its width from its top edge, with the
// given horizontal alignment. "\r\n" in the text starts a new line. Takes no
// focus.
class TextLabel : public QWidget {
  Q_OBJECT

 public:
  explicit TextLabel(Qt::Alignment horizontal, QWidget* parent = nullptr);

  // Repaints the whole label.
  void setText(const QString& text);
  [[nodiscard]] const QString& text() const { return text_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Qt::Alignment horizontal_;
  QString text_;
};
