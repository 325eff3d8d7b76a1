#include "BitmapPainter.h"
