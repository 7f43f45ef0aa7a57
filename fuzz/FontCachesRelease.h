#pragma once
// cairo and fontconfig keep font caches for the life of the process. A fuzz target that draws
// text includes this header so that they are released at exit and the leak checker reports
// only what the player itself loses.

#include <cairo.h>
#include <fontconfig/fontconfig.h>

namespace ozm::fuzz {

struct FontCachesRelease {
    ~FontCachesRelease() {
        cairo_debug_reset_static_data();
        FcFini();
    }
};

inline FontCachesRelease releaseFontCachesAtExit;

}  // namespace ozm::fuzz
