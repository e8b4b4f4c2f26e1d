#include "app/viewers/PictureFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <cstring>

#include "app/QtText.h"
#include "app/viewers/PcxDecoder.h"

namespace quelt {

namespace {

// Large enough for photographs of any camera, small enough that a hostile header cannot make
// the program ask for gigabytes.
constexpr int kAllocationLimitMB = 512;
constexpr qint64 kLargestPcxFile = qint64(256) << 20;

[[noreturn]] void fail(const QString& path, const QString& reason) {
  throw EPictureError(
      TextFromQt("Cannot display " + QDir::toNativeSeparators(path) + ": " + reason + "."));
}

QImage loadPcx(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) fail(path, file.errorString());
  if (file.size() > kLargestPcxFile) fail(path, "the picture is too large");
  QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) fail(path, file.errorString());
  TPcxPicture pcx;
  try {
    pcx = DecodePcx(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()));
  } catch (const EPcxError& e) {
    fail(path, QString::fromUtf8(e.what()));
  }
  QImage image(int(pcx.width), int(pcx.height), QImage::Format_RGB888);
  if (image.isNull()) fail(path, "there is not enough memory for it");
  const size_t rowBytes = size_t(pcx.width) * 3;
  for (uint32_t y = 0; y < pcx.height; ++y)
    std::memcpy(image.scanLine(int(y)), pcx.rgb.data() + y * rowBytes, rowBytes);
  return image;
}

// Qt's name of the reader for an extension; empty leaves the choice to the content.
QByteArray readerFormat(const QString& suffix) {
  static const struct {
    const char* suffix;
    const char* format;
  } kFormats[] = {{"jpg", "jpeg"},  {"jpeg", "jpeg"}, {"jpe", "jpeg"}, {"tif", "tiff"},
                  {"tiff", "tiff"}, {"bmp", "bmp"},   {"gif", "gif"},  {"png", "png"},
                  {"pbm", "pbm"},   {"pgm", "pgm"},   {"ppm", "ppm"},  {"pnm", "ppm"},
                  {"tga", "tga"}};
  for (const auto& f : kFormats)
    if (suffix.compare(QLatin1String(f.suffix), Qt::CaseInsensitive) == 0) return f.format;
  return {};
}

}  // namespace

QImage LoadPicture(const QString& path) {
  QFileInfo info(path);
  if (!info.isFile()) fail(path, "the file does not exist");
  if (info.suffix().compare("pcx", Qt::CaseInsensitive) == 0) return loadPcx(path);

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
