#include "runtime/picture.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QPainter>
#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <cstdlib>
#include <cstring>
#include <string>

#include <jerror.h>
#include <jpeglib.h>

namespace {

// Qt's readers refuse more than this by default; hold libjpeg to the same.
constexpr std::uint64_t kMaxPictureBytes = 256ull * 1024 * 1024;
// A progressive file is buffered whole as coefficients, two bytes per sample:
// up to 1.5 times the picture for three components, and no more than this for
// any file, whatever its header claims.
constexpr long kMaxJpegBufferBytes = 2 * static_cast<long>(kMaxPictureBytes);

std::uint8_t byteAt(const Bytes& data, std::size_t i) {
  return static_cast<std::uint8_t>(data.str()[i]);
}

struct JpegErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
};

[[noreturn]] void jpegErrorExit(j_common_ptr info) {
  // libjpeg's own handler calls exit(); return to the decoder instead.
  std::longjmp(reinterpret_cast<JpegErrorManager*>(info->err)->jump, 1);
}

void jpegEmitMessage(j_common_ptr info, int level) {
  // A cut-off file is only a warning to libjpeg, which pads the rest with grey;
  // treat it as the damage it is. Other warnings (stray bytes between markers)
  // leave a usable picture.
  if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF) {
    std::longjmp(reinterpret_cast<JpegErrorManager*>(info->err)->jump, 1);
  }
}

// Only trivially destructible locals live here, since an error longjmps back to
// the setjmp below; the image belongs to the caller.
bool decodeJpegInto(jpeg_decompress_struct* info, JpegErrorManager* errors,
                    const unsigned char* data, unsigned long size, QImage* image) {
  if (setjmp(errors->jump) != 0) {
    jpeg_destroy_decompress(info);
    return false;
  }
  jpeg_create_decompress(info);
  jpeg_mem_src(info, data, size);
  // Beyond it libjpeg would need a backing store, which it lacks, and fails.
  info->mem->max_memory_to_use = kMaxJpegBufferBytes;
  jpeg_read_header(info, TRUE);
  // Refused before jpeg_start_decompress, which takes in every scan of a
  // progressive file: a few kilobytes may claim 65500 x 65500.
  if (std::uint64_t{info->image_width} * info->image_height * 4 > kMaxPictureBytes) {
    jpeg_destroy_decompress(info);
    return false;
  }
  info->out_color_space = JCS_RGB;
  jpeg_start_decompress(info);
  const std::uint64_t pictureBytes = std::uint64_t{info->output_width} * info->output_height * 4;
  if (info->output_components != 3 || pictureBytes > kMaxPictureBytes) {
    jpeg_destroy_decompress(info);
    return false;
  }
  *image = QImage(static_cast<int>(info->output_width), static_cast<int>(info->output_height),
                  QImage::Format_RGB888);
  if (image->isNull()) {
    jpeg_destroy_decompress(info);
    return false;
  }
  while (info->output_scanline < info->output_height) {
    JSAMPROW row = image->scanLine(static_cast<int>(info->output_scanline));
    jpeg_read_scanlines(info, &row, 1);
  }
  jpeg_finish_decompress(info);
  jpeg_destroy_decompress(info);
  return true;
}

QImage decodeJpeg(const Bytes& data) {
  jpeg_decompress_struct info{};
  JpegErrorManager errors{};
  info.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = jpegErrorExit;
  errors.base.emit_message = jpegEmitMessage;
  QImage image;
  if (!decodeJpegInto(&info, &errors, reinterpret_cast<const unsigned char*>(data.data()),
                      static_cast<unsigned long>(data.str().size()), &image)) {
    return QImage();
  }
  return image.convertToFormat(QImage::Format_RGB32);
}

// Whether an uncompressed bitmap holds every pixel row that its header
// declares, from its pixel data offset on. Qt's reader takes a cut-off one
// and leaves the missing rows as they are.
bool bitmapRowsPresent(const Bytes& data) {
  const std::string& s = data.str();
  const auto le = [&s](std::size_t at, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
      v = v << 8 | static_cast<std::uint8_t>(s[at + static_cast<std::size_t>(i)]);
    return v;
  };
  constexpr std::uint64_t kCoreHeader = 12;
  constexpr std::uint64_t kUncompressed = 0;
  constexpr std::uint64_t kBitFields = 3;
  if (s.size() < 26) return false;
  const std::uint64_t offset = le(10, 4);
  std::uint64_t width = le(18, 2);
  std::uint64_t height = le(20, 2);
  std::uint64_t bits = le(24, 2);
  if (le(14, 4) != kCoreHeader) {
    if (s.size() < 34) return false;
    const auto magnitude = [](std::uint64_t v) {
      const auto signedValue = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
      return static_cast<std::uint64_t>(std::abs(std::int64_t{signedValue}));
    };
    width = magnitude(le(18, 4));
    height = magnitude(le(22, 4));
    bits = le(28, 2);
    const std::uint64_t compression = le(30, 4);
    // A run-length coded bitmap says in its data where it ends.
    if (compression != kUncompressed && compression != kBitFields) return true;
  }
  const std::uint64_t rowBytes = (width * bits + 31) / 32 * 4;
  const std::uint64_t available = s.size() > offset ? s.size() - offset : 0;
  return rowBytes == 0 || height <= available / rowBytes;
}

