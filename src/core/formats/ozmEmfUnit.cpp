#include "core/formats/ozmEmfUnit.h"

namespace ozm {

bool PlayMetafileIntoBitmap(std::span<const std::uint8_t>, Bitmap&) { return false; }

bool BuildMetafileFromBitmap(const Bitmap&, std::FILE*, MetafileKind) { return false; }

}  // namespace ozm
