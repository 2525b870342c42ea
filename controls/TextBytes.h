// Paths, file lines and system messages are byte strings, UTF-8 on a usual desktop, yet a
// name may hold any bytes (a Latin-1 folder name, say). These turn them into the window's
// text and back, the one way the program does it, and make the text that is shown of them.
#pragma once

#include <QString>
#include <QStringView>
#include <string>
#include <string_view>

namespace vorn {

// UTF-8 decoded; each byte that is not part of a valid sequence becomes the lone surrogate
// U+DC80-U+DCFF that ToBytes writes back as that same byte, so every byte string comes back
// from the window unchanged.
QString FromBytes(std::string_view bytes);
std::string ToBytes(QStringView text);

// What a label, a row, a tooltip or a box shows of such a text: a kept byte as U+FFFD, and
// the control characters below U+0020 (tab apart) and U+007F as their control pictures
// ("␀", "␛", "␡"), so nothing in a name or a line can hide or disturb what is shown. One
// character for one, so positions stay those of the text.
QString ShownText(QStringView text);

// ShownText of FromBytes.
inline QString ShownBytes(std::string_view bytes) { return ShownText(FromBytes(bytes)); }

}  // namespace vorn
