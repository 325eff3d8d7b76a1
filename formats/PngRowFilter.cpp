#include "PngRowFilter.h"

#include <cstdlib>
#include <cstring>

namespace penamo {

namespace {

std::uint8_t Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(a);
  return static_cast<std::uint8_t>(pb <= pc ? b : c);
}

// Filters row with one filter type (0 to 4) into out, which holds the filtered bytes only.
void FilterWith(int type, const std::uint8_t* row, const std::uint8_t* above, std::size_t bytes,
                std::size_t bpp, std::uint8_t* out) {
  switch (type) {
    case 0:
      std::memcpy(out, row, bytes);
      return;
    case 1:
      for (std::size_t i = 0; i < bytes; ++i)
        out[i] = static_cast<std::uint8_t>(row[i] - (i >= bpp ? row[i - bpp] : 0));
      return;
    case 2:
      for (std::size_t i = 0; i < bytes; ++i)
        out[i] = static_cast<std::uint8_t>(row[i] - above[i]);
      return;
    case 3:
      for (std::size_t i = 0; i < bytes; ++i) {
        const unsigned left = i >= bpp ? row[i - bpp] : 0;
        out[i] = static_cast<std::uint8_t>(row[i] - ((left + above[i]) >> 1));
      }
      return;
    default:
      for (std::size_t i = 0; i < bytes; ++i) {
        const int left = i >= bpp ? row[i - bpp] : 0;
        const int corner = i >= bpp ? above[i - bpp] : 0;
        out[i] = static_cast<std::uint8_t>(row[i] - Paeth(left, above[i], corner));
      }
      return;
  }
}

// The filtered bytes read as signed values: the smaller their magnitudes, the better a row
// deflates.
std::uint64_t SumOfMagnitudes(const std::uint8_t* bytes, std::size_t count) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < count; ++i)
    sum += bytes[i] < 128 ? bytes[i] : 256 - bytes[i];
  return sum;
}

}  // namespace

void FilterPngRow(TPngRowFilter filter, const std::uint8_t* row, const std::uint8_t* above,
                  std::size_t bytes, std::size_t bpp, std::uint8_t* out, std::uint8_t* trial) {
  int type = static_cast<int>(filter);
  if (filter == TPngRowFilter::Adaptive) {
    std::uint64_t best = UINT64_MAX;
    for (int candidate = 0; candidate <= 4; ++candidate) {
      FilterWith(candidate, row, above, bytes, bpp, trial);
      const std::uint64_t sum = SumOfMagnitudes(trial, bytes);
      if (sum < best) {
        best = sum;
        type = candidate;
      }
    }
  }
  out[0] = static_cast<std::uint8_t>(type);
  FilterWith(type, row, above, bytes, bpp, out + 1);
}

}  // namespace penamo
