#include "DesignFont.h"

#include <QStringList>

namespace vorn {

QFont DesignFont(const QString& family, int pixelSize, bool bold, bool italic) {
  QFont font;
  font.setFamilies({family, QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                    QStringLiteral("DejaVu Sans Condensed")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  font.setItalic(italic);
  return font;
}

}  // namespace vorn
