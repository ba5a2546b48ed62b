// The source-file table. Capacity starts at 100 names and doubles, up to the 16-bit limit.
#include "loader/SourceFiles.h"
#include "base/Pool.h"
#include "loader/LoadError.h"

namespace brm {

namespace {
const Char** s_names = nullptr;
uint32_t s_count = 0;
uint32_t s_capacity = 0;
}  // namespace

uint32_t SourceFileCount() { return s_count; }

const Char* SourceFileName(uint32_t index) { return index < s_count ? s_names[index] : L""; }

bool SourceFileKnown(const Char* name) {
    for (uint32_t i = 0; i < s_count; ++i)
        if (CompareStringOrdinal(name, -1, s_names[i], -1, TRUE) == CSTR_EQUAL) return true;
    return false;
}

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
    s_names[s_count] = PoolStrDup(name, wcslen(name));
    return static_cast<int32_t>(s_count++);
}

}  // namespace brm
