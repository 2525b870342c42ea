// What every window of the program does alike with the desktop's drops and keys.
#pragma once

#include <QString>
#include <QStringView>
#include <string>
#include <vector>

class QKeyEvent;
class QDropEvent;
class QMimeData;

namespace vorn {

// The local paths a drop names, as bytes, in their order: the "file:" addresses without a
// host, with "localhost" or with this machine's name, percent-escapes decoded byte for byte
// (a Latin-1 name stays the bytes it is). Web addresses and other hosts are left out.
std::vector<std::string> DroppedPaths(const QMimeData* data);

// The same for one address, as its encoded text; false when it names no local file.
bool LocalPathOfAddress(std::string_view address, std::string* path);

// Accepts a drag or drop as a copy, or as a link when no copy is offered, among allowed: never
// as a move, after which the drag's source may delete what it gave. False, the event ignored,
// when neither is offered.
bool AcceptWithoutMove(QDropEvent* event,
                       Qt::DropActions allowed = Qt::CopyAction | Qt::LinkAction);

// Alt with a printable character (Ctrl not held, so AltGr still types): a command chord,
// never text.
bool IsAltChord(const QKeyEvent* key);

// A tooltip that shows text as it is: plain (markup shows as the characters it is made of),
// control characters and kept bytes as stand-ins, and wrapped at any character so a long
// line without blanks never runs off the screen.
QString PlainToolTip(QStringView text);

}  // namespace vorn
