#include "RedBlue.h"

#include <tmmintrin.h>

#include "Machine.h"

namespace penamo {

void ExchangeRedBlueBytes(const std::uint8_t* in, std::uint8_t* out, std::size_t width) {
  for (std::size_t x = 0; x < width; ++x) {
    out[3 * x] = in[3 * x + 2];
    out[3 * x + 1] = in[3 * x + 1];
    out[3 * x + 2] = in[3 * x];
  }
}

// Each step reads and writes 16 bytes for 5 pixels; the 16th, the next pixel's first, is
// written again by the step after, and the steps stop while a whole pixel remains after them, so
// nothing past the row is read or written.
void ExchangeRedBlueShuffling(const std::uint8_t* in, std::uint8_t* out, std::size_t width) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
  std::size_t x = 0;
  for (; x + 6 <= width; x += 5) {
    const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x), _mm_shuffle_epi8(pixels, order));
  }
  ExchangeRedBlueBytes(in + 3 * x, out + 3 * x, width - x);
}

void ExchangeRedBlue(const std::uint8_t* in, std::uint8_t* out, std::size_t width) {
  if (HasByteShuffles()) {
    ExchangeRedBlueShuffling(in, out, width);
  } else {
    ExchangeRedBlueBytes(in, out, width);
  }
}

}  // namespace penamo
