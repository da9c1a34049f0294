#include "runtime/picture.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <QBuffer>
#include <QImage>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/controls.h"
#include "runtime/test_window.h"
#include "support/jpeg_samples.h"

namespace {

Bytes raw(const char* data, std::size_t size) {
  return Bytes(std::string(data, size));
}

Bytes bitmapFile(const QImage& picture) {
  QByteArray data;
  QBuffer buffer(&data);
  buffer.open(QIODevice::WriteOnly);
  picture.save(&buffer, "BMP");
  return Bytes(data.toStdString());
}

// A baseline JPEG whose frame header claims width × height.
Bytes withClaimedSize(Bytes jpeg, int width, int height) {
  std::string& data = jpeg.str();
  const std::size_t frame = data.find("\xFF\xC0");
  data[frame + 5] = static_cast<char>(height >> 8);
  data[frame + 6] = static_cast<char>(height & 0xFF);
  data[frame + 7] = static_cast<char>(width >> 8);
  data[frame + 8] = static_cast<char>(width & 0xFF);
  return jpeg;
}

// A progressive grey JPEG of width x height whose one scan ends the bands of
// every block with runs of 32767 empty blocks: a few kilobytes that a decoder
// buffering the whole picture's coefficients walks across all of them.
Bytes progressiveRunsOfEmptyBlocks(int width, int height) {
  const auto segment = [](unsigned char marker, const std::string& payload) {
    const std::size_t length = payload.size() + 2;
    return std::string{'\xFF', static_cast<char>(marker), static_cast<char>(length >> 8),
                       static_cast<char>(length & 0xFF)} +
           payload;
  };
  const auto be16 = [](int v) {
    return std::string{static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
  };
  std::string file("\xFF\xD8", 2);
  file += segment(0xDB, std::string(1, '\0') + std::string(64, '\x01'));
  file += segment(0xC2, "\x08" + be16(height) + be16(width) + std::string("\x01\x01\x11\0", 4));
  // One Huffman code, "0", for a run of empty blocks with 14 more bits.
  file += segment(0xC4, std::string("\x10\x01", 2) + std::string(15, '\0') + "\xE0");
  file += segment(0xDA, std::string("\x01\x01\0\x01\x3F\0", 6));
  const std::int64_t blocks = std::int64_t{(width + 7) / 8} * ((height + 7) / 8);
  std::string bits;
  for (std::int64_t covered = 0; covered < blocks; covered += 32767)
    bits += "011111111111111";
  bits.append((8 - bits.size() % 8) % 8, '1');
  for (std::size_t i = 0; i < bits.size(); i += 8) {
    const auto byte = static_cast<char>(std::stoi(bits.substr(i, 8), nullptr, 2));
    file += byte;
    if (byte == '\xFF') file += '\0';  // byte stuffing
  }
  file += "\xFF\xD9";
  return Bytes(std::move(file));
}

// A run-length coded 8-bit bitmap of width x height with the two colours
// #0A141E and #FFFFFF, whose data paints the first four pixels of the bottom
// row in the second colour and then ends the bitmap.
Bytes bitmapEndingEarly(int width, int height) {
  const auto le = [](std::uint64_t v, int bytes) {
    std::string out;
    for (int i = 0; i < bytes; ++i)
      out += static_cast<char>((v >> (8 * i)) & 0xFF);
    return out;
  };
  const std::string palette("\x1E\x14\x0A\0\xFF\xFF\xFF\0", 8);
  const std::string pixels("\x04\x01\0\x01", 4);
  const std::uint32_t offset = 14 + 40 + 8;
  return Bytes("BM" + le(offset + 4, 4) + le(0, 4) + le(offset, 4) + le(40, 4) + le(width, 4) +
               le(height, 4) + le(1, 2) + le(8, 2) + le(1, 4) + le(4, 4) + le(0, 8) + le(2, 4) +
               le(0, 4) + palette + pixels);
}

std::int64_t peakResidentKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

TEST(PictureFormats, AreRecognisedByTheirFirstBytes) {
  struct Case {
    const char* name;
    Bytes data;
    PictureFormat format;
  };
  const Case cases[] = {
      {"bitmap", raw("BM\x36\0\0\0", 6), PictureFormat::bitmap},
      {"jpeg", raw("\xFF\xD8\xFF\xE0\0\x10", 6), PictureFormat::jpeg},
      {"icon", raw("\0\0\1\0\1\0", 6), PictureFormat::icon},
      {"icon counting images in byte 5", raw("\0\0\1\0\0\1", 6), PictureFormat::icon},
      {"icon without images", raw("\0\0\1\0\0\0", 6), PictureFormat::none},
      {"cursor", raw("\0\0\2\0\2\0", 6), PictureFormat::cursor},
      {"gif87a", raw("GIF87a", 6), PictureFormat::gif},
      {"gif89a", raw("GIF89a", 6), PictureFormat::gif},
      {"gif of another version", raw("GIF90a", 6), PictureFormat::none},
      {"pcx 8 bits version 5", raw("\x0A\x05\x01\x08\0\0", 6), PictureFormat::pcx8},
      {"pcx 8 bits version 6", raw("\x0A\x06\x01\x08\0\0", 6), PictureFormat::none},
      {"pcx 1 bit version 3", raw("\x0A\x03\x01\x01\0\0", 6), PictureFormat::pcx1},
      {"pcx 1 bit version 5", raw("\x0A\x05\x01\x01\0\0", 6), PictureFormat::none},
      {"html", Bytes(std::string_view("<!DOCTYPE html><html>")), PictureFormat::none},
      {"five bytes of a jpeg", raw("\xFF\xD8\xFF\xE0\0", 5), PictureFormat::none},
      {"empty", Bytes(), PictureFormat::none},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(recognisePicture(c.data), c.format);
  }
}

TEST(PictureDecoding, DecodesWhatItCanAndRefusesTheRest) {
  ensureApplication();  // Qt's image readers
  const QImage halves = halvesPicture(40, 20);
  const Bytes baseline = encodeJpeg(halves, JpegKind::baseline);
  struct Case {
    const char* name;
    Bytes data;
    QSize size;  // 0 x 0 for no picture
  };
  const Case cases[] = {
      {"baseline jpeg", baseline, QSize(40, 20)},
      {"progressive jpeg", encodeJpeg(halves, JpegKind::progressive), QSize(40, 20)},
      {"grayscale jpeg", encodeJpeg(halves, JpegKind::grayscale), QSize(40, 20)},
      {"bitmap", bitmapFile(halves), QSize(40, 20)},
      {"bitmap cut off", bytesLeft(bitmapFile(halves), bytesLength(bitmapFile(halves)) - 100),
       QSize(0, 0)},
      {"html", Bytes(std::string_view("<!DOCTYPE html><html><body>Not found</body></html>")),
       QSize(0, 0)},
      {"empty", Bytes(), QSize(0, 0)},
      {"jpeg cut in half", bytesLeft(baseline, bytesLength(baseline) / 2), QSize(0, 0)},
      {"jpeg header only", bytesLeft(baseline, 200), QSize(0, 0)},
      {"garbage after the jpeg start", Bytes(std::string("\xFF\xD8", 2) + std::string(500, 'x')),
       QSize(0, 0)},
      {"jpeg claiming 65000 x 65000", withClaimedSize(baseline, 65000, 65000), QSize(0, 0)},
      {"pcx", Bytes(std::string("\x0A\x05\x01\x08", 4) + std::string(200, '\0')), QSize(0, 0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QImage picture = decodePicture(c.data);
    EXPECT_EQ(picture.size(), c.size);
  }
}

TEST(PictureDecoding, RefusesAnOversizedProgressiveJpegBeforeBufferingIt) {
  // 16400 x 16400 is past the largest picture; buffered, its coefficients would
  // take about 540 MB.
  const Bytes data = progressiveRunsOfEmptyBlocks(16400, 16400);
  ASSERT_LT(bytesLength(data), 4096);
  const std::int64_t before = peakResidentKiB();
  EXPECT_TRUE(decodePicture(data).isNull());
  EXPECT_LT(peakResidentKiB() - before, 128 * 1024);
}

TEST(PictureDecoding, PixelsABitmapLeavesOutAreTheFirstColour) {
  ensureApplication();
  // Memory that the picture may be given holds something else than zeros.
  for (int i = 0; i < 16; ++i) {
    std::vector<char> dirty(64 * 16 + 64 * i, '\x5A');
    static_cast<void>(dirty);
  }
  const QImage picture = decodePicture(bitmapEndingEarly(64, 16));
  ASSERT_EQ(picture.size(), QSize(64, 16));
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 64; ++x) {
      SCOPED_TRACE(testing::Message() << "pixel " << x << ", " << y);
      const bool painted = y == 15 && x < 4;
      ASSERT_EQ(picture.pixel(x, y), painted ? qRgb(0xFF, 0xFF, 0xFF) : qRgb(0x0A, 0x14, 0x1E));
    }
  }
}

TEST(PictureDecoding, JpegColoursSurvive) {
  const QImage picture = decodePicture(encodeJpeg(halvesPicture(40, 20), JpegKind::progressive));
  ASSERT_FALSE(picture.isNull());
  const QColor left = picture.pixelColor(5, 10);
  const QColor right = picture.pixelColor(35, 10);
  EXPECT_GT(left.red(), 200);
  EXPECT_LT(left.blue(), 60);
  EXPECT_GT(right.blue(), 200);
  EXPECT_LT(right.red(), 60);
}

enum class Seen { red, blue, background };

Seen classify(QColor pixel, QColor background) {
  if (pixel == background) return Seen::background;
  if (pixel.red() > 200 && pixel.blue() < 60) return Seen::red;
  if (pixel.blue() > 200 && pixel.red() < 60) return Seen::blue;
  ADD_FAILURE() << "unexpected colour " << pixel.name().toStdString();
  return Seen::background;
}

struct Probe {
  QPoint at;
  Seen seen;
};

TEST(PictureBoxPainting, EachModePlacesThePicture) {
  struct Case {
    const char* name;
    QSize picture;
    std::int32_t mode;
    std::vector<Probe> probes;  // in the 184 x 120 box
  };
  const Case cases[] = {
      {"natural size, small",
       QSize(40, 20),
       0,
       {{{5, 5}, Seen::red},
        {{30, 10}, Seen::blue},
        {{60, 10}, Seen::background},
        {{5, 40}, Seen::background}}},
      {"natural size, cut off",
       QSize(300, 200),
       0,
       {{{140, 5}, Seen::red}, {{170, 5}, Seen::blue}, {{183, 119}, Seen::blue}}},
      {"stretched, small",
       QSize(40, 20),
       1,
       {{{3, 3}, Seen::red},
        {{3, 116}, Seen::red},
        {{180, 3}, Seen::blue},
        {{180, 116}, Seen::blue}}},
      {"stretched, 1920 x 1200",
       QSize(1920, 1200),
       1,
       {{{3, 3}, Seen::red},
        {{3, 116}, Seen::red},
        {{180, 3}, Seen::blue},
        {{180, 116}, Seen::blue}}},
      {"fitted, wide: 184 x 30 in the middle",
       QSize(368, 60),
       2,
       {{{5, 40}, Seen::background},
        {{5, 60}, Seen::red},
        {{178, 60}, Seen::blue},
        {{90, 80}, Seen::background}}},
      {"fitted, tall: 50 x 120 in the middle",
       QSize(100, 240),
       2,
       {{{60, 60}, Seen::background},
        {{70, 60}, Seen::red},
        {{113, 60}, Seen::blue},
        {{120, 60}, Seen::background}}},
      {"fitted, small: natural size in the middle",
       QSize(40, 20),
       2,
       {{{70, 60}, Seen::background},
        {{75, 55}, Seen::red},
        {{108, 55}, Seen::blue},
        {{114, 55}, Seen::background},
        {{90, 48}, Seen::background}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestWindow w;
    setPicture(Control::previewBox, encodeJpeg(halvesPicture(c.picture.width(), c.picture.height()),
                                               JpegKind::baseline));
    setPictureDisplayMode(Control::previewBox, c.mode);
    const QImage shot = w.picture->grab().toImage();
    const QColor background = w.picture->palette().color(QPalette::Window);
    for (const Probe& probe : c.probes) {
      SCOPED_TRACE(QStringLiteral("at %1, %2").arg(probe.at.x()).arg(probe.at.y()).toStdString());
      EXPECT_EQ(classify(shot.pixelColor(probe.at), background), probe.seen);
    }
  }
}

TEST(PictureBoxPainting, ModesOutsideTheRangeAreClamped) {
  TestWindow w;
  struct Case {
    std::int32_t mode;
    std::int32_t kept;
  };
  const Case cases[] = {{-3, 0}, {1, 1}, {7, 2}, {INT32_MIN, 0}, {INT32_MAX, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    setPictureDisplayMode(Control::previewBox, c.mode);
    EXPECT_EQ(w.picture->displayMode(), c.kept);
  }
}

TEST(PictureBoxPainting, UndecodableDataLeavesOnlyTheBackground) {
  const Bytes good = encodeJpeg(halvesPicture(40, 20), JpegKind::baseline);
  struct Case {
    const char* name;
    Bytes data;
  };
  const Case cases[] = {
      {"html", Bytes(std::string_view("<html><head><title>404</title></head></html>"))},
      {"cut-off jpeg", bytesLeft(good, bytesLength(good) - 40)},
      {"garbage jpeg", Bytes(std::string("\xFF\xD8\xFF\xDB", 4) + std::string(300, '\x17'))},
      {"empty", Bytes()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestWindow w;
    setPicture(Control::previewBox, good);
    setPictureDisplayMode(Control::previewBox, 1);
    setPicture(Control::previewBox, c.data);
    EXPECT_TRUE(w.picture->picture().isNull());
    EXPECT_EQ(w.picture->pictureData(), c.data);
    const QImage shot = w.picture->grab().toImage();
    const QColor background = w.picture->palette().color(QPalette::Window);
    for (const QPoint at : {QPoint(3, 3), QPoint(92, 60), QPoint(180, 116)}) {
      EXPECT_EQ(shot.pixelColor(at), background);
    }
  }
}

}  // namespace
