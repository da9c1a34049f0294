// Gallery pages and JPEG images for the run's tests. Header-only, so that the
// tests of the user interface share it.
#pragma once

#include <cstdio>
// jpeglib.h needs <cstdio> first.
#include <jpeglib.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace test_gallery {

// A real baseline JPEG of the given size whose pixels depend on seed, so that
// every image of a test is different.
inline std::string makeJpeg(int width, int height, unsigned seed) {
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 90, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::vector<unsigned char> row(static_cast<std::size_t>(width) * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      row[static_cast<std::size_t>(x) * 3] = static_cast<unsigned char>(x * 255 / width);
      row[static_cast<std::size_t>(x) * 3 + 1] = static_cast<unsigned char>(y * 255 / height);
      row[static_cast<std::size_t>(x) * 3 + 2] = static_cast<unsigned char>(seed * 37);
    }
    JSAMPROW rows[] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::string jpeg(reinterpret_cast<const char*>(buffer), size);
  std::free(buffer);
  return jpeg;
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
