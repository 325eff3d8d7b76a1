#include "SpeedButton.h"
