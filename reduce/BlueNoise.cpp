#include "BlueNoise.h"

namespace penamo {

const std::uint16_t kBlueNoise64[kBlueNoiseSize][kBlueNoiseSize] = {
#include "BlueNoise64.inc"
};

}  // namespace penamo
