// The file loop (Loop Files), the registry loop (Loop Reg) and the read-line loop (Loop Read), and the
// variables that read their items.
#include "exec/ExecutorLoops.h"
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include "exec/Executor.h"
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Evaluator.h"
#include "objects/BuiltInFunctions.h"
#include "runtime/PseudoThread.h"
#include "startup/ScriptHost.h"
#include "system/Registry.h"
#include "system/TextStream.h"

namespace brm {

namespace {

constexpr size_t kMaxNamePattern = 260;     // a longer name part matches nothing
constexpr size_t kMaxLoopPath = 32767;      // the longest path the system's wide functions accept
constexpr uint32_t kMaxReadLine = 65535;    // a longer line arrives in pieces

enum LoopFileMode : uint8_t { ModeFiles = 1, ModeDirs = 2, ModeRecurse = 4 };

Status EvaluateArgText(ScriptLine& line, int index, CallResult& result, std::wstring& out) {
    out.clear();
    if (index >= line.argCount) return Status::Ok;
    BRM_TRY(EvaluateExpr(line, line.args[index], result));
    int32_t length = 0;
    const Char* text = TokenToString(result.value, result.buffer, &length);
    if (length < 0) length = static_cast<int32_t>(wcslen(text));
    out.assign(text, static_cast<size_t>(length));
    return Status::Ok;
}

Status ParseMode(const std::wstring& text, uint8_t& mode) {
    mode = 0;
    for (Char c : text) {
        switch (c) {
        case L'f': case L'F': case L'v': case L'V': mode |= ModeFiles; break;
        case L'd': case L'D': case L'k': case L'K': mode |= ModeDirs; break;
        case L'r': case L'R': mode |= ModeRecurse; break;
        case L' ': case L'\t': break;
        default: return RaiseMsg(ErrorClass::ValueError, Msg::Param2Invalid, text.c_str());
        }
    }
    if (!(mode & (ModeFiles | ModeDirs))) mode |= ModeFiles;
    return Status::Ok;
}

struct FileWalk {
    ScriptLine* line;
    ScriptLine* until;
    CallResult* ret;
    ScriptLine** jump;
    Status status = Status::Ok;
    bool ran = false;
    uint8_t mode = 0;
    std::wstring namePattern;
};

inline bool IsDotEntry(const WIN32_FIND_DATAW& d) {
    return d.cFileName[0] == L'.' && (!d.cFileName[1] || (d.cFileName[1] == L'.' && !d.cFileName[2]));
}

// RAII owner of a FindFirstFileW handle.
class FindHandle {
public:
    explicit FindHandle(HANDLE h) : m_h(h) {}
    ~FindHandle() { if (m_h != INVALID_HANDLE_VALUE) FindClose(m_h); }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    HANDLE get() const { return m_h; }

private:
    HANDLE m_h;
};

// Visits one directory: its matching entries, then (recursing) every subdirectory. False stops the walk.
bool WalkDirectory(FileWalk& walk, const std::wstring& dir, const std::wstring& fullDir, const std::wstring& shortDir) {
    WIN32_FIND_DATAW data;
    LoopFileItem item{&data, dir.c_str(), dir.size(), fullDir.c_str(), fullDir.size(), shortDir.c_str(), shortDir.size()};
    {
        FindHandle find(FindFirstFileW((fullDir + walk.namePattern).c_str(), &data));
        if (find.get() != INVALID_HANDLE_VALUE) {
            do {
                if (IsDotEntry(data)) continue;
                bool isDir = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
                if (!(walk.mode & (isDir ? ModeDirs : ModeFiles))) continue;
                if (fullDir.size() + wcslen(data.cFileName) > kMaxLoopPath) continue;
                g_thread->loop.file = &item;
                walk.ran = true;
                if (!RunLoopBody(walk.line, walk.until, walk.ret, &walk.status, walk.jump)) return false;
            } while (FindNextFileW(find.get(), &data));
        }
    }
    if (!(walk.mode & ModeRecurse)) return true;
    FindHandle find(FindFirstFileW((fullDir + L"*").c_str(), &data));
    if (find.get() == INVALID_HANDLE_VALUE) return true;
    do {
        if (IsDotEntry(data) || !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        std::wstring name = data.cFileName;
        const Char* shortName = data.cAlternateFileName[0] ? data.cAlternateFileName : data.cFileName;
        if (!WalkDirectory(walk, dir + name + L"\\", fullDir + name + L"\\", shortDir + shortName + L"\\"))
            return false;
    } while (FindNextFileW(find.get(), &data));
    return true;
}

struct RegWalk {
    ScriptLine* line;
    ScriptLine* until;
    CallResult* ret;
    ScriptLine** jump;
    Status status = Status::Ok;
    bool ran = false;
    uint8_t mode = 0;
    LoopRegItem item{};
};

// RAII owner of a key the registry loop opened.
class LoopKey {
public:
    LoopKey() = default;
    ~LoopKey() { if (m_key) RegCloseKey(m_key); }
    LoopKey(const LoopKey&) = delete;
    LoopKey& operator=(const LoopKey&) = delete;
    HKEY* Out() { return &m_key; }
    HKEY Get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

bool RunRegItem(RegWalk& walk, const std::wstring& path, const Char* name, int32_t type, const FILETIME& modified) {
    wmemcpy(walk.item.subkey, path.c_str(), path.size() + 1);
    wcscpy(walk.item.name, name);
    walk.item.type = type;
    walk.item.modified = modified;
    g_thread->loop.reg = &walk.item;
    walk.ran = true;
    return RunLoopBody(walk.line, walk.until, walk.ret, &walk.status, walk.jump);
}

// Visits one key: its values, then its subkeys, each from the last to the first so that the body may
// delete the item it is given. False stops the walk; *opened tells whether the key could be opened.
bool WalkRegKey(RegWalk& walk, const std::wstring& path, bool* opened) {
    LoopKey key;
    if (RegOpenKeyExW(walk.item.key, path.c_str(), 0, RegistryView() | KEY_READ, key.Out()) != ERROR_SUCCESS) {
        if (opened) *opened = false;
        return true;
    }
    if (opened) *opened = true;
    // A path the item cannot hold whole would name another key; such a key is not visited.
    if (path.size() >= kRegLoopNameChars) return true;
    DWORD subkeys = 0, values = 0;
    if (RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return true;
    Char name[kRegLoopNameChars];
    if (walk.mode & ModeFiles) {
        const FILETIME none{};
        for (DWORD i = values; i-- > 0;) {
            DWORD length = kRegLoopNameChars, type = 0;
            if (RegEnumValueW(key.Get(), i, name, &length, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) continue;
            if (!RunRegItem(walk, path, name, static_cast<int32_t>(type), none)) return false;
        }
    }
    if (!(walk.mode & (ModeDirs | ModeRecurse))) return true;
    for (DWORD i = subkeys; i-- > 0;) {
        DWORD length = kRegLoopNameChars;
        FILETIME modified{};
        if (RegEnumKeyExW(key.Get(), i, name, &length, nullptr, nullptr, nullptr, &modified) != ERROR_SUCCESS) continue;
        std::wstring child = path.empty() ? std::wstring(name) : path + L"\\" + name;
        if ((walk.mode & ModeDirs) && !RunRegItem(walk, path, name, kRegTypeKey, modified)) return false;
        if ((walk.mode & ModeRecurse) && !WalkRegKey(walk, child, nullptr)) return false;
    }
    return true;
}

Status SetText(CallResult& result, const Char* text, size_t length) {
    Char* target = result.buffer;
    if (length >= static_cast<size_t>(kScratchChars)) {
        target = static_cast<Char*>(malloc((length + 1) * sizeof(Char)));
        if (!target) return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
        result.memToFree = target;
    }
    wmemcpy(target, text, length);
    target[length] = 0;
    result.value.SetString(target, static_cast<int32_t>(length));
    return Status::Ok;
}

Status SetText(CallResult& result, const std::wstring& text) { return SetText(result, text.data(), text.size()); }

Status SetFileTime(CallResult& result, const FILETIME& utc) {
    FILETIME local;
    SYSTEMTIME st;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return SetText(result, L"", 0);
    // The message formatter has no field widths: the digits are padded here.
    Char text[16], *end = PutPaddedDecimal(text, st.wYear, 4);
    for (unsigned part : {st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond}) end = PutPaddedDecimal(end, part, 2);
    return SetText(result, text, static_cast<size_t>(end - text));
}

bool NameIs(const Char* name, const Char* suffix) {
    size_t n = wcslen(name), m = wcslen(suffix);
    // The suffix must follow "File", so that "Path" does not also match "FullPath".
    return n > m && CompareFoldAZ(name + n - m, m, suffix, m) == 0 && (name[n - m - 1] | 0x20) == L'e';
}

}  // namespace

Status ExecLoopFiles(ScriptLine* line, CallResult* ret, ScriptLine** jump, ScriptLine** next) {
    Char s1[kScratchChars], s2[kScratchChars];
    CallResult r1(s1), r2(s2);
    std::wstring pattern, modeText;
    BRM_TRY(EvaluateArgText(*line, 0, r1, pattern));
    BRM_TRY(EvaluateArgText(*line, 1, r2, modeText));
    FileWalk walk;
    walk.line = line;
    walk.until = UntilOf(line);
    walk.ret = ret;
    walk.jump = jump;
    BRM_TRY(ParseMode(modeText, walk.mode));

    // Split at the last separator (or after a drive) into the directory and the name pattern.
    size_t split = pattern.find_last_of(L"\\/");
    if (split == std::wstring::npos && pattern.size() >= 2 && pattern[1] == L':') split = 1;
    std::wstring dir;
    if (split != std::wstring::npos)
        dir = pattern.substr(0, split + 1);
    walk.namePattern = split == std::wstring::npos ? pattern : pattern.substr(split + 1);

    LoopState saved = g_thread->loop;
    g_thread->loop.index = 1;
    if (walk.namePattern.size() <= kMaxNamePattern && !walk.namePattern.empty()) {
        Char full[MAX_PATH * 4];
        DWORD n = GetFullPathNameW(dir.empty() ? L"." : dir.c_str(), sizeof(full) / sizeof(full[0]), full, nullptr);
        std::wstring fullDir(full, n < sizeof(full) / sizeof(full[0]) ? n : 0);
        if (!fullDir.empty() && fullDir.back() != L'\\') fullDir += L'\\';
        Char shortBuf[MAX_PATH * 4];
        DWORD s = GetShortPathNameW(fullDir.c_str(), shortBuf, sizeof(shortBuf) / sizeof(shortBuf[0]));
        std::wstring shortDir = s && s < sizeof(shortBuf) / sizeof(shortBuf[0]) ? std::wstring(shortBuf, s) : fullDir;
        if (!fullDir.empty()) WalkDirectory(walk, dir, fullDir, shortDir);
    }
    g_thread->loop = saved;
    return FinishLoop(line, walk.until, walk.ran, walk.status, ret, jump, next);
}

Status ExecLoopReg(ScriptLine* line, CallResult* ret, ScriptLine** jump, ScriptLine** next) {
    Char s1[kScratchChars], s2[kScratchChars];
    CallResult r1(s1), r2(s2);
    std::wstring keyText, modeText;
    BRM_TRY(EvaluateArgText(*line, 0, r1, keyText));
    BRM_TRY(EvaluateArgText(*line, 1, r2, modeText));
    RegWalk walk;
    walk.line = line;
    walk.until = UntilOf(line);
    walk.ret = ret;
    walk.jump = jump;
    // The root is checked before the mode, and before any remote computer is asked.
    RegKeyName key;
    if (!key.Parse(keyText.c_str(), RemoteKey::Ignore))
        return RaiseFormatted(ErrorClass::ValueError, keyText.c_str(), Msg::ParamInvalid, 1);
    BRM_TRY(ParseMode(modeText, walk.mode));
    if (!key.Parse(keyText.c_str(), RemoteKey::Connect))
        return RaiseFormatted(ErrorClass::ValueError, keyText.c_str(), Msg::ParamInvalid, 1);
    walk.item.root = key.root;
    walk.item.key = key.key;

    LoopState saved = g_thread->loop;
    g_thread->loop.index = 1;
    bool opened = false;
    WalkRegKey(walk, key.subkey, &opened);
    g_thread->loop = saved;
    if (!opened) return RaiseFormatted(ErrorClass::ValueError, keyText.c_str(), Msg::ParamInvalid, 1);
    return FinishLoop(line, walk.until, walk.ran, walk.status, ret, jump, next);
}

Status ExecLoopRead(ScriptLine* line, CallResult* ret, ScriptLine** jump, ScriptLine** next) {
    Char s1[kScratchChars], s2[kScratchChars];
    CallResult r1(s1), r2(s2);
    std::wstring input, output;
    BRM_TRY(EvaluateArgText(*line, 0, r1, input));
    BRM_TRY(EvaluateArgText(*line, 1, r2, output));
    ScriptLine* until = UntilOf(line);

    TextFile file;
    if (!file.Open(input.c_str(), TextStream::Read | TextStream::EolCrLf | TextStream::ShareRead | TextStream::ShareWrite,
                   0)) {
        DWORD code = GetLastError();
        ScriptLine* after = line->relatedLine;
        bool hasElse = !until && after && after->action == LineAction::Else && after->attribute == line;
        if (!(hasElse && (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND))) {
            Char text[64];
            FormatMessageText(text, 64, L"(%u) ", static_cast<unsigned>(code));
            g_thread->lastError = code;  // A_LastError keeps the code the error reports
            return RaiseError(ErrorClass::OSError, text, input.c_str());
        }
        return FinishLoop(line, until, false, Status::Ok, ret, jump, next);
    }
    std::unique_ptr<Char[]> buffer(new (std::nothrow) Char[kMaxReadLine + 1]);
    if (!buffer) return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);

    TextFile outFile;
    LoopReadItem item{L"", 0, output.c_str(), nullptr};
    LoopState saved = g_thread->loop;
    g_thread->loop.index = 1;
    g_thread->loop.read = &item;
    Status st = Status::Ok;
    bool ran = false;
    for (;;) {
        uint32_t n = file.ReadText(buffer.get(), kMaxReadLine, true);
        if (!n) break;
        if (buffer[n - 1] == L'\n') --n;
        buffer[n] = 0;
        item.line = buffer.get();
        item.length = static_cast<int32_t>(n);
        ran = true;
        if (!RunLoopBody(line, until, ret, &st, jump)) break;
    }
    g_thread->loop = saved;
    delete item.output;  // flushes and closes
    return FinishLoop(line, until, ran, st, ret, jump, next);
}

LoopReadItem* CurrentReadLoop() { return g_thread->loop.read; }

Status GetLoopReadLine(CallResult& result, const Char*) {
    const LoopReadItem* item = g_thread->loop.read;
    return item ? SetText(result, item->line, static_cast<size_t>(item->length)) : SetText(result, L"", 0);
}

Status GetLoopFileVar(CallResult& result, const Char* name) {
    const LoopFileItem* item = g_thread->loop.file;
    if (!item) return SetText(result, L"", 0);
    const WIN32_FIND_DATAW& d = *item->data;
    const Char* fileName = d.cFileName;
    uint64_t size = (static_cast<uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
    // Longest suffixes first: "ShortName" and "ShortPath" before "Name" and "Path".
    if (NameIs(name, L"ShortName"))
        return SetText(result, d.cAlternateFileName[0] ? std::wstring(d.cAlternateFileName) : std::wstring(fileName));
    if (NameIs(name, L"ShortPath"))
        return SetText(result, std::wstring(item->shortDir) +
                                   (d.cAlternateFileName[0] ? d.cAlternateFileName : fileName));
    if (NameIs(name, L"FullPath")) return SetText(result, std::wstring(item->fullDir) + fileName);
    if (NameIs(name, L"Name")) return SetText(result, fileName, wcslen(fileName));
    if (NameIs(name, L"Path")) return SetText(result, std::wstring(item->dir) + fileName);
    if (NameIs(name, L"Dir")) {
        size_t n = item->dirLength;
        if (n && (item->dir[n - 1] == L'\\' || item->dir[n - 1] == L'/') && !(n >= 2 && item->dir[n - 2] == L':')) --n;
        return SetText(result, item->dir, n);
    }
    if (NameIs(name, L"Ext")) {
        const Char* dot = wcsrchr(fileName, L'.');
        return dot ? SetText(result, dot + 1, wcslen(dot + 1)) : SetText(result, L"", 0);
    }
    if (NameIs(name, L"Attrib")) {
        static const struct { DWORD bit; Char letter; } kLetters[] = {
            {FILE_ATTRIBUTE_READONLY, L'R'}, {FILE_ATTRIBUTE_ARCHIVE, L'A'}, {FILE_ATTRIBUTE_SYSTEM, L'S'},
            {FILE_ATTRIBUTE_HIDDEN, L'H'}, {FILE_ATTRIBUTE_NORMAL, L'N'}, {FILE_ATTRIBUTE_DIRECTORY, L'D'},
            {FILE_ATTRIBUTE_OFFLINE, L'O'}, {FILE_ATTRIBUTE_COMPRESSED, L'C'}, {FILE_ATTRIBUTE_TEMPORARY, L'T'},
            {FILE_ATTRIBUTE_REPARSE_POINT, L'L'}};
        Char letters[16];
        size_t n = 0;
        for (const auto& l : kLetters)
            if (d.dwFileAttributes & l.bit) letters[n++] = l.letter;
        return SetText(result, letters, n);
    }
    if (NameIs(name, L"SizeKB")) return result.value.SetInteger(static_cast<int64_t>(size >> 10)), Status::Ok;
    if (NameIs(name, L"SizeMB")) return result.value.SetInteger(static_cast<int64_t>(size >> 20)), Status::Ok;
    if (NameIs(name, L"Size")) return result.value.SetInteger(static_cast<int64_t>(size)), Status::Ok;
    if (NameIs(name, L"TimeModified")) return SetFileTime(result, d.ftLastWriteTime);
    if (NameIs(name, L"TimeCreated")) return SetFileTime(result, d.ftCreationTime);
    if (NameIs(name, L"TimeAccessed")) return SetFileTime(result, d.ftLastAccessTime);
    return SetText(result, L"", 0);
}

}  // namespace brm
