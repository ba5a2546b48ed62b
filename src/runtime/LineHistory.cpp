// The ring of recently executed lines.
#include "runtime/LineHistory.h"

namespace brm {

LineHistoryEntry g_lineHistory[kLineHistorySlots];
uint32_t g_lineHistoryCount = 0;

void ForgetNewestLine(const ScriptLine* line) {
    LineHistoryEntry& newest = g_lineHistory[(g_lineHistoryCount - 1) & (kLineHistorySlots - 1)];
    if (!line || newest.line != line) return;
    newest.line = nullptr;
    --g_lineHistoryCount;
}

}  // namespace brm
