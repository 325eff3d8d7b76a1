// The colour tables a change to a paletted format chooses.
#pragma once

#include <vector>

#include "BitmapDescription.h"

namespace penamo {

// The sixteen colours of the system palette, in its order.
std::vector<TRGBQuad> SystemPalette16();

// A 6 x 6 x 6 colour cube followed by a ramp of greys: every colour lies within half a cube step.
std::vector<TRGBQuad> HalftonePalette();

}  // namespace penamo
