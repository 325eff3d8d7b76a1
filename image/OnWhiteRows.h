// Rows of a picture with an alpha plane as they look over white: each pixel's colour blended
// with white by its alpha, for a save into a format that keeps no alpha. A pixel of alpha 255
// keeps its colour exactly, one of alpha 0 becomes white; the source's rows are not changed.
#pragma once

#include <cstdint>
#include <vector>

#include "DeepRowSource.h"
#include "RowSource.h"

namespace penamo {

// An 8-bit channel c of alpha a over white: (a c + (255 - a) 255) / 255, halves rounding up.
constexpr std::uint8_t OnWhite(std::uint8_t c, std::uint8_t a) {
  return static_cast<std::uint8_t>((a * c + (255 - a) * 255 + 127) / 255);
}

// A 16-bit sample s of alpha a (8 bits) over white: (a s + (255 - a) 65535) / 255, halves
// rounding up.
constexpr std::uint16_t DeepOnWhite(std::uint16_t s, std::uint8_t a) {
  return static_cast<std::uint16_t>(
      (a * static_cast<std::uint32_t>(s) + (255u - a) * 65535u + 127u) / 255u);
}

// alpha: Width x Height bytes, top row first; it and source must outlive these rows.
class TOnWhiteRows final : public TRowSource {
 public:
  TOnWhiteRows(TRowSource& source, const std::uint8_t* alpha);

  std::int32_t Width() const override { return FSource.Width(); }
  std::int32_t Height() const override { return FSource.Height(); }
  void ReadBand(std::int32_t first, std::int32_t count) override;
  const std::uint8_t* Row(std::int32_t y) const override;
  int Handle() const override { return FSource.Handle(); }

 private:
  TRowSource& FSource;
  const std::uint8_t* FAlpha;
  std::int32_t FFirst = 0;
  std::vector<std::uint8_t> FBand;
};

class TDeepOnWhiteRows final : public TDeepRowSource {
 public:
  TDeepOnWhiteRows(TDeepRowSource& source, const std::uint8_t* alpha);

  std::int32_t Width() const override { return FSource.Width(); }
  std::int32_t Height() const override { return FSource.Height(); }
  void ReadBand(std::int32_t first, std::int32_t count) override;
  const std::uint16_t* Row(std::int32_t y) const override;
  int Handle() const override { return FSource.Handle(); }

 private:
  TDeepRowSource& FSource;
  const std::uint8_t* FAlpha;
  std::int32_t FFirst = 0;
  std::vector<std::uint16_t> FBand;
};

}  // namespace penamo
