#pragma once

#include <QFile>
#include <QString>
#include <string>

namespace vok::gui {

// The system's texts are bytes. Each byte is shown as the character of the
// same number and taken back the same way, so nothing is ever decoded.
inline QString FromBytes(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}
inline std::string ToBytes(const QString& text) {
  const QByteArray b = text.toLatin1();
  return std::string(b.constData(), static_cast<size_t>(b.size()));
}

// File names are what the file system holds, in its own byte encoding.
inline QString FromPath(const std::string& path) {
  return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}
inline std::string ToPath(const QString& path) {
  const QByteArray b = QFile::encodeName(path);
  return std::string(b.constData(), static_cast<size_t>(b.size()));
}

}  // namespace vok::gui
