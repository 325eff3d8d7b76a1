#include "DeepLevels.h"

namespace penamo {

const std::uint32_t kLightCurve16[65536] = {
#include "LightCurve16.inc"
};

}  // namespace penamo
