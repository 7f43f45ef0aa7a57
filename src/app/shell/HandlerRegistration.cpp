#include "app/shell/HandlerRegistration.h"

#include <algorithm>

#include "core/formats/ImageFormats.h"
#include "platform/DesktopIntegration.h"

namespace ozm {

TOzmImgConvertMenu& OzmImgConvertMenu() {
    static TOzmImgConvertMenu menu;
    return menu;
}

void RemoveShellMenuRegistration() {
    RemoveHandlerRegistration(DesktopLocations::FromEnvironment(), kHandlerClassId,
                              kFileHandlerName);
}

HookFilter ImageHookFilter() {
    HookFilter filter;
    const auto reads = [](const ImageFormat* format) {
        return format != nullptr && format->listed && format->decoder != nullptr;
    };
    // The listed extensions in their places in the filters, then the ones read without being
    // listed (".tiff"), so that hooks an older version installed keep their order.
    for (std::string_view ext : FileManagerExtensions()) {
        if (reads(FormatForReadExtension(ext))) filter.extensions.emplace_back(ext.substr(1));
    }
    for (const ImageFormat& row : ImageFormatTable()) {
        if (!reads(&row)) continue;
        for (const ReadExtension& read : row.reads) {
            if (!read.text.empty() && read.listPlace == 0) {
                filter.extensions.emplace_back(read.text.substr(1));
            }
        }
    }
    for (std::string_view type : FileManagerMimeTypes()) {
        const bool read =
            std::any_of(kImageFormats.begin(), kImageFormats.end(), [&](const ImageFormat& row) {
                return reads(&row) && std::find(row.mimeTypes.begin(), row.mimeTypes.end(), type) !=
                                          row.mimeTypes.end();
            });
        if (read) filter.mimeTypes.emplace_back(type);
    }
    return filter;
}

}  // namespace ozm
