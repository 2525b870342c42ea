// The windows' fonts: the face the layout names, then metric-compatible and condensed faces
// for systems without it, so captions fit the sizes the layout gives them.
#pragma once

#include <QFont>
#include <QString>

namespace vorn {

QFont DesignFont(const QString& family, int pixelSize, bool bold = false, bool italic = false);

}  // namespace vorn
