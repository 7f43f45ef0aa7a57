#include "app/shell/HandlerRegistration.h"

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

}  // namespace ozm
