// Decoding of the program's picture. The About box shows a JPEG that is
// decoded through libjpeg itself, not through an image plug-in.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace varnel {

// The decoded picture, or a null image when the bytes are not a JPEG
// libjpeg can read (truncated, corrupt, empty). Never aborts the program.
QImage DecodeJpeg(const QByteArray& bytes);
// Reads the file (a resource path too) and decodes it.
QImage LoadJpeg(const QString& path);

}  // namespace varnel
