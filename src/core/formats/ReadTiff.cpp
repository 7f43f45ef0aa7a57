#include "core/formats/ReadTiff.h"

namespace ozm {

bool ReadTiffFile(const std::filesystem::path&, Bitmap&, const MessageCallback&) { return false; }

}  // namespace ozm
