// Gallery pages and JPEG images for the run's tests. Header-only, so that the
// tests of the user interface share it.
#pragma once

#include <QImage>
#include <string>

#include "support/jpeg_samples.h"

namespace test_gallery {

// A real baseline JPEG of the given size whose pixels depend on seed, so that
// every image of a test is different.
inline std::string makeJpeg(int width, int height, unsigned seed) {
  QImage picture(width, height, QImage::Format_RGB888);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x)
      picture.setPixel(x, y, qRgb(x * 255 / width, y * 255 / height, (seed * 37) & 0xFF));
  }
  return encodeJpeg(picture, JpegKind::baseline, 90).str();
}

// The markup the parser reads: a heading that carries a title and the link to
// a full-size image.
inline std::string titleLine(const std::string& title) {
  return "<div class=\"item\"><h3 class=\"headingBase headingM\">" + title + "</h3></div>\n";
}
inline std::string linkLine(const std::string& url) {
  return "<p><a class=\"navigationLink\" href=\"" + url + "\">立即获取</a></p>\n";
}

// A UTF-8 page that declares its charset early, around the given body.
inline std::string galleryPage(const std::string& body) {
  return "<!DOCTYPE html>\n<html><head>\n"
         "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\n"
         "<title>桌面壁纸</title></head><body>\n" +
         body + "</body></html>\n";
}

}  // namespace test_gallery
