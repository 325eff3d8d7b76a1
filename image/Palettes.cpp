#include "Palettes.h"

#include <cstdint>

namespace penamo {

std::vector<TRGBQuad> SystemPalette16() {
  static const std::uint8_t rgb[16][3] = {
      {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},  {0, 0, 128}, {128, 0, 128},
      {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0},    {0, 255, 0}, {255, 255, 0},
      {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
  std::vector<TRGBQuad> table;
  for (const auto& c : rgb)
    table.push_back({c[2], c[1], c[0], 0});
  return table;
}

std::vector<TRGBQuad> HalftonePalette() {
  std::vector<TRGBQuad> table;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b)
        table.push_back({static_cast<std::uint8_t>(b * 51), static_cast<std::uint8_t>(g * 51),
                         static_cast<std::uint8_t>(r * 51), 0});
  for (int i = 1; i <= 40; ++i) {
    const auto v = static_cast<std::uint8_t>(i * 255 / 41);
    table.push_back({v, v, v, 0});
  }
  return table;
}

}  // namespace penamo
