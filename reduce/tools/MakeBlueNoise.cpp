// Makes the blue-noise threshold tile of the ordered dither for deep pictures (BlueNoise64.inc)
// by void and cluster, deterministically: the same bytes on every machine and every run.
//
//   MakeBlueNoise > reduce/BlueNoise64.inc      writes the table
//   MakeBlueNoise --check reduce/BlueNoise64.inc  exits 0 when the file is exactly that table
//
// The method: a pixel's energy is the sum, over the points already set, of a Gaussian of their
// distance on the torus (so the tile repeats without a seam). A random starting set of a tenth
// of the cells is first spread out by moving its tightest cluster (the set point of highest
// energy) to its largest void (the empty cell of lowest energy) until the move would undo
// itself. The starting points are then ranked by taking tightest clusters away one by one (the
// last taken gets rank 0), and the remaining cells by filling the largest void one by one. Every
// energy is a whole number (the Gaussian rounded once to 1/2^20), ties go to the lowest cell, and
// the starting set comes from a fixed linear congruential sequence, so no floating-point rounding
// or library random numbers decide anything beyond the kernel's table.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "PrintOrCheck.h"

namespace {

constexpr int kSize = 64;
constexpr int kCells = kSize * kSize;
constexpr double kSigma = 1.5;

class TField {
 public:
  TField() : FKernel(kCells), FEnergy(kCells, 0), FSet(kCells, false) {
    for (int dy = 0; dy < kSize; ++dy) {
      for (int dx = 0; dx < kSize; ++dx) {
        const int ty = dy <= kSize / 2 ? dy : kSize - dy;
        const int tx = dx <= kSize / 2 ? dx : kSize - dx;
        const double r2 = static_cast<double>(tx * tx + ty * ty);
        FKernel[dy * kSize + dx] =
            static_cast<std::int64_t>(std::lround(std::exp(-r2 / (2 * kSigma * kSigma)) * 1048576));
      }
    }
  }

  bool IsSet(int cell) const { return FSet[cell]; }

  void Toggle(int cell) {
    const std::int64_t sign = FSet[cell] ? -1 : 1;
    FSet[cell] = !FSet[cell];
    const int cy = cell / kSize, cx = cell % kSize;
    for (int y = 0; y < kSize; ++y) {
      const int dy = (y - cy + kSize) % kSize;
      for (int x = 0; x < kSize; ++x) {
        const int dx = (x - cx + kSize) % kSize;
        FEnergy[y * kSize + x] += sign * FKernel[dy * kSize + dx];
      }
    }
  }

  int TightestCluster() const { return Extreme(true); }
  int LargestVoid() const { return Extreme(false); }

 private:
  // The set cell of highest energy (set true) or the empty cell of lowest; the lowest index wins
  // a tie.
  int Extreme(bool set) const {
    int best = -1;
    for (int cell = 0; cell < kCells; ++cell) {
      if (FSet[cell] != set) continue;
      if (best < 0 || (set ? FEnergy[cell] > FEnergy[best] : FEnergy[cell] < FEnergy[best]))
        best = cell;
    }
    return best;
  }

  std::vector<std::int64_t> FKernel;
  std::vector<std::int64_t> FEnergy;
  std::vector<bool> FSet;
};

std::vector<int> MakeRanks() {
  TField start;
  std::uint32_t state = 12345;
  int points = 0;
  while (points < kCells / 10) {
    state = state * 1664525u + 1013904223u;
    const int cell = static_cast<int>((state >> 8) % kCells);
    if (start.IsSet(cell)) continue;
    start.Toggle(cell);
    ++points;
  }
  for (;;) {
    const int cluster = start.TightestCluster();
    start.Toggle(cluster);
    const int gap = start.LargestVoid();
    if (gap == cluster) {
      start.Toggle(cluster);
      break;
    }
    start.Toggle(gap);
  }

  std::vector<int> rank(kCells, -1);
  TField field = start;
  for (int r = points - 1; r >= 0; --r) {
    const int cluster = field.TightestCluster();
    field.Toggle(cluster);
    rank[cluster] = r;
  }
  field = start;
  for (int r = points; r < kCells; ++r) {
    const int gap = field.LargestVoid();
    field.Toggle(gap);
    rank[gap] = r;
  }
  return rank;
}

std::string Table() {
  const std::vector<int> rank = MakeRanks();
  std::ostringstream out;
  out << "// The blue-noise tile, [row][column], ranks 0..4095. Made by "
         "reduce/tools/MakeBlueNoise.cpp;\n"
         "// regenerate rather than edit.\n";
  for (int y = 0; y < kSize; ++y) {
    out << "{";
    for (int x = 0; x < kSize; ++x)
      out << rank[y * kSize + x] << (x + 1 < kSize ? "," : "");
    out << "},\n";
  }
  return out.str();
}

}  // namespace

int main(int argc, char** argv) {
  return PrintOrCheck(argc, argv, "MakeBlueNoise", Table());
}
