// Lets test failures print Qt strings as text rather than as bytes. Global, beside QString,
// so that the test framework finds it.
#pragma once

#include <QString>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}
