// The band writer the filter fuzz targets save into: it keeps every band's rows and checks what
// the band interface promises (bands in order, inside the picture, rows apart, one commit after
// the last row). A broken promise is a finding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "BandWriter.h"
#include "FuzzSupport.h"

namespace penamo::fuzz {

class TMemoryBandWriter final : public TBandWriter {
 public:
  TMemoryBandWriter(std::int32_t width, std::int32_t height) : FWidth(width), FHeight(height) {}

  void WriteBand(std::int32_t first, std::int32_t count, const std::uint8_t* rows,
                 std::size_t stride) override {
    Check(Commits == 0, "a band came after the commit");
    Check(first == FNextRow, "a band out of order");
    Check(count > 0 && first + count <= FHeight, "a band outside the picture");
    const auto rowBytes = 3 * static_cast<std::size_t>(FWidth);
    Check(stride >= rowBytes, "a band's rows overlap");
    for (std::int32_t i = 0; i < count; ++i) {
      const std::uint8_t* row = rows + static_cast<std::size_t>(i) * stride;
      Pixels.insert(Pixels.end(), row, row + rowBytes);
    }
    FNextRow = first + count;
  }
  void Commit() override {
    Check(FNextRow == FHeight, "committed before every row was written");
    ++Commits;
  }

  std::vector<std::uint8_t> Pixels;
  int Commits = 0;

 private:
  std::int32_t FWidth;
  std::int32_t FHeight;
  std::int32_t FNextRow = 0;
};

}  // namespace penamo::fuzz
