// The start-up sequence, shared by both programs (with and without an embedded script).
#pragma once

namespace brm {

// Returns the exit code when start-up ends early; otherwise the process ends through the exit sequence.
int RunProgram(int argc, wchar_t** argv);

}  // namespace brm
