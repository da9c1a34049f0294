#include "support/jpeg_samples.h"

#include <cstdio>  // before jpeglib.h
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

Bytes encodeJpeg(const QImage& picture, JpegKind kind, int quality) {
  const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(rgb.width());
  info.image_height = static_cast<JDIMENSION>(rgb.height());
  const bool gray = kind == JpegKind::grayscale;
  info.input_components = gray ? 1 : 3;
  info.in_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  if (kind == JpegKind::progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  std::vector<unsigned char> grayRow(static_cast<std::size_t>(rgb.width()));
  while (info.next_scanline < info.image_height) {
    const uchar* line = rgb.constScanLine(static_cast<int>(info.next_scanline));
    JSAMPROW row = const_cast<uchar*>(line);
    if (gray) {
      for (int x = 0; x < rgb.width(); ++x)
        grayRow[static_cast<std::size_t>(x)] = line[3 * x + 1];
      row = grayRow.data();
    }
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  Bytes result(std::string(reinterpret_cast<const char*>(buffer), size));
  std::free(buffer);
  return result;
}

QImage halvesPicture(int width, int height) {
  QImage picture(width, height, QImage::Format_RGB32);
  picture.fill(Qt::blue);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width / 2; ++x)
      picture.setPixel(x, y, qRgb(255, 0, 0));
  }
  return picture;
}
