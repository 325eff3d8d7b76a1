#include "PatternManager.h"

#include <mutex>
#include <vector>

namespace penamo {

namespace {

struct TPatternTile {
  TColor Color1;
  TColor Color2;
  QImage Tile;
};

std::mutex& PatternLock() {
  static std::mutex lock;
  return lock;
}

std::vector<TPatternTile>& PatternTiles() {
  static std::vector<TPatternTile> tiles;
  return tiles;
}

}  // namespace

QImage TPatternManager::Pattern(TColor color1, TColor color2) {
  // System colours are resolved first, so one tile serves every role with the same colour.
  const TColor rgb1 = ColorToRGB(color1);
  const TColor rgb2 = ColorToRGB(color2);
  const std::lock_guard<std::mutex> guard(PatternLock());
  for (const TPatternTile& tile : PatternTiles()) {
    if (tile.Color1 == rgb1 && tile.Color2 == rgb2) return tile.Tile;
  }
  QImage tile(8, 8, QImage::Format_RGB32);
  const QRgb first = ColorToQRgb(rgb1);
  const QRgb second = ColorToQRgb(rgb2);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x)
      tile.setPixel(x, y, (x + y) % 2 == 0 ? first : second);
  }
  PatternTiles().push_back({rgb1, rgb2, tile});
  return tile;
}

int TPatternManager::Count() {
  const std::lock_guard<std::mutex> guard(PatternLock());
  return static_cast<int>(PatternTiles().size());
}

}  // namespace penamo
