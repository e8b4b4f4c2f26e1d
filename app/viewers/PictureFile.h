// Reads a picture file for the viewer: PCX and TGA by readers of our own, everything else by
// Qt's image readers, chosen by the file's extension (letter case ignored) and, failing that, by
// content.
#pragma once

#include <QImage>
#include <QString>
#include <stdexcept>

namespace quelt {

// A picture that cannot be shown; the text names the file and the reason, for the user.
class EPictureError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Never returns an empty picture.
QImage LoadPicture(const QString& path);

}  // namespace quelt
