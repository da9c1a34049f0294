// JPEG files made by the tests themselves with libjpeg.
#pragma once

#include <QImage>

#include "text/text.h"

enum class JpegKind { baseline, progressive, grayscale };

// The picture encoded at high quality.
[[nodiscard]] Bytes encodeJpeg(const QImage& picture, JpegKind kind);

// A picture whose left half is red and right half blue, so that where each
// half lands shows how it was drawn.
[[nodiscard]] QImage halvesPicture(int width, int height);
