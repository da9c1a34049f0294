// Picture decoding and the picture box that shows a decoded picture.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>

#include "text/text.h"

enum class PictureFormat { none, bitmap, jpeg, icon, cursor, gif, pcx8, pcx1 };

// The format named by the first six bytes; none for fewer. Any thread.
[[nodiscard]] PictureFormat recognisePicture(const Bytes& data);

// The decoded picture, or a null image for data of no known format, a format
// without a decoder here (PCX), damaged or cut-off data, or a picture too large
// to hold. Never ends the process. JPEG (baseline and progressive) goes through
// libjpeg; bitmaps, icons, cursors and GIF (first frame) through Qt's readers.
// Any thread.
[[nodiscard]] QImage decodePicture(const Bytes& data);

// Fills itself with the palette's Window colour and draws its picture by the
// display mode: 0 at natural size from the top-left corner, cut off at the
// edges; 1 stretched over the whole box; 2 centred, first shrunk by the smaller
// of the two ratios when it does not fit, keeping its proportions. Takes no
// focus. User interface thread.
class PictureBox : public QWidget {
  Q_OBJECT

 public:
  explicit PictureBox(QWidget* parent = nullptr);

  // Keeps the bytes and the picture decoded from them; repaints.
  void setPicture(Bytes data, QImage picture);
  // Clamped to 0..2; repaints when the mode changes.
  void setDisplayMode(std::int32_t mode);

  [[nodiscard]] const Bytes& pictureData() const { return data_; }
  [[nodiscard]] const QImage& picture() const { return picture_; }
  [[nodiscard]] std::int32_t displayMode() const { return mode_; }
  // Where the picture lands in the box by the current mode; empty without one.
  [[nodiscard]] QRect pictureRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Bytes data_;
  QImage picture_;
  QImage scaled_;  // picture_ resampled to pictureRect()'s size, made when first needed
  std::int32_t mode_ = 0;
};
