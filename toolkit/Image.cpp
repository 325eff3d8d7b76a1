#include "Image.h"
