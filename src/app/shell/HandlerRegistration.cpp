#include "app/shell/HandlerRegistration.h"

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
    for (std::string_view ext : FileManagerExtensions()) {
        filter.extensions.emplace_back(ext.substr(1));
    }
    for (std::string_view type : FileManagerMimeTypes()) filter.mimeTypes.emplace_back(type);
    return filter;
}

}  // namespace ozm
