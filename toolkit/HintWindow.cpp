#include "HintWindow.h"
