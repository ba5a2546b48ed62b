// CallResult's end of life: it owns its heap text and its Object value (see ValueToken.h).
#include "expr/ValueToken.h"
#include <cstdlib>
#include "objects/IObject.h"

namespace brm {

void CallResult::Release() {
    if (memToFree)
        free(memToFree);
    if (value.symbol == SymObject && value.object)
        value.object->Release();
}

}  // namespace brm
