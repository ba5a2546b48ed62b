// INI files through the system's profile routines. A file these functions create is UTF-16 with a
// byte-order mark, so that the system keeps every later write to it in UTF-16 too.
#include "system/IniFile.h"
#include <windows.h>

#include <cwchar>
#include <string>
#include <vector>
#include "exec/Raise.h"
#include "runtime/PseudoThread.h"

namespace brm {

namespace {

// The longest path the system's wide functions accept.
constexpr DWORD kMaxPathChars = 32768;
// What one read may return: a value, a section's lines or the section names.
constexpr DWORD kMaxReadChars = 65535;

// RAII owner of a file handle.
class FileHandle {
public:
    explicit FileHandle(HANDLE h) : m_h(h) {}
    ~FileHandle() { if (m_h != INVALID_HANDLE_VALUE) CloseHandle(m_h); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE Get() const { return m_h; }

private:
    HANDLE m_h;
};

// The profile routines take a bare name to be a file in the Windows folder: the name is made absolute
// against the working directory first.
bool FullPath(const Char* file, std::wstring& full) {
    std::vector<Char> buffer(kMaxPathChars);
    DWORD n = GetFullPathNameW(file, kMaxPathChars, buffer.data(), nullptr);
    if (!n || n >= kMaxPathChars) return false;
    full.assign(buffer.data(), n);
    return true;
}

FResult Raised(Status s) { return s == Status::Ok ? FrContinued : FrFail; }

FResult OSErrorResult(DWORD code) {
    if (!code) code = ERROR_GEN_FAILURE;  // a failure must not read as success
    return Raised(RaiseOSErrorCode(code));
}

// A new file starts as UTF-16: a byte-order mark and the section header, without a line end.
bool CreateIniFile(const std::wstring& path, const Char* section) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE) return true;  // the system's own write then decides
    std::wstring text = L"\xFEFF[";
    text += section;
    text += L']';
    DWORD bytes = static_cast<DWORD>(text.size() * sizeof(Char)), written = 0;
    return WriteFile(file.Get(), text.data(), bytes, &written, nullptr) && written == bytes;
}

// Control characters no line of an INI file holds, as the default that marks a missing key.
constexpr const Char* kMissingMark = L"\x01\x02\x03";

bool FileExists(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Whether a section of that name exists (an empty one has no lines to read).
bool HasSection(const std::wstring& path, const Char* section) {
    std::vector<Char> names(kMaxReadChars + 1);
    DWORD n = GetPrivateProfileSectionNamesW(names.data(), kMaxReadChars, path.c_str());
    for (DWORD i = 0; i < n && names[i];) {
        const Char* name = names.data() + i;
        size_t length = wcsnlen(name, n - i);
        if (CompareStringOrdinal(name, static_cast<int>(length), section, -1, TRUE) == CSTR_EQUAL) return true;
        i += static_cast<DWORD>(length) + 1;
    }
    return false;
}

void FlushProfileCache(const std::wstring& path) { WritePrivateProfileStringW(nullptr, nullptr, nullptr, path.c_str()); }

}  // namespace

FResult BifIniRead(const Char* file, Opt<const Char*> section, Opt<const Char*> key, Opt<const Char*> defaultValue,
                   StrRet ret) {
    if (key && !section) return FrParam(1);
    std::wstring path;
    if (!FullPath(file, path)) return OSErrorResult(GetLastError());
    std::vector<Char> buffer(kMaxReadChars + 1);
    DWORD n;
    bool missing = false;
    SetLastError(0);
    if (key) {
        // Not every system reports a missing key through the last error: the default comes back instead,
        // so a default no INI line can hold tells a missing key from an empty value.
        n = GetPrivateProfileStringW(*section, *key, kMissingMark, buffer.data(), kMaxReadChars, path.c_str());
        missing = n == wcslen(kMissingMark) && !wcscmp(buffer.data(), kMissingMark);
    } else {
        n = section ? GetPrivateProfileSectionW(*section, buffer.data(), kMaxReadChars, path.c_str())
                    : GetPrivateProfileSectionNamesW(buffer.data(), kMaxReadChars, path.c_str());
        if (!n) missing = section ? !HasSection(path, *section) : !FileExists(path);
        // The list's strings end in NULs; the last one is followed by a second NUL.
        for (DWORD i = 0; i < n; ++i) {
            if (buffer[i]) continue;
            if (i + 1 >= n || !buffer[i + 1]) {
                n = i;
                break;
            }
            buffer[i] = L'\n';
        }
    }
    DWORD code = GetLastError();
    if (!code && missing) code = ERROR_FILE_NOT_FOUND;
    g_thread->lastError = code;
    if (code || missing) {
        if (!defaultValue)
            return code == ERROR_FILE_NOT_FOUND ? Raised(RaiseMsg(ErrorClass::Error, Msg::IniNotFound))
                                                : OSErrorResult(code);
        if (!key || missing) return ret.Set(*defaultValue, wcslen(*defaultValue)) ? FrOk : FrOutOfMemory;
    }
    if (n > kMaxReadChars) n = kMaxReadChars;
    return ret.Set(buffer.data(), wcsnlen(buffer.data(), n)) ? FrOk : FrOutOfMemory;
}

FResult BifIniWrite(const Char* value, const Char* file, const Char* section, Opt<const Char*> key) {
    std::wstring path;
    if (!FullPath(file, path)) return OSErrorResult(GetLastError());
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES && !CreateIniFile(path, section))
        return OSErrorResult(GetLastError());
    BOOL ok;
    if (key) {
        ok = WritePrivateProfileStringW(section, *key, value, path.c_str());
    } else {
        // The section's new lines, each "key=value", as the NUL-separated list the system takes.
        std::wstring content = value;
        for (Char& c : content)
            if (c == L'\n') c = 0;
        content.push_back(0);
        content.push_back(0);
        ok = WritePrivateProfileSectionW(section, content.c_str(), path.c_str());
    }
    if (!ok) {
        DWORD code = GetLastError();
        return OSErrorResult(code);
    }
    FlushProfileCache(path);
    g_thread->lastError = 0;
    return FrOk;
}

FResult BifIniDelete(const Char* file, const Char* section, Opt<const Char*> key) {
    std::wstring path;
    if (!FullPath(file, path)) return OSErrorResult(GetLastError());
    SetLastError(0);
    BOOL ok = WritePrivateProfileStringW(section, key ? *key : nullptr, nullptr, path.c_str());
    DWORD code = GetLastError();
    g_thread->lastError = ok ? 0 : code;
    FlushProfileCache(path);
    if (!ok) return OSErrorResult(code);
    return FrOk;
}

}  // namespace brm
