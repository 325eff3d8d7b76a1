// The run kernels; included by DeepRunKernelsBaseline.cpp and DeepRunKernelsAvx2.cpp with
// PENAMO_DEEP_RUN_NAMESPACE naming the version. Everything here has internal linkage.

#include <algorithm>
#include <cstdint>

namespace penamo::PENAMO_DEEP_RUN_NAMESPACE {
namespace {

void PrepareEveryLevel(const std::uint16_t* in, std::int32_t count, std::int32_t* blue,
                       std::int32_t* green, std::int32_t* red, std::int32_t* low) {
  for (std::int32_t i = 0; i < count; ++i) {
    const std::uint16_t* pixel = in + 3 * i;
    const std::int32_t b = pixel[0], g = pixel[1], r = pixel[2];
    const std::int32_t luma = 299 * r + 587 * g + 114 * b;
    const std::int32_t qb = ChannelFloor(1000 * b - luma);
    const std::int32_t qg = ChannelFloor(1000 * g - luma);
    const std::int32_t qr = ChannelFloor(1000 * r - luma);
    // The luma the floors add to every level's where no channel clamps: within 257 × 1000 × 511.
    const std::int32_t offset = 257 * (299 * qr + 587 * qg + 114 * qb);
    const std::int32_t base = NearestOfEveryLevel(luma - offset) - 1;
    blue[i] = qb;
    green[i] = qg;
    red[i] = qr;
    low[i] = base < 0 ? 0 : base > kMaxDeepLevels - 3 ? kMaxDeepLevels - 3 : base;
  }
}

void WriteEveryLevel(const std::int32_t* blue, const std::int32_t* green, const std::int32_t* red,
                     const std::int32_t* grey, std::int32_t count, std::uint8_t* out) {
  for (std::int32_t i = 0; i < count; ++i) {
    out[3 * i] = static_cast<std::uint8_t>(std::clamp(blue[i] + grey[i], 0, 255));
    out[3 * i + 1] = static_cast<std::uint8_t>(std::clamp(green[i] + grey[i], 0, 255));
    out[3 * i + 2] = static_cast<std::uint8_t>(std::clamp(red[i] + grey[i], 0, 255));
  }
}

}  // namespace

extern const TDeepRunKernels kDeepRunKernels{PrepareEveryLevel, WriteEveryLevel,
                                             PENAMO_DEEP_RUN_NAME};

}  // namespace penamo::PENAMO_DEEP_RUN_NAMESPACE
