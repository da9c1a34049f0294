// JPEG files made by the tests themselves with libjpeg.
#pragma once

#include <QImage>

#include "text/text.h"

enum class JpegKind { baseline, progressive, grayscale };

// The picture encoded at the given quality (0 to 100).
[[nodiscard]] Bytes encodeJpeg(const QImage& picture, JpegKind kind, int quality = 95);

// A picture whose left half is red and right half blue, so that where each
// half lands shows how it was drawn.
[[nodiscard]] QImage halvesPicture(int width, int height);
