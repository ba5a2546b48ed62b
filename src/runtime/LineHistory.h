// The ring of the 400 lines executed last, with the tick at which each started; the lines view shows it.
// Appending is on the executor's path for every line: two stores and an index step, nothing else.
#pragma once
#include <cstdint>

namespace brm {

struct ScriptLine;

struct LineHistoryEntry {
    const ScriptLine* line;  // null in a slot never written (the ring is not full yet) or taken back
    uint32_t tick;           // GetTickCount when the line started
};

// Enough to see how a thread got where it is; the lines view caps its text besides.
constexpr uint32_t kLineHistorySize = 400;
// The slots are a power of two so that the step to the next one is a mask, not a test; the view reads the
// newest kLineHistorySize of them.
constexpr uint32_t kLineHistorySlots = 512;
static_assert((kLineHistorySlots & (kLineHistorySlots - 1)) == 0 && kLineHistorySlots >= kLineHistorySize);

extern LineHistoryEntry g_lineHistory[kLineHistorySlots];
extern uint32_t g_lineHistoryCount;  // lines recorded so far (wrapping); the next goes into slot count % slots

inline void RecordLine(const ScriptLine* line, uint32_t tick) {
    LineHistoryEntry& e = g_lineHistory[g_lineHistoryCount++ & (kLineHistorySlots - 1)];
    e.line = line;
    e.tick = tick;
}

// Takes back the newest entry when it is that line (ListLines leaves its own line out of the record).
void ForgetNewestLine(const ScriptLine* line);

}  // namespace brm
