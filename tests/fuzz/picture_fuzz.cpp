// The preview's picture decoding: any bytes in, recognised by their first
// bytes, decoded or refused, the process never ended.
#include <QImage>
#include <QtGlobal>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "runtime/picture.h"

namespace {

// Qt's largest picture, which the JPEG path holds to as well.
constexpr std::int64_t kMaxPictureBytes = 256LL * 1024 * 1024;
constexpr std::int64_t kMaxComparedPixels = 4LL * 1024 * 1024;

// Qt's readers warn about every damaged file; the checks here say what counts.
void dropQtMessages(QtMsgType, const QMessageLogContext&, const QString&) {}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  qInstallMessageHandler(dropQtMessages);
  // Qt loads its GIF and icon readers once, on first use; doing it here keeps
  // that from counting as memory an input left behind.
  static const char kGif[] =
      "GIF89a\x01\0\x01\0\x80\0\0\0\0\0\xFF\xFF\xFF!\xF9\x04\x01\0\0\0\0,\0\0\0\0\x01\0\x01\0\0"
      "\x02\x02D\x01\0;";
  static const char kIcon[] = "\0\0\1\0\1\0";
  static_cast<void>(decodePicture(Bytes(std::string(kGif, sizeof kGif - 1))));
  static_cast<void>(decodePicture(Bytes(std::string(kIcon, sizeof kIcon - 1))));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Bytes bytes(std::string(reinterpret_cast<const char*>(data), size));
  const PictureFormat format = recognisePicture(bytes);
  const QImage picture = decodePicture(bytes);
  if (format == PictureFormat::none || format == PictureFormat::pcx8 ||
      format == PictureFormat::pcx1)
    FUZZ_CHECK(picture.isNull());
  if (format == PictureFormat::jpeg) FUZZ_CHECK(size >= 6 && data[0] == 0xFF && data[1] == 0xD8);
  if (picture.isNull()) return 0;
  FUZZ_CHECK(picture.width() > 0 && picture.height() > 0);
  FUZZ_CHECK(std::int64_t{picture.width()} * picture.height() * 4 <= kMaxPictureBytes);
  // The same bytes decode to the same picture: nothing depends on memory
  // that the decoder left unwritten. Compared as painted: QImage's own
  // comparison of indexed pictures reads past the colour table for an index
  // beyond it, which a bitmap may hold. Large pictures take the same paths;
  // decoding them twice would only slow the search down.
  if (std::int64_t{picture.width()} * picture.height() > kMaxComparedPixels) return 0;
  const auto painted = [](const QImage& p) { return p.convertToFormat(QImage::Format_ARGB32); };
  FUZZ_CHECK(painted(decodePicture(bytes)) == painted(picture));
  return 0;
}
