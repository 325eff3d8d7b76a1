#include "FrameSpeedButton.h"
