// Format: placeholders filled with values by the printf conversions.
#pragma once
#include "expr/ValueToken.h"

namespace brm {

// Format(FormatStr, Values*): a classic routine of the built-in table.
Status BifFormat(CallResult& result, ValueToken** params, int count);

}  // namespace brm
