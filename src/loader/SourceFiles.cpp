// The source-file table. Capacity starts at 100 names and doubles, up to the 16-bit limit.
#include "loader/SourceFiles.h"
#include <new>
#include <string>
#include <unordered_set>
#include "base/Pool.h"
#include "loader/LoadError.h"

namespace brm {

namespace {
const Char** s_names = nullptr;
uint32_t s_count = 0;
uint32_t s_capacity = 0;
// The names upper-cased (the fold CompareStringOrdinal applies when it ignores case), so that the
// duplicate test of each #Include is one look-up, not a scan of every file read so far.
std::unordered_set<std::wstring> s_known;

std::wstring FoldedName(const Char* name) {
    std::wstring folded(name);
    if (!folded.empty())
        CharUpperBuffW(folded.data(), static_cast<DWORD>(folded.size()));
    return folded;
}
}  // namespace

uint32_t SourceFileCount() { return s_count; }

const Char* SourceFileName(uint32_t index) { return index < s_count ? s_names[index] : L""; }

bool SourceFileKnown(const Char* name) { return s_known.count(FoldedName(name)) != 0; }

int32_t AddSourceFile(const Char* name) {
    if (s_count >= kMaxSourceFiles) {
        static_cast<void>(ReportLoadErrorMsg(Msg::TooManyIncludes));
        return -1;
    }
    if (s_count == s_capacity) {
        uint32_t capacity = s_capacity ? s_capacity * 2 : 100;
        if (capacity > kMaxSourceFiles) capacity = kMaxSourceFiles;
        auto grown = static_cast<const Char**>(realloc(s_names, capacity * sizeof(Char*)));
        if (!grown) {
            static_cast<void>(ReportLoadErrorMsg(Msg::OutOfMemory));
            return -1;
        }
        s_names = grown;
        s_capacity = capacity;
    }
    try {
        s_known.insert(FoldedName(name));
    } catch (const std::bad_alloc&) {
        static_cast<void>(ReportLoadErrorMsg(Msg::OutOfMemory));
        return -1;
    }
    s_names[s_count] = PoolStrDup(name, wcslen(name));
    return static_cast<int32_t>(s_count++);
}

}  // namespace brm
