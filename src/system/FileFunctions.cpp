// The file and directory functions. Patterns are matched by the system's directory enumeration; this file
// adds the traversal around it (which entries, recursion, failure counts, the message check between
// entries) and the rule that turns a destination pattern into a file name.
#include "system/FileFunctions.h"
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <cwchar>
#include <functional>
#include <string>
#include "base/SortedTable.h"
#include "exec/ExecutorLoops.h"
#include "expr/Conversions.h"
#include "lib/Timestamp.h"
#include "runtime/MessageLoop.h"
#include "runtime/PseudoThread.h"
#include "startup/ScriptHost.h"
#include "system/FileObject.h"

namespace brm {

namespace {

// The longest path the wide file functions accept, and the longest name part a pattern may have.
constexpr size_t kMaxWidePath = 32767;
constexpr size_t kMaxNamePart = 259;
// The shell's file operations and the shell link object take paths of at most MAX_PATH characters.
constexpr size_t kMaxShellPath = MAX_PATH;
// Failure counts from here on are not worth reporting as a number.
constexpr uint32_t kCountLimit = 0x10000000;

// Part 5.4's generic failure: the error "Failed" without a count.
constexpr FResult FrPlainFail{static_cast<int32_t>(0xA0010000u)};

enum Take : uint8_t { TakeFiles = 1, TakeDirs = 2 };

void SetLastErrorValue(DWORD code) { g_thread->lastError = code; }

bool HasWildcards(const Char* s) { return wcspbrk(s, L"?*") != nullptr; }

bool IsDotEntry(const WIN32_FIND_DATAW& d) {
    return d.cFileName[0] == L'.' && (!d.cFileName[1] || (d.cFileName[1] == L'.' && !d.cFileName[2]));
}

bool IsSeparator(Char c) { return c == L'\\' || c == L'/'; }

// Where the name part begins: after the last separator, or after a drive's colon.
size_t NamePartStart(const std::wstring& path) {
    for (size_t i = path.size(); i > 0; --i)
        if (IsSeparator(path[i - 1])) return i;
    return path.size() >= 2 && path[1] == L':' ? 2 : 0;
}

class FindHandle {
public:
    explicit FindHandle(HANDLE h) : m_h(h) {}
    ~FindHandle() { if (m_h != INVALID_HANDLE_VALUE) FindClose(m_h); }
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    HANDLE Get() const { return m_h; }

private:
    HANDLE m_h;
};

class FileHandle {
public:
    explicit FileHandle(HANDLE h) : m_h(h) {}
    ~FileHandle() { Close(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE Get() const { return m_h; }
    bool Valid() const { return m_h != INVALID_HANDLE_VALUE; }
    void Close() {
        if (m_h != INVALID_HANDLE_VALUE) CloseHandle(m_h);
        m_h = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE m_h;
};

// CoInitialize for the length of one call.
class ComScope {
public:
    ComScope() : m_hr(CoInitialize(nullptr)) {}
    ~ComScope() { if (SUCCEEDED(m_hr)) CoUninitialize(); }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    HRESULT m_hr;
};

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() { if (m_p) m_p->Release(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    T** Out() { return &m_p; }
    T* operator->() const { return m_p; }

private:
    T* m_p = nullptr;
};

std::wstring FullPath(const Char* path) {
    Char buffer[MAX_PATH];
    DWORD n = GetFullPathNameW(path, MAX_PATH, buffer, nullptr);
    if (n == 0) return path;
    if (n < MAX_PATH) return std::wstring(buffer, n);
    std::wstring big(n, L'\0');
    DWORD m = GetFullPathNameW(path, n, big.data(), nullptr);
    big.resize(m < n ? m : 0);
    return big.empty() ? std::wstring(path) : big;
}

bool IsDirectory(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void StripTrailingSeparators(std::wstring& path) {
    while (path.size() > 1 && IsSeparator(path.back()) && !(path.size() == 3 && path[1] == L':')) path.pop_back();
}

// Whether two names reach the same file (any spelling: case, short names, links), by the file's identity.
bool SameFile(const std::wstring& a, const std::wstring& b) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    FileHandle ha(CreateFileW(a.c_str(), FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!ha.Valid()) return false;
    FileHandle hb(CreateFileW(b.c_str(), FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!hb.Valid()) return false;
    BY_HANDLE_FILE_INFORMATION ia, ib;
    if (!GetFileInformationByHandle(ha.Get(), &ia) || !GetFileInformationByHandle(hb.Get(), &ib)) return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

int AttribLetters(DWORD attributes, Char* out) {
    static const struct {
        DWORD bit;
        Char letter;
    } kLetters[] = {{FILE_ATTRIBUTE_READONLY, L'R'}, {FILE_ATTRIBUTE_ARCHIVE, L'A'},   {FILE_ATTRIBUTE_SYSTEM, L'S'},
                    {FILE_ATTRIBUTE_HIDDEN, L'H'},   {FILE_ATTRIBUTE_NORMAL, L'N'},    {FILE_ATTRIBUTE_DIRECTORY, L'D'},
                    {FILE_ATTRIBUTE_OFFLINE, L'O'},  {FILE_ATTRIBUTE_COMPRESSED, L'C'}, {FILE_ATTRIBUTE_TEMPORARY, L'T'},
                    {FILE_ATTRIBUTE_REPARSE_POINT, L'L'}};
    int n = 0;
    for (const auto& l : kLetters)
        if (attributes & l.bit) out[n++] = l.letter;
    out[n] = 0;
    return n;
}

// An optional file name: omitted means the current file-loop item; empty is invalid.
bool FileNameParam(Opt<const Char*> name, std::wstring& out) {
    if (name) {
        out = *name;
        return !out.empty();
    }
    const LoopFileItem* item = g_thread->loop.file;
    if (!item) return false;
    out.assign(item->fullDir, item->fullDirLength);
    out += item->data->cFileName;
    return true;
}

FResult FailureResult(uint32_t failures) {
    if (failures == 0) return FrOk;
    if (failures >= kCountLimit) return FrPlainFail;
    return FrFailedWith(failures);
}

// --- Pattern traversal ---

using EntryCallback = std::function<bool(const std::wstring& path, const WIN32_FIND_DATAW& data)>;

struct PatternWalk {
    uint8_t take;
    bool recurse;
    const EntryCallback& callback;
    uint32_t failures = 0;
    bool matched = false;
};

void WalkPattern(const std::wstring& dir, const std::wstring& name, PatternWalk& walk) {
    WIN32_FIND_DATAW data;
    {
        FindHandle find(FindFirstFileW((dir + name).c_str(), &data));
        if (find.Get() != INVALID_HANDLE_VALUE) {
            do {
                // Keeps timers, hotkeys and windows alive through a long traversal.
                LineCheck();
                if (IsDotEntry(data)) continue;
                bool isDir = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
                if (!(walk.take & (isDir ? TakeDirs : TakeFiles))) continue;
                walk.matched = true;
                std::wstring path = dir + data.cFileName;
                if (path.size() > kMaxWidePath) {
                    SetLastErrorValue(ERROR_BUFFER_OVERFLOW);
                    ++walk.failures;
                    continue;
                }
                if (!walk.callback(path, data)) ++walk.failures;
            } while (FindNextFileW(find.Get(), &data));
        }
    }
    if (!walk.recurse) return;
    FindHandle find(FindFirstFileW((dir + L"*").c_str(), &data));
    if (find.Get() == INVALID_HANDLE_VALUE) return;
    do {
        if (IsDotEntry(data) || !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
        std::wstring sub = dir + data.cFileName + L"\\";
        if (sub.size() + name.size() <= kMaxWidePath) WalkPattern(sub, name, walk);
    } while (FindNextFileW(find.Get(), &data));
}

// Applies callback to every entry the pattern matches. An exact name (no wildcards) takes files and
// directories alike, and one that matches nothing counts as a failure rather than as nothing to do.
FResult ApplyToPattern(const Char* pattern, uint8_t take, bool recurse, const EntryCallback& callback) {
    if (!*pattern) {
        SetLastErrorValue(ERROR_INVALID_PARAMETER);
        return FileOSError(ERROR_INVALID_PARAMETER);
    }
    SetLastErrorValue(0);
    std::wstring whole = pattern;
    size_t split = NamePartStart(whole);
    std::wstring dir = whole.substr(0, split), name = whole.substr(split);
    if (name.size() > kMaxNamePart || whole.size() > kMaxWidePath) {
        SetLastErrorValue(ERROR_BUFFER_OVERFLOW);
        return FileOSError(ERROR_BUFFER_OVERFLOW);
    }
    bool exact = !HasWildcards(name.c_str());
    if (exact) take = TakeFiles | TakeDirs;
    PatternWalk walk{take, recurse, callback};
    WalkPattern(dir, name, walk);
    if (exact && !walk.matched) {
        DWORD a = GetFileAttributesW(pattern);
        SetLastErrorValue(a == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_FILE_NOT_FOUND);
        walk.failures = 1;
    }
    return FailureResult(walk.failures);
}

uint8_t ParseTakeMode(const Char* mode, bool& recurse, bool& ok) {
    uint8_t take = 0;
    recurse = false;
    ok = true;
    for (const Char* p = mode; *p; ++p) {
        if (*p == L' ' || *p == L'\t') continue;
        switch (*p | 0x20) {
        case L'f': case L'v': take |= TakeFiles; break;
        case L'd': case L'k': take |= TakeDirs; break;
        case L'r': recurse = true; break;
        default: ok = false; return 0;
        }
    }
    return take ? take : uint8_t(TakeFiles);
}

// --- Copying and moving files ---

// The destination of one source file: a "*" in either half of the destination's name part takes the
// source's name or extension in its place.
std::wstring DestinationName(const std::wstring& dest, const Char* sourceName) {
    size_t split = NamePartStart(dest);
    std::wstring pattern = dest.substr(split);
    if (pattern.find(L'*') == std::wstring::npos) return dest;
    const auto halves = [](const std::wstring& s, std::wstring& name, std::wstring& ext, bool starWithout) {
        size_t dot = s.rfind(L'.');
        if (dot == std::wstring::npos) {
            name = s;
            ext.clear();
            if (starWithout) ext.push_back(L'*');
        } else {
            name = s.substr(0, dot);
            ext = s.substr(dot + 1);
        }
    };
    std::wstring patName, patExt, srcName, srcExt;
    halves(pattern, patName, patExt, true);
    halves(std::wstring(sourceName), srcName, srcExt, false);
    const auto expand = [](const std::wstring& pat, const std::wstring& src) {
        size_t star = pat.find(L'*');
        if (star == std::wstring::npos) return pat;
        std::wstring out = pat.substr(0, star);
        out += src;
        for (size_t i = star + 1; i < pat.size(); ++i)
            if (pat[i] != L'*') out += pat[i];
        return out;
    };
    std::wstring name = expand(patName, srcName), ext = expand(patExt, srcExt);
    std::wstring out = dest.substr(0, split);
    out += name;
    if (!ext.empty()) {
        out += L'.';
        out += ext;
    }
    return out;
}

FResult CopyOrMove(const Char* source, const Char* dest, bool overwrite, bool move) {
    if (!*source) return FrParam(0);
    if (!*dest) return FrParam(1);
    SetLastErrorValue(0);
    std::wstring src = FullPath(source), dst = FullPath(dest);
    if (IsDirectory(src)) {
        StripTrailingSeparators(src);
        src += L"\\*";
    }
    const bool destIsDir = IsDirectory(dst);
    if (destIsDir) StripTrailingSeparators(dst);
    size_t split = NamePartStart(src);
    std::wstring srcDir = src.substr(0, split);
    const bool wildcards = HasWildcards(src.c_str() + split);
    uint32_t failures = 0;
    bool matched = false;
    WIN32_FIND_DATAW data;
    FindHandle find(FindFirstFileW(src.c_str(), &data));
    DWORD findError = find.Get() == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (find.Get() != INVALID_HANDLE_VALUE) {
        do {
            LineCheck();
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            matched = true;
            std::wstring from = srcDir + data.cFileName;
            std::wstring to = destIsDir ? dst + L"\\" + data.cFileName : DestinationName(dst, data.cFileName);
            // Onto itself: nothing to do, and the system's copy would otherwise truncate the one file.
            if (SameFile(from, to)) continue;
            // The system refuses to replace a read-only file; so must a process that may ignore the mark.
            DWORD existing = overwrite ? GetFileAttributesW(to.c_str()) : INVALID_FILE_ATTRIBUTES;
            if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY)) {
                SetLastErrorValue(ERROR_ACCESS_DENIED);
                ++failures;
                continue;
            }
            BOOL ok = move ? MoveFileExW(from.c_str(), to.c_str(),
                                         MOVEFILE_COPY_ALLOWED | (overwrite ? MOVEFILE_REPLACE_EXISTING : 0))
                           : CopyFileW(from.c_str(), to.c_str(), !overwrite);
            if (!ok) {
                SetLastErrorValue(GetLastError());
                ++failures;
            }
        } while (FindNextFileW(find.Get(), &data));
    }
    if (!matched && !wildcards) {
        SetLastErrorValue(findError ? findError : ERROR_FILE_NOT_FOUND);
        failures = 1;
    }
    return FailureResult(failures);
}

// --- Directories ---

// Creates path with every missing parent, from the outermost. The system error says why it failed.
bool CreateDirectoryTree(std::wstring path) {
    StripTrailingSeparators(path);
    DWORD a = GetFileAttributesW(path.c_str());
    if (a != INVALID_FILE_ATTRIBUTES) {
        if (a & FILE_ATTRIBUTE_DIRECTORY) return true;
        SetLastError(ERROR_ALREADY_EXISTS);
        return false;
    }
    size_t split = NamePartStart(path);
    if (split > 0) {
        std::wstring parent = path.substr(0, split);
        StripTrailingSeparators(parent);
        bool isDrive = parent.size() <= 3 && parent.size() >= 2 && parent[1] == L':';
        if (!isDrive && !parent.empty() && parent != L"\\" && !CreateDirectoryTree(parent)) return false;
    }
    if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    SetLastError(0);
    return true;
}

// pFrom and pTo lists of the shell's file operation: each name NUL-terminated, the list by one more NUL.
std::wstring ShellList(const std::wstring& path) {
    std::wstring list = path;
    list.push_back(L'\0');
    return list;  // c_str() adds the second NUL
}

bool ShellOperation(UINT func, const std::wstring& from, const std::wstring* to, FILEOP_FLAGS flags) {
    std::wstring fromList = ShellList(from), toList = to ? ShellList(*to) : std::wstring();
    SHFILEOPSTRUCTW op = {};
    op.wFunc = func;
    op.pFrom = fromList.c_str();
    op.pTo = to ? toList.c_str() : nullptr;
    op.fFlags = flags;
    int result = SHFileOperationW(&op);
    return result == 0 && !op.fAnyOperationsAborted;
}

constexpr FILEOP_FLAGS kQuietFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;  // 0x614

bool DirectoryIsEmpty(const std::wstring& dir) {
    WIN32_FIND_DATAW data;
    FindHandle find(FindFirstFileW((dir + L"\\*").c_str(), &data));
    if (find.Get() == INVALID_HANDLE_VALUE) return true;
    do
        if (!IsDotEntry(data)) return false;
    while (FindNextFileW(find.Get(), &data));
    return true;
}

bool EndsWithFold(const std::wstring& s, const Char* suffix) {
    size_t n = wcslen(suffix);
    return s.size() >= n && CompareFoldAZ(s.c_str() + s.size() - n, n, suffix, n) == 0;
}

// Copies the contents of the directory source into dest, which is created when missing.
FResult CopyDirectory(std::wstring src, std::wstring dst, int overwrite, bool multiDest) {
    StripTrailingSeparators(src);
    StripTrailingSeparators(dst);
    if (!IsDirectory(src)) {
        // The shell would report success for a source that is not there and copy nothing.
        DWORD a = GetFileAttributesW(src.c_str());
        if (a != INVALID_FILE_ATTRIBUTES && EndsWithFold(src, L".zip")) {
            (void)RaiseMsg(ErrorClass::Error, Msg::ArchiveUnsupported, src.c_str());
            return FrFail;
        }
        SetLastErrorValue(a == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY);
        return FrPlainFail;
    }
    DWORD a = GetFileAttributesW(dst.c_str());
    if (a != INVALID_FILE_ATTRIBUTES) {
        if (!(a & FILE_ATTRIBUTE_DIRECTORY) || (overwrite != 1 && overwrite != 2)) {
            SetLastErrorValue(ERROR_ALREADY_EXISTS);
            return FrPlainFail;
        }
    } else if (!CreateDirectoryTree(dst)) {
        SetLastErrorValue(GetLastError());
        return FrPlainFail;
    }
    if (DirectoryIsEmpty(src)) return FrOk;
    FILEOP_FLAGS flags = kQuietFlags | (multiDest ? FOF_MULTIDESTFILES : 0);
    return ShellOperation(FO_COPY, src + L"\\*.*", &dst, flags) ? FrOk : FrPlainFail;
}

// Whether every file under src has a counterpart of the same size under dst.
bool TreeCopied(const std::wstring& src, const std::wstring& dst) {
    WIN32_FIND_DATAW data;
    FindHandle find(FindFirstFileW((src + L"\\*").c_str(), &data));
    if (find.Get() == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        if (IsDotEntry(data)) continue;
        std::wstring from = src + L"\\" + data.cFileName, to = dst + L"\\" + data.cFileName;
        WIN32_FILE_ATTRIBUTE_DATA copy;
        if (!GetFileAttributesExW(to.c_str(), GetFileExInfoStandard, &copy)) return false;
        bool isDir = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        if (isDir != bool(copy.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
        if (isDir) {
            if (!TreeCopied(from, to)) return false;
        } else if (copy.nFileSizeHigh != data.nFileSizeHigh || copy.nFileSizeLow != data.nFileSizeLow) {
            return false;
        }
    } while (FindNextFileW(find.Get(), &data));
    return true;
}

bool DeleteTree(std::wstring path) {
    StripTrailingSeparators(path);
    if (!IsDirectory(path)) return false;
    return ShellOperation(FO_DELETE, path, nullptr, kQuietFlags) && !Exists(path);
}

// --- Times ---

bool ParseWhichTime(Opt<const Char*> which, Char& letter) {
    letter = L'M';
    if (!which || !**which) return true;
    if ((*which)[1]) return false;
    Char c = Char((*which)[0] & ~0x20);
    if (c != L'M' && c != L'C' && c != L'A') return false;
    letter = c;
    return true;
}

// --- FileInstall from the program's resources ---

}  // namespace

DWORD WriteResourceFile(HMODULE module, const Char* source, const std::wstring& dest, bool overwrite) {
    std::wstring name = source;
    if (name.size() > kMaxWidePath) return ERROR_BUFFER_OVERFLOW;
    CharUpperBuffW(name.data(), DWORD(name.size()));
    // The resource is found before the destination is touched: a missing one must leave it as it was.
    HRSRC info = FindResourceW(module, name.c_str(), MAKEINTRESOURCEW(10));
    HGLOBAL loaded = info ? LoadResource(module, info) : nullptr;
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) return GetLastError() ? GetLastError() : ERROR_RESOURCE_NAME_NOT_FOUND;
    DWORD size = SizeofResource(module, info);
    // An existing file being replaced is written beside it first, so that a failed write loses nothing.
    std::wstring target = dest;
    bool viaTemp = overwrite && Exists(dest);
    if (viaTemp) {
        std::wstring dir = dest.substr(0, NamePartStart(dest));
        Char temp[MAX_PATH];
        if (!GetTempFileNameW(dir.empty() ? L"." : dir.c_str(), L"brm", 0, temp)) return GetLastError();
        target = temp;
    }
    FileHandle h(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, viaTemp ? CREATE_ALWAYS : CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Valid()) {
        DWORD error = GetLastError();
        if (viaTemp) DeleteFileW(target.c_str());
        return error;
    }
    DWORD written = 0;
    bool ok = WriteFile(h.Get(), bytes, size, &written, nullptr) && written == size;
    DWORD error = ok ? 0 : (GetLastError() ? GetLastError() : ERROR_WRITE_FAULT);
    h.Close();
    if (ok && viaTemp && !MoveFileExW(target.c_str(), dest.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        ok = false;
        error = GetLastError();
    }
    if (!ok) {
        // A partial file is worse than none: it would pass for the real thing.
        DeleteFileW(target.c_str());
        return error ? error : ERROR_WRITE_FAULT;
    }
    return 0;
}

namespace {

// A shortcut key's virtual key: a single character, or F1 to F24.
UINT ShortcutKey(const Char* name) {
    if (!name[0]) return 0;
    if (!name[1]) {
        SHORT vk = VkKeyScanW(name[0]);
        return vk == -1 ? 0 : UINT(vk & 0xFF);
    }
    if ((name[0] | 0x20) == L'f' && IsNumeric(name + 1, AllowNegative::No) == NumericKind::Integer) {
        int64_t n = ParseInt64(name + 1);
        if (n >= 1 && n <= 24) return UINT(VK_F1 + n - 1);
    }
    return 0;
}

bool SetText(StrRet& ret, const Char* text) { return ret.Set(text, wcslen(text)); }

}  // namespace

FResult BifFileDelete(const Char* pattern) {
    if (!*pattern) return FrParam(0);
    if (HasWildcards(pattern)) {
        SetLastErrorValue(0);
        return ApplyToPattern(pattern, TakeFiles, false, [](const std::wstring& path, const WIN32_FIND_DATAW&) {
            if (DeleteFileW(path.c_str())) return true;
            SetLastErrorValue(GetLastError());
            return false;
        });
    }
    if (!DeleteFileW(pattern)) return FileOSError(GetLastError());
    SetLastErrorValue(0);
    return FrOk;
}

FResult BifFileCopy(const Char* source, const Char* dest, Opt<bool> overwrite) {
    return CopyOrMove(source, dest, overwrite && *overwrite, false);
}

FResult BifFileMove(const Char* source, const Char* dest, Opt<bool> overwrite) {
    return CopyOrMove(source, dest, overwrite && *overwrite, true);
}

FResult BifFileGetAttrib(Opt<const Char*> file, StrRet ret) {
    std::wstring name;
    if (!FileNameParam(file, name)) return FrParam(0);
    DWORD a = GetFileAttributesW(name.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return FileOSError(GetLastError());
    SetLastErrorValue(0);
    Char letters[16];
    int n = AttribLetters(a, letters);
    return ret.Set(letters, size_t(n)) ? FrOk : FrOutOfMemory;
}

FResult BifFileSetAttrib(const Char* attributes, Opt<const Char*> pattern, Opt<const Char*> mode) {
    bool recurse = false, ok = true;
    uint8_t take = TakeFiles;
    if (mode) {
        take = ParseTakeMode(*mode, recurse, ok);
        if (!ok) return FrParam(2);
    }
    DWORD mask = 0xFFFFFFFF, toggle = 0;
    Char op = 0;
    for (const Char* p = attributes; *p; ++p) {
        Char c = *p;
        if (c == L'+' || c == L'-' || c == L'^') {
            op = c;
            continue;
        }
        DWORD bit;
        switch (c | 0x20) {
        case L'r': bit = FILE_ATTRIBUTE_READONLY; break;
        case L'a': bit = FILE_ATTRIBUTE_ARCHIVE; break;
        case L's': bit = FILE_ATTRIBUTE_SYSTEM; break;
        case L'h': bit = FILE_ATTRIBUTE_HIDDEN; break;
        case L'n': bit = FILE_ATTRIBUTE_NORMAL; break;
        case L'o': bit = FILE_ATTRIBUTE_OFFLINE; break;
        case L't': bit = FILE_ATTRIBUTE_TEMPORARY; break;
        default: return FrParam(0);
        }
        switch (op) {
        case L'+': mask &= ~bit; toggle |= bit; break;
        case L'-': mask &= ~bit; toggle &= ~bit; break;
        case L'^': toggle ^= bit; break;
        default: mask = 0; toggle |= bit; break;
        }
    }
    std::wstring name;
    if (!FileNameParam(pattern, name)) return FrParam(1);
    return ApplyToPattern(name.c_str(), take, recurse, [mask, toggle](const std::wstring& path,
                                                                       const WIN32_FIND_DATAW& data) {
        // Only these bits can be set; the directory bit and the like stay as the system keeps them.
        const DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_SYSTEM |
                               FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_OFFLINE |
                               FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
        DWORD value = ((data.dwFileAttributes & mask) ^ toggle) & settable;
        if (value & ~FILE_ATTRIBUTE_NORMAL) value &= ~FILE_ATTRIBUTE_NORMAL;
        if (!value) value = FILE_ATTRIBUTE_NORMAL;
        if (SetFileAttributesW(path.c_str(), value)) return true;
        SetLastErrorValue(GetLastError());
        return false;
    });
}

FResult BifFileGetTime(Opt<const Char*> file, Opt<const Char*> which, StrRet ret) {
    std::wstring name;
    if (!FileNameParam(file, name)) return FrParam(0);
    Char letter;
    if (!ParseWhichTime(which, letter)) return FrParam(1);
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(name.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return FileOSError(GetLastError());
    FindClose(find);
    SetLastErrorValue(0);
    const FILETIME& utc = letter == L'C' ? data.ftCreationTime : letter == L'A' ? data.ftLastAccessTime
                                                                               : data.ftLastWriteTime;
    FILETIME local;
    SYSTEMTIME st;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return FileOSError(GetLastError());
    Char text[32];
    Char* end = text;
    const WORD parts[] = {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
    for (int i = 0; i < 6; ++i) end = PutPaddedDecimal(end, parts[i], i ? 2 : 4);
    return ret.Set(text, size_t(end - text)) ? FrOk : FrOutOfMemory;
}

FResult BifFileSetTime(Opt<const Char*> time, Opt<const Char*> pattern, Opt<const Char*> which,
                       Opt<const Char*> mode) {
    FILETIME utc;
    if (time && **time) {
        SYSTEMTIME st;
        FILETIME local;
        if (!ParseTimestamp(*time, st, ValidateTime::Yes) || !SystemTimeToFileTime(&st, &local) ||
            !LocalFileTimeToFileTime(&local, &utc))
            return FrParam(0);
    } else {
        GetSystemTimeAsFileTime(&utc);
    }
    Char letter;
    if (!ParseWhichTime(which, letter)) return FrParam(2);
    bool recurse = false, ok = true;
    uint8_t take = TakeFiles;
    if (mode) {
        take = ParseTakeMode(*mode, recurse, ok);
        if (!ok) return FrParam(3);
    }
    std::wstring name;
    if (!FileNameParam(pattern, name)) return FrParam(1);
    return ApplyToPattern(name.c_str(), take, recurse, [utc, letter](const std::wstring& path,
                                                                      const WIN32_FIND_DATAW&) {
        FileHandle h(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (h.Valid() && SetFileTime(h.Get(), letter == L'C' ? &utc : nullptr, letter == L'A' ? &utc : nullptr,
                                     letter == L'M' ? &utc : nullptr))
            return true;
        SetLastErrorValue(GetLastError());
        return false;
    });
}

FResult BifFileGetSize(Opt<const Char*> file, Opt<const Char*> unit, ValueRet ret) {
    std::wstring name;
    if (!FileNameParam(file, name)) return FrParam(0);
    int shift = 0;
    if (unit && **unit) {
        Char u = Char((*unit)[0] & ~0x20);
        if ((*unit)[1] || (u != L'B' && u != L'K' && u != L'M')) return FrParam(1);
        shift = u == L'K' ? 10 : u == L'M' ? 20 : 0;
    }
    LARGE_INTEGER size;
    bool found = false;
    {
        FileHandle h(CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                 nullptr));
        found = h.Valid() && GetFileSizeEx(h.Get(), &size);
    }
    if (!found) {
        WIN32_FIND_DATAW data;
        HANDLE find = FindFirstFileW(name.c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return FileOSError(GetLastError());
        FindClose(find);
        size.QuadPart = int64_t((uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
    }
    SetLastErrorValue(0);
    ret.result->value.SetInteger(int64_t(uint64_t(size.QuadPart) >> shift));
    return FrOk;
}

FResult BifFileGetVersion(Opt<const Char*> file, StrRet ret) {
    std::wstring name;
    if (!FileNameParam(file, name)) return FrParam(0);
    SetLastErrorValue(0);
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(name.c_str(), &handle);
    if (!size) return FileOSError(GetLastError());
    std::wstring block(size / sizeof(Char) + 1, L'\0');
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    if (!GetFileVersionInfoW(name.c_str(), 0, size, block.data()) ||
        !VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &infoSize) || !info)
        return FileOSError(GetLastError() ? GetLastError() : ERROR_RESOURCE_TYPE_NOT_FOUND);
    Char text[64];
    size_t n = FormatMessageText(text, 64, L"%u.%u.%u.%u", unsigned(HIWORD(info->dwFileVersionMS)),
                                 unsigned(LOWORD(info->dwFileVersionMS)), unsigned(HIWORD(info->dwFileVersionLS)),
                                 unsigned(LOWORD(info->dwFileVersionLS)));
    return ret.Set(text, n) ? FrOk : FrOutOfMemory;
}

namespace {

FResult Existence(const Char* pattern, bool dirsOnly, StrRet ret) {
    const Char* check = wcsncmp(pattern, L"\\\\?\\", 4) == 0 ? pattern + 4 : pattern;
    DWORD attributes = INVALID_FILE_ATTRIBUTES;
    if (HasWildcards(check)) {
        WIN32_FIND_DATAW data;
        FindHandle find(FindFirstFileW(pattern, &data));
        if (find.Get() != INVALID_HANDLE_VALUE) {
            do {
                if (IsDotEntry(data)) continue;
                if (dirsOnly && !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
                attributes = data.dwFileAttributes;
                break;
            } while (FindNextFileW(find.Get(), &data));
        }
    } else if (*pattern) {
        attributes = GetFileAttributesW(pattern);
        if (dirsOnly && attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            attributes = INVALID_FILE_ATTRIBUTES;
    }
    if (attributes == INVALID_FILE_ATTRIBUTES) return FrOk;
    Char letters[16];
    int n = AttribLetters(attributes, letters);
    if (!n) return SetText(ret, L"X") ? FrOk : FrOutOfMemory;
    return ret.Set(letters, size_t(n)) ? FrOk : FrOutOfMemory;
}

}  // namespace

FResult BifFileExist(const Char* pattern, StrRet ret) { return Existence(pattern, false, ret); }
FResult BifDirExist(const Char* pattern, StrRet ret) { return Existence(pattern, true, ret); }

FResult BifDirCreate(const Char* path) {
    std::wstring full = FullPath(path);
    if (!*path || full.size() > kMaxWidePath) {
        DWORD code = *path ? ERROR_BUFFER_OVERFLOW : ERROR_INVALID_PARAMETER;
        SetLastErrorValue(code);
        return FileOSError(code);
    }
    bool ok = CreateDirectoryTree(full);
    DWORD error = GetLastError();
    SetLastErrorValue(ok ? 0 : error);
    return ok ? FrOk : FileOSError(error);
}

FResult BifDirDelete(const Char* path, Opt<bool> recurse) {
    if (!*path) return FrParam(0);
    if (!(recurse && *recurse)) {
        if (RemoveDirectoryW(path)) return FrOk;
        SetLastErrorValue(GetLastError());
        return FrPlainFail;
    }
    std::wstring full = FullPath(path);
    if (!DeleteTree(full)) {
        SetLastErrorValue(GetLastError());
        return FrPlainFail;
    }
    return FrOk;
}

FResult BifDirCopy(const Char* source, const Char* dest, Opt<int32_t> overwrite) {
    if (!*source) return FrParam(0);
    if (!*dest) return FrParam(1);
    SetLastErrorValue(0);
    int o = overwrite ? *overwrite : 0;
    return CopyDirectory(FullPath(source), FullPath(dest), o, o == 2);
}

FResult BifDirMove(const Char* source, const Char* dest, Opt<const Char*> modeText) {
    if (!*source) return FrParam(0);
    if (!*dest) return FrParam(1);
    Char mode = L'0';
    if (modeText && **modeText) {
        Char c = (*modeText)[0];
        if ((*modeText)[1] || (c != L'0' && c != L'1' && c != L'2' && (c | 0x20) != L'r')) return FrParam(2);
        mode = (c | 0x20) == L'r' ? L'R' : c;
    }
    SetLastErrorValue(0);
    if (mode == L'R') {
        if (!MoveFileW(source, dest)) return FileOSError(GetLastError());
        return FrOk;
    }
    std::wstring src = FullPath(source), dst = FullPath(dest);
    StripTrailingSeparators(src);
    StripTrailingSeparators(dst);
    if (!IsDirectory(src)) {
        SetLastErrorValue(Exists(src) ? ERROR_DIRECTORY : ERROR_PATH_NOT_FOUND);
        return FrPlainFail;
    }
    const bool otherDrive = src.size() >= 2 && src[1] == L':' &&
                            (dst.size() < 2 || (src[0] | 0x20) != (dst[0] | 0x20));
    if (otherDrive) {
        FResult fr = CopyDirectory(src, dst, mode == L'0' ? 0 : 1, false);
        if (fr.code < 0) return fr;
        // The source goes only once every file of it is known to be there, whole, at the destination.
        if (!TreeCopied(src, dst)) {
            SetLastErrorValue(ERROR_WRITE_FAULT);
            return FrPlainFail;
        }
        return DeleteTree(src) ? FrOk : FrPlainFail;
    }
    const bool destExists = Exists(dst);
    if (destExists && (!IsDirectory(dst) || mode == L'0')) {
        SetLastErrorValue(ERROR_ALREADY_EXISTS);
        return FrPlainFail;
    }
    FILEOP_FLAGS flags = kQuietFlags | (destExists && mode == L'2' ? FOF_MULTIDESTFILES : 0);
    if (!ShellOperation(FO_MOVE, src, &dst, flags) || Exists(src)) {
        SetLastErrorValue(GetLastError());
        return FrPlainFail;
    }
    return FrOk;
}

FResult BifFileInstall(const Char* source, const Char* dest, Opt<bool> overwrite) {
    if (!*source) return FrParam(0);
    if (!*dest) return FrParam(1);
    SetLastErrorValue(0);
    const bool replace = overwrite && *overwrite;
    std::wstring to = FullPath(dest);
    if (g_script.sourceKind == SourceKind::Resource) {
        DWORD error = WriteResourceFile(nullptr, source, to, replace);
        SetLastErrorValue(error);
        return error ? FrPlainFail : FrOk;
    }
    std::wstring from = source;
    bool relative = !(from.size() >= 2 && (from[1] == L':' || (IsSeparator(from[0]) && IsSeparator(from[1]))));
    if (relative) from = g_script.scriptDir + L"\\" + from;
    from = FullPath(from.c_str());
    if (SameFile(from, to) && !IsDirectory(from)) return FrOk;
    if (!CopyFileW(from.c_str(), to.c_str(), !replace)) {
        SetLastErrorValue(GetLastError());
        return FrPlainFail;
    }
    return FrOk;
}

FResult BifFileRecycle(const Char* pattern) {
    if (!*pattern) return FrParam(0);
    std::wstring full = FullPath(pattern);
    StripTrailingSeparators(full);
    if (full.size() > kMaxShellPath) {
        SetLastErrorValue(ERROR_BUFFER_OVERFLOW);
        return FrPlainFail;
    }
    // The shell reports success for a name that matches nothing.
    size_t split = NamePartStart(full);
    if (!HasWildcards(full.c_str() + split) && !Exists(full)) {
        SetLastErrorValue(GetLastError());
        return FrPlainFail;
    }
    if (!ShellOperation(FO_DELETE, full, nullptr, FOF_ALLOWUNDO | FOF_NOCONFIRMATION | FOF_SILENT | FOF_WANTNUKEWARNING))
        return FrPlainFail;
    return FrOk;
}

FResult BifFileRecycleEmpty(Opt<const Char*> drive) {
    HRESULT hr = SHEmptyRecycleBinW(nullptr, drive && **drive ? *drive : nullptr,
                                    SHERB_NOCONFIRMATION | SHERB_NOPROGRESSUI | SHERB_NOSOUND);
    if (SUCCEEDED(hr) || hr == E_UNEXPECTED) return FrOk;
    return FResult{int32_t(hr)};
}

FResult BifFileGetShortcut(const Char* link, Out<StrRet> target, Out<StrRet> workingDir, Out<StrRet> args,
                           Out<StrRet> description, Out<StrRet> iconFile, Out<ValueRet> iconNumber,
                           Out<int32_t> runState) {
    ComScope com;
    ComPtr<IShellLinkW> shell;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(shell.Out()));
    if (FAILED(hr)) return FResult{int32_t(hr)};
    ComPtr<IPersistFile> file;
    hr = shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.Out()));
    if (FAILED(hr)) return FResult{int32_t(hr)};
    std::wstring full = FullPath(link);
    hr = file->Load(full.c_str(), 0);
    if (FAILED(hr)) return FResult{int32_t(hr)};
    Char text[MAX_PATH + 1] = {};
    if (SUCCEEDED(shell->GetPath(text, MAX_PATH, nullptr, SLGP_UNCPRIORITY))) SetText(*target.ptr, text);
    text[0] = 0;
    if (SUCCEEDED(shell->GetWorkingDirectory(text, MAX_PATH))) SetText(*workingDir.ptr, text);
    text[0] = 0;
    if (SUCCEEDED(shell->GetArguments(text, MAX_PATH))) SetText(*args.ptr, text);
    text[0] = 0;
    if (SUCCEEDED(shell->GetDescription(text, MAX_PATH))) SetText(*description.ptr, text);
    text[0] = 0;
    int icon = 0;
    if (SUCCEEDED(shell->GetIconLocation(text, MAX_PATH, &icon))) {
        SetText(*iconFile.ptr, text);
        if (text[0]) iconNumber.ptr->result->value.SetInteger(icon >= 0 ? icon + 1 : icon);
    }
    int show = 0;
    if (SUCCEEDED(shell->GetShowCmd(&show))) *runState.ptr = show;
    return FrOk;
}

FResult BifFileCreateShortcut(const Char* target, const Char* link, Opt<const Char*> workingDir,
                              Opt<const Char*> args, Opt<const Char*> description, Opt<const Char*> iconFile,
                              Opt<const Char*> shortcutKey, Opt<int32_t> iconNumber, Opt<int32_t> runState) {
    ComScope com;
    ComPtr<IShellLinkW> shell;
    HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(shell.Out()));
    if (FAILED(hr)) return FResult{int32_t(hr)};
    hr = shell->SetPath(target);
    if (FAILED(hr)) return FResult{int32_t(hr)};
    if (workingDir) shell->SetWorkingDirectory(*workingDir);
    if (args) shell->SetArguments(*args);
    if (description) shell->SetDescription(*description);
    if (iconFile && **iconFile) {
        int index = iconNumber ? *iconNumber : 0;
        shell->SetIconLocation(*iconFile, index > 0 ? index - 1 : index);
    }
    if (shortcutKey && **shortcutKey) {
        if (UINT vk = ShortcutKey(*shortcutKey)) shell->SetHotkey(WORD(vk | 0x600));
    }
    if (runState) shell->SetShowCmd(*runState);
    ComPtr<IPersistFile> file;
    hr = shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.Out()));
    if (FAILED(hr)) return FResult{int32_t(hr)};
    std::wstring full = FullPath(link);
    if (full.size() >= kMaxShellPath) return FrWin32(ERROR_BUFFER_OVERFLOW);
    hr = file->Save(full.c_str(), TRUE);
    return FAILED(hr) ? FResult{int32_t(hr)} : FrOk;
}

}  // namespace brm
