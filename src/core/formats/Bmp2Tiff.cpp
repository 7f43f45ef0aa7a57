#include "core/formats/Bmp2Tiff.h"

namespace ozm {

bool WriteTiffFile(const Bitmap&, std::FILE*) { return false; }

}  // namespace ozm
