#include "core/transforms/Rotate.h"
