// Makes the table of light of a 16-bit channel that the deep filters measure in when they work in
// linear light (LightCurve16.inc): entry v is the sRGB transfer curve of IEC 61966-2-1 at
// v / 65535, in units of 2^-24 of full light, rounded to the nearest whole unit (halves up).
//
//   MakeLightCurve > reduce/LightCurve16.inc        writes the table
//   MakeLightCurve --check reduce/LightCurve16.inc  exits 0 when the file is exactly that table
//
// The curve: c / 12.92 up to c = 0.04045, ((c + 0.055) / 1.055)^2.4 above. It is worked in the
// 80-bit extended format; no entry lies within 2^-20 of a unit of a half (the generator checks),
// so any correctly working pow gives the same whole numbers. An 8-bit channel v is the entry of
// 257 v, which is v / 255 exactly.
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>

#include "PrintOrCheck.h"

namespace {

constexpr int kEntries = 65536;
constexpr long double kUnits = 16777216.0L;  // 2^24: full light

long double Curve(long double c) {
  if (c <= 0.04045L) return c / 12.92L;
  return std::pow((c + 0.055L) / 1.055L, 2.4L);
}

// The table as its file's text, or an empty text when an entry lies too near a half to round
// the same on every machine, or the entries do not rise strictly.
std::string MakeTable() {
  std::ostringstream out;
  out << "// Light of a 16-bit channel, 2^-24 of full light a unit: the sRGB transfer curve\n"
         "// (IEC 61966-2-1) at v / 65535, rounded. Made by reduce/tools/MakeLightCurve.cpp;\n"
         "// regenerate rather than edit.\n";
  std::int64_t before = -1;
  for (int v = 0; v < kEntries; ++v) {
    const long double exact = Curve(static_cast<long double>(v) / 65535.0L) * kUnits;
    const long double fraction = exact - std::floor(exact);
    if (std::fabs(fraction - 0.5L) < 1.0L / 1048576.0L) return {};
    const auto entry = static_cast<std::int64_t>(std::floor(exact + 0.5L));
    if (entry <= before) return {};
    before = entry;
    out << entry << (v + 1 < kEntries ? "," : "") << ((v + 1) % 16 == 0 ? "\n" : "");
  }
  return out.str();
}

}  // namespace

int main(int argc, char** argv) {
  return PrintOrCheck(argc, argv, "MakeLightCurve", MakeTable(),
                      "an entry lies too near a half, or the entries do not rise");
}
