#include "app/ui/InterfaceTexts.h"

namespace ozm {

const InterfaceTexts& Texts() {
    static const InterfaceTexts texts;
    return texts;
}

}  // namespace ozm
