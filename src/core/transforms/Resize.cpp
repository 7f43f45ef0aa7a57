#include "core/transforms/Resize.h"
