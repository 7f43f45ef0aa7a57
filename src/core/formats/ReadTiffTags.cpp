#include "core/formats/ReadTiffTags.h"
