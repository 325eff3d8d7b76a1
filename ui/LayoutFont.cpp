#include "LayoutFont.h"

#include <QStringList>

namespace penamo {

QFont LayoutFont() {
  QFont font;
  font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"),
                    QStringLiteral("IPA Pゴシック")});
  font.setPixelSize(12);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

}  // namespace penamo
