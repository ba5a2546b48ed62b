// The source-file table: every script file read, by the 16-bit index each ScriptLine carries.
// Entry 0 is the main script. Names live until the process ends.
#pragma once
#include <cstdint>
#include "expr/ValueToken.h"

namespace brm {

constexpr uint32_t kMaxSourceFiles = 65535;  // the index is 16 bits wide

uint32_t SourceFileCount();
const Char* SourceFileName(uint32_t index);  // "" for an index that was never entered
bool SourceFileKnown(const Char* name);      // case-insensitive, as the duplicate-include test needs
// Enters a name; returns the new index, or -1 after reporting "Too many includes." / "Out of memory.".
int32_t AddSourceFile(const Char* name);

}  // namespace brm
