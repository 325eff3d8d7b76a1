// The checkerboard tiles a latched button shows through its transparent pixels.
#pragma once

#include <QImage>

#include "SystemColors.h"

namespace penamo {

// Checkerboard tiles (8 x 8, first colour where x and y are both even or both odd), made once
// per pair of colours (as red, green and blue) and kept for the life of the process. Safe
// from any thread: tiles are QImages, which need no window system.
class TPatternManager {
 public:
  static QImage Pattern(TColor color1, TColor color2);
  // Tiles made so far.
  static int Count();
};

}  // namespace penamo
