#include "app/viewers/PictureFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <cstring>

#include "app/QtText.h"
#include "app/viewers/PcxDecoder.h"
#include "app/viewers/TgaDecoder.h"

namespace quelt {

namespace {

// Large enough for photographs of any camera, small enough that a hostile header cannot make
// the program ask for gigabytes.
constexpr int kAllocationLimitMB = 512;
constexpr qint64 kLargestRawFile = qint64(256) << 20;  // for the readers of our own

[[noreturn]] void fail(const QString& path, const QString& reason) {
  throw EPictureError(
      TextFromQt("Cannot display " + QDir::toNativeSeparators(path) + ": " + reason + "."));
}

QByteArray readWhole(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) fail(path, file.errorString());
  if (file.size() > kLargestRawFile) fail(path, "the picture is too large");
  QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) fail(path, file.errorString());
  return bytes;
}

// The rows of one of our own readers as an image.
QImage imageOf(const QString& path, uint32_t width, uint32_t height,
               const std::vector<uint8_t>& pixels, size_t pixelBytes, QImage::Format format) {
  QImage image(int(width), int(height), format);
  if (image.isNull()) fail(path, "there is not enough memory for it");
  const size_t rowBytes = size_t(width) * pixelBytes;
  for (uint32_t y = 0; y < height; ++y)
    std::memcpy(image.scanLine(int(y)), pixels.data() + y * rowBytes, rowBytes);
  return image;
}

QImage loadPcx(const QString& path) {
  const QByteArray bytes = readWhole(path);
  try {
    TPcxPicture pcx =
        DecodePcx(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
    return imageOf(path, pcx.width, pcx.height, pcx.rgb, 3, QImage::Format_RGB888);
  } catch (const EPcxError& e) {
    fail(path, QString::fromUtf8(e.what()));
  }
}

// Qt's own reader takes only the later version of the format, which most files are not.
QImage loadTga(const QString& path) {
  const QByteArray bytes = readWhole(path);
  try {
    TTgaPicture tga =
        DecodeTga(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
    return imageOf(path, tga.width, tga.height, tga.rgba, 4,
                   tga.hasAlpha ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888);
  } catch (const ETgaError& e) {
    fail(path, QString::fromUtf8(e.what()));
  }
}

// Qt's name of the reader for an extension; empty leaves the choice to the content.
QByteArray readerFormat(const QString& suffix) {
  static const struct {
    const char* suffix;
    const char* format;
  } kFormats[] = {
      {"jpg", "jpeg"},  {"jpeg", "jpeg"}, {"jpe", "jpeg"}, {"tif", "tiff"},
      {"tiff", "tiff"}, {"bmp", "bmp"},   {"gif", "gif"},  {"png", "png"},
      {"pbm", "pbm"},   {"pgm", "pgm"},   {"ppm", "ppm"},  {"pnm", "ppm"},
  };
  for (const auto& f : kFormats)
    if (suffix.compare(QLatin1String(f.suffix), Qt::CaseInsensitive) == 0) return f.format;
  return {};
}

}  // namespace

QImage LoadPicture(const QString& path) {
  QFileInfo info(path);
  if (!info.isFile()) fail(path, "the file does not exist");
  if (info.suffix().compare("pcx", Qt::CaseInsensitive) == 0) return loadPcx(path);
  if (info.suffix().compare("tga", Qt::CaseInsensitive) == 0) return loadTga(path);

  QImageReader::setAllocationLimit(kAllocationLimitMB);
  QImageReader reader(path, readerFormat(info.suffix()));
  // Cameras store their pictures sideways and say so; show them the right way up.
  reader.setAutoTransform(true);
  QImage image = reader.read();
  if (image.isNull()) {
    if (reader.error() == QImageReader::UnsupportedFormatError)
      fail(path, "its picture format is not known");
    fail(path, reader.errorString());
  }
  if (image.width() <= 0 || image.height() <= 0) fail(path, "the picture is empty");
  return image;
}

}  // namespace quelt
