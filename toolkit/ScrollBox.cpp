#include "ScrollBox.h"
