// Makes the list of inputs at which the straightforward extended conversion (YCbCr.h) comes out
// one below the whole quotient that the fast conversion's integer arithmetic gives
// (YCbCrExceptions.inc): for luma, the pairs red a, green b (a · 256 + b) whose completing blue
// makes 299 R + 587 G + 114 B a whole multiple of 1000 and whose extended luma is one lower;
// for Cb the pairs green a, blue b with red completing; for Cr the pairs red a, green b with blue
// completing. Asked of the conversion itself, never written down by hand; the fast conversion's
// exhaustive test then proves the tables over every input.
//
//   MakeYCbCrExceptions > reduce/YCbCrExceptions.inc        writes the list
//   MakeYCbCrExceptions --check reduce/YCbCrExceptions.inc  exits 0 when the file is exactly it
#include <array>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "Coefficients.h"
#include "PrintOrCheck.h"
#include "YCbCr.h"

namespace {

using namespace penamo;
using namespace penamo::Coefficients;

template <std::int32_t Modulus>
std::int32_t Modulo(std::int32_t value) {
  const std::int32_t remainder = value % Modulus;
  return remainder < 0 ? remainder + Modulus : remainder;
}

// Which channel value x in 0..255 gives (coefficient · x) mod Modulus == residue; -1 where none.
// Empty when two values share a residue: then the other two channels would not name one input.
template <std::int32_t Modulus>
std::vector<std::int32_t> Residues(std::int32_t coefficient) {
  std::vector<std::int32_t> value(Modulus, -1);
  for (std::int32_t x = 0; x < 256; ++x) {
    std::int32_t& slot = value[static_cast<std::size_t>(Modulo<Modulus>(coefficient * x))];
    if (slot >= 0) return {};
    slot = x;
  }
  return value;
}

template <std::int32_t Modulus>
std::int32_t Completing(const std::vector<std::int32_t>& residues, std::int32_t rest) {
  return residues[static_cast<std::size_t>(Modulo<Modulus>(-rest))];
}

void Write(std::ostringstream& out, const char* name, const std::vector<std::uint32_t>& pairs) {
  out << "inline constexpr std::array<std::uint16_t, " << pairs.size() << "> " << name << "{{";
  for (std::size_t i = 0; i < pairs.size(); ++i)
    out << (i % 12 == 0 ? "\n    " : " ") << pairs[i] << (i + 1 < pairs.size() ? "," : "");
  out << (pairs.empty() ? "" : "\n") << "}};\n";
}

// The list as its file's text, or an empty text when two channel values share a residue.
std::string MakeList() {
  constexpr std::int32_t kChromaBias = kChromaCentre * kChromaScale;
  const std::vector<std::int32_t> lumaBlue = Residues<kLumaScale>(kBlueToY);
  const std::vector<std::int32_t> cbRed = Residues<kChromaScale>(-kRedToCb);
  const std::vector<std::int32_t> crBlue = Residues<kChromaScale>(-kBlueToCr);
  if (lumaBlue.empty() || cbRed.empty() || crBlue.empty()) return {};
  std::vector<std::uint32_t> luma, cb, cr;
  for (std::int32_t a = 0; a < 256; ++a) {
    for (std::int32_t b = 0; b < 256; ++b) {
      const auto pair = static_cast<std::uint32_t>(a << 8 | b);
      const auto first = static_cast<std::uint8_t>(a);
      const auto second = static_cast<std::uint8_t>(b);
      if (const std::int32_t blue = Completing<kLumaScale>(lumaBlue, kRedToY * a + kGreenToY * b);
          blue >= 0) {
        const std::int32_t quotient = (kRedToY * a + kGreenToY * b + kBlueToY * blue) / kLumaScale;
        if (RGBToLuma(first, second, static_cast<std::uint8_t>(blue)) != quotient)
          luma.push_back(pair);
      }
      if (const std::int32_t red =
              Completing<kChromaScale>(cbRed, kChromaBias + kHalf * b - kGreenToCb * a);
          red >= 0) {
        const std::int32_t quotient =
            (kChromaBias + kHalf * b - kRedToCb * red - kGreenToCb * a) / kChromaScale;
        if (RGBToCb(static_cast<std::uint8_t>(red), first, second) != quotient) cb.push_back(pair);
      }
      if (const std::int32_t blue =
              Completing<kChromaScale>(crBlue, kChromaBias + kHalf * a - kGreenToCr * b);
          blue >= 0) {
        const std::int32_t quotient =
            (kChromaBias + kHalf * a - kGreenToCr * b - kBlueToCr * blue) / kChromaScale;
        if (RGBToCr(first, second, static_cast<std::uint8_t>(blue)) != quotient) cr.push_back(pair);
      }
    }
  }
  std::ostringstream out;
  out << "// The pairs (a * 256 + b) at which the extended conversion comes out one below the "
         "whole\n"
         "// quotient: luma of red a, green b; Cb of green a, blue b; Cr of red a, green b. Made "
         "by\n"
         "// reduce/tools/MakeYCbCrExceptions.cpp; regenerate rather than edit.\n";
  Write(out, "kLumaOneLowerPairs", luma);
  Write(out, "kCbOneLowerPairs", cb);
  Write(out, "kCrOneLowerPairs", cr);
  return out.str();
}

}  // namespace

int main(int argc, char** argv) {
  return PrintOrCheck(argc, argv, "MakeYCbCrExceptions", MakeList(),
                      "two channel values share a residue");
}
