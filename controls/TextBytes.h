// Paths, file lines and system messages are byte strings in the locale's encoding (UTF-8 on a
// usual desktop); these two turn them into the window's text and back, the one way the program
// does it.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace vorn {

inline QString FromBytes(std::string_view bytes) {
  return QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

inline std::string ToBytes(const QString& text) { return text.toLocal8Bit().toStdString(); }

}  // namespace vorn
