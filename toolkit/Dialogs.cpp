#include "Dialogs.h"
