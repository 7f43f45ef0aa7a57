#include "core/transforms/TransformHost.h"

namespace ozm {

TransformHost& NullTransformHost() {
    static TransformHost host;
    return host;
}

}  // namespace ozm