QImage decodeWithQt(const Bytes& data, const char* format) {
  QByteArray bytes =
      QByteArray::fromRawData(data.data(), static_cast<qsizetype>(data.str().size()));
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, format);
  reader.setDecideFormatFromContent(false);
  QImage picture;
  if (std::strcmp(format, "bmp") == 0) {
    if (!bitmapRowsPresent(data)) return QImage();
    // Qt's bitmap reader draws into a picture of the right size and format
    // when it is given one, and leaves the pixels that a run-length coded
    // bitmap skips or ends before as they are: clear them first, as the first
    // colour, instead of showing whatever memory the picture got.
    const QSize size = reader.size();
    if (size.isEmpty() ||
        std::uint64_t(size.width()) * std::uint64_t(size.height()) * 4 > kMaxPictureBytes)
      return QImage();
    picture = QImage(size, reader.imageFormat());
    if (picture.isNull()) return QImage();
    picture.fill(0);
  }
  if (!reader.read(&picture)) return QImage();
  return picture;
}

}  // namespace

PictureFormat recognisePicture(const Bytes& data) {
  if (data.str().size() < 6) return PictureFormat::none;
  const std::string_view head(data.data(), 6);
  const auto b = [&data](std::size_t i) { return byteAt(data, i); };
  const bool imageCount = b(4) != 0 || b(5) != 0;
  if (head.starts_with("BM")) return PictureFormat::bitmap;
  if (b(0) == 0xFF && b(1) == 0xD8) return PictureFormat::jpeg;
  if (b(0) == 0 && b(1) == 0 && b(2) == 1 && b(3) == 0 && imageCount) return PictureFormat::icon;
  if (b(0) == 0 && b(1) == 0 && b(2) == 2 && b(3) == 0 && imageCount) return PictureFormat::cursor;
  if (head == "GIF87a" || head == "GIF89a") return PictureFormat::gif;
  if (b(0) == 0x0A && b(1) <= 5 && b(2) == 1 && b(3) == 8) return PictureFormat::pcx8;
  if (b(0) == 0x0A && b(1) == 3 && b(2) == 1 && b(3) == 1) return PictureFormat::pcx1;
  return PictureFormat::none;
}

QImage decodePicture(const Bytes& data) {
  switch (recognisePicture(data)) {
    case PictureFormat::jpeg:
      return decodeJpeg(data);
    case PictureFormat::bitmap:
      return decodeWithQt(data, "bmp");
    case PictureFormat::icon:
      return decodeWithQt(data, "ico");
    case PictureFormat::cursor:
      return decodeWithQt(data, "cur");
    case PictureFormat::gif:
      return decodeWithQt(data, "gif");
    case PictureFormat::pcx8:
    case PictureFormat::pcx1:
    case PictureFormat::none:
      break;
  }
  return QImage();
}

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureBox::setPicture(Bytes data, QImage picture) {
  data_ = std::move(data);
  picture_ = std::move(picture);
  scaled_ = QImage();
  update();
}

void PictureBox::setDisplayMode(std::int32_t mode) {
  mode = std::clamp(mode, 0, 2);
  if (mode == mode_) return;
  mode_ = mode;
  scaled_ = QImage();
  update();
}

QRect PictureBox::pictureRect() const {
  if (picture_.isNull()) return QRect();
  const QSize natural = picture_.size();
  switch (mode_) {
    case 1:
      return rect();
    case 2: {
      QSize fitted = natural;
      if (natural.width() > width() || natural.height() > height()) {
        const double ratio = std::min(static_cast<double>(width()) / natural.width(),
                                      static_cast<double>(height()) / natural.height());
        fitted = QSize(std::max(1, static_cast<int>(natural.width() * ratio)),
                       std::max(1, static_cast<int>(natural.height() * ratio)));
      }
      return QRect(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2),
                   fitted);
    }
    default:
      return QRect(QPoint(0, 0), natural);
  }
}

void PictureBox::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Window));
  const QRect target = pictureRect();
  if (target.isEmpty()) return;
  if (target.size() == picture_.size()) {
    painter.drawImage(target.topLeft(), picture_);
    return;
  }
  if (scaled_.size() != target.size()) {
    scaled_ = picture_.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  }
  painter.drawImage(target.topLeft(), scaled_);
}
