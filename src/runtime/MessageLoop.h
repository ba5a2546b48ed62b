// The message loop: the one place messages are retrieved. Every wait runs inside it.
#pragma once

namespace brm {

enum class PumpMode { Resident };

// Resident: waits for and dispatches messages until the process exits. timeoutMs is the longest wait
// between checks of the script's own state.
void PumpMessages(PumpMode mode, unsigned timeoutMs);

// Persistent [Flag]: the flag the persistence test reads.
extern bool g_persistent;
bool IsPersistent();

}  // namespace brm
