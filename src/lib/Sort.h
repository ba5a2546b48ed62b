// Sort: the items of a delimited text in the order its options or a callback give.
#pragma once
#include "expr/ValueToken.h"

namespace brm {

// Sort(Text, Options := "", Callback?): a classic routine of the built-in table.
Status BifSort(CallResult& result, ValueToken** params, int count);

}  // namespace brm
