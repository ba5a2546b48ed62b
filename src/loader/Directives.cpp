// The directive handler: recognises "#Name argument" lines, applies them at once and reports bad arguments.
#include "loader/Directives.h"
#include <windows.h>

#include <cstring>
#include <cwchar>
#include "exec/ErrorReport.h"
#include "expr/Conversions.h"
#include "loader/BlockLinker.h"
#include "loader/LineParser.h"
#include "loader/LoadError.h"
#include "loader/ScriptReader.h"
#include "loader/ScriptSource.h"
#include "loader/SourceFiles.h"
#include "objects/BuiltInFunctions.h"
#include "startup/ScriptHost.h"
#include "startup/Version.h"
#include "system/Encoding.h"

namespace brm {

DirectiveSettings g_directives;

namespace {

constexpr size_t kMaxDirectiveName = 31;    // a longer first word is not a directive
constexpr size_t kMaxRequirementWord = 31;  // #Requires looks at this much of each word
constexpr int32_t kMaxThreadsLimit = 255;

inline bool IsBlank(Char c) { return c == L' ' || c == L'\t'; }

bool Is(const Char* text, size_t length, const Char* word) {
    return CompareFoldAZ(text, length, word, wcslen(word)) == 0;
}
bool Is(const Char* text, const Char* word) { return Is(text, wcslen(text), word); }

// Removes one pair of matching quotes around the argument.
void Unquote(Char*& arg, size_t& length) {
    if (length >= 2 && (arg[0] == L'"' || arg[0] == L'\'') && arg[length - 1] == arg[0]) {
        arg[length - 1] = 0;
        ++arg;
        length -= 2;
    }
}

int32_t Clamp(int64_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : static_cast<int32_t>(v); }

// An integer argument as the command line's parser reads it; false when no digits are there.
bool ReadInteger(const Char* arg, int64_t& value) {
    if (!arg) return false;
    const Char* end;
    value = ParseIntPrefix(arg, &end);
    return end != arg;
}

// "True"/"1" (or nothing) and "False"/"0".
bool ReadSwitch(const Char* arg, bool& value) {
    if (!arg || Is(arg, L"True") || Is(arg, L"1")) value = true;
    else if (Is(arg, L"False") || Is(arg, L"0")) value = false;
    else return false;
    return true;
}

// Compares dotted versions part by part (numbers numerically); negative, 0 or positive.
int CompareVersions(const Char* a, const Char* b) {
    for (;;) {
        const Char* aEnd;
        const Char* bEnd;
        int64_t x = ParseIntPrefix(a, &aEnd);
        int64_t y = ParseIntPrefix(b, &bEnd);
        if (x != y) return x < y ? -1 : 1;
        a = aEnd;
        b = bEnd;
        bool aMore = *a == L'.';
        bool bMore = *b == L'.';
        if (!aMore && !bMore) {
            // A pre-release suffix ("-beta") sorts before the release.
            if (*a == L'-' && *b != L'-') return -1;
            if (*b == L'-' && *a != L'-') return 1;
            return *a == L'-' ? wcscmp(a, b) : 0;
        }
        if (aMore) ++a;
        if (bMore) ++b;
        if (!aMore && ParseIntPrefix(b, &bEnd) != 0) return -1;
        if (!bMore && ParseIntPrefix(a, &aEnd) != 0) return 1;
        if (!aMore && !bMore) return 0;
    }
}

bool RequirementMet(const Char* word) {
    if (Is(word, L"32-bit")) return true;
    const Char* p = word;
    bool less = false, greater = false, equal = false;
    if (*p == L'<') less = true, ++p;
    if (*p == L'>') greater = true, ++p;
    if (*p == L'=') equal = true, ++p;
    if (*p == L'v') ++p;
    if (!*p || !(*p >= L'0' && *p <= L'9')) return false;
    int cmp = CompareVersions(kVersion, p);
    if (less || greater || equal) return (less && cmp < 0) || (greater && cmp > 0) || (equal && cmp == 0);
    const Char* end;
    return cmp >= 0 && ParseIntPrefix(kVersion, &end) == ParseIntPrefix(p, &end);
}

DirectiveResult Fail(Status) { return DirectiveResult::Failed; }
DirectiveResult Report(Msg id, const Char* extra = nullptr) { return Fail(ReportLoadErrorMsg(id, extra)); }

DirectiveResult Requires(const Char* arg) {
    if (!arg) return Report(Msg::Param1Required);
    static const Char kProduct[] = L"Brindlemar";
    constexpr size_t kProductLength = sizeof(kProduct) / sizeof(Char) - 1;
    bool met = wcslen(arg) >= kProductLength && Is(arg, kProductLength, kProduct) &&
               (!arg[kProductLength] || IsBlank(arg[kProductLength]));
    for (const Char* p = arg + kProductLength; met && *p;) {
        while (IsBlank(*p)) ++p;
        if (!*p) break;
        Char word[kMaxRequirementWord + 1];
        size_t n = 0;
        while (p[n] && !IsBlank(p[n])) ++n;
        size_t kept = n < kMaxRequirementWord ? n : kMaxRequirementWord;
        memcpy(word, p, kept * sizeof(Char));
        word[kept] = 0;
        met = RequirementMet(word);
        p += n;
    }
    if (met) return DirectiveResult::Handled;
    Char text[2048];
    FormatMessageText(text, sizeof(text) / sizeof(text[0]), MessageText(Msg::RequiresInterpreter), arg, kProduct,
                      kVersion, L"32-bit", g_script.brmPath.c_str());
    return Fail(ReportLoadError(text));
}

DirectiveResult Warn(const Char* line, const Char* arg) {
    Char type[64] = L"";
    const Char* mode = L"";
    if (arg) {
        const Char* comma = wcschr(arg, L',');
        size_t n = comma ? static_cast<size_t>(comma - arg) : wcslen(arg);
        while (n && IsBlank(arg[n - 1])) --n;
        if (n >= sizeof(type) / sizeof(type[0])) return Report(Msg::Param1Invalid, line);
        memcpy(type, arg, n * sizeof(Char));
        type[n] = 0;
        if (comma) {
            mode = comma + 1;
            while (IsBlank(*mode)) ++mode;
        }
    }
    WarnMode value;
    if (!*mode || Is(mode, L"MsgBox")) value = WarnMode::MsgBox;
    else if (Is(mode, L"Off")) value = WarnMode::Off;
    else if (Is(mode, L"OutputDebug")) value = WarnMode::OutputDebug;
    else if (Is(mode, L"StdOut")) value = WarnMode::StdOut;
    else return Report(Msg::Param2Invalid, mode);
    bool all = !*type || Is(type, L"All");
    if (all || Is(type, L"LocalSameAsGlobal")) g_directives.warnLocalSameAsGlobal = value;
    if (all || Is(type, L"Unreachable")) g_directives.warnUnreachable = value;
    if (all || Is(type, L"VarUnset")) g_directives.warnVarUnset = value;
    if (!all && !Is(type, L"LocalSameAsGlobal") && !Is(type, L"Unreachable") && !Is(type, L"VarUnset"))
        return Report(Msg::Param1Invalid, line);
    return DirectiveResult::Handled;
}

DirectiveResult DllLoad(Char* arg) {
    if (!arg) {
        if (!SetDllDirectoryW(nullptr)) return Report(Msg::InternalCallFailed);
        return DirectiveResult::Handled;
    }
    bool ignoreFailure = false;
    if (arg[0] == L'*' && (arg[1] == L'i' || arg[1] == L'I') && IsBlank(arg[2])) {
        ignoreFailure = true;
        arg += 3;
        while (IsBlank(*arg)) ++arg;
    }
    DWORD attributes = GetFileAttributesW(arg);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        if (!SetDllDirectoryW(arg)) return Report(Msg::InternalCallFailed);
        return DirectiveResult::Handled;
    }
    HMODULE module = LoadLibraryW(arg);
    if (module) {
        // Pinned: the script may call into it at any time, so it must never unload.
        HMODULE pinned;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCWSTR>(module), &pinned);
        return DirectiveResult::Handled;
    }
    if (ignoreFailure) return DirectiveResult::Handled;
    return Report(Msg::DllLoadFailed, arg);
}

}  // namespace

void EmitWarning(WarnMode mode, uint16_t fileIndex, int32_t lineNumber, const Char* message, const Char* extra) {
    switch (mode) {
    case WarnMode::Off:
    case WarnMode::OutputDebug:
        return;
    case WarnMode::StdOut:
        WriteErrorLines(L"*", g_script.errorStdOutCodePage ? g_script.errorStdOutCodePage : kCodePageUtf8,
                        SourceFileName(fileIndex), lineNumber, L"Warning: ", message, extra);
        return;
    case WarnMode::MsgBox:
        // With errors sent to the console no dialog may appear unasked: the warning goes where errors go.
        if (g_script.errorStdOut)
            WriteErrorLines(L"**", g_script.errorStdOutCodePage, SourceFileName(fileIndex), lineNumber, L"Warning: ",
                            message, extra);
        else
            ReportError(ErrorKind::Warning, SourceFileName(fileIndex), lineNumber, message, extra);
        return;
    }
}

DirectiveResult HandleDirective(ScriptReader& reader) {
    Char* line = reader.Line();
    size_t length = reader.LineLength();
    size_t nameLength = 0;
    while (nameLength < length && !IsBlank(line[nameLength])) ++nameLength;
    if (nameLength > kMaxDirectiveName + 1) return DirectiveResult::NotDirective;
    const Char* name = line + 1;
    size_t n = nameLength - 1;

    if (Is(name, n, L"HotIf")) {
        if (nameLength < length) {
            if (reader.ContinueExpression(ContinueContext::Normal) != Status::Ok) return DirectiveResult::Failed;
            line = reader.Line();
            length = reader.LineLength();
        }
        if (IsInsideBlock()) return Report(Msg::InvalidUsage);
        size_t at = nameLength;
        while (at < length && IsBlank(line[at])) ++at;
        if (at < length) return Report(Msg::HotkeysUnsupported, line);
        return DirectiveResult::Handled;
    }

    size_t at = nameLength;
    while (at < length && IsBlank(line[at])) ++at;
    Char* arg = at < length ? line + at : nullptr;
    size_t argLength = arg ? length - at : 0;
    bool quoted = Is(name, n, L"DllLoad") || Is(name, n, L"ErrorStdOut");
    if (arg && quoted) {
        Unquote(arg, argLength);
        if (!argLength) arg = nullptr;
    }

    if (Is(name, n, L"Include") || Is(name, n, L"IncludeAgain")) {
        if (IncludeDirective(arg, n == 12) != Status::Ok) return DirectiveResult::Failed;
        return DirectiveResult::Handled;
    }
    if (Is(name, n, L"NoTrayIcon")) {
        g_directives.noTrayIcon = true;
        return DirectiveResult::Handled;
    }
    if (Is(name, n, L"SingleInstance")) {
        if (!arg || Is(arg, L"Force")) g_script.singleInstance = SingleInstanceMode::Force;
        else if (Is(arg, L"Prompt")) g_script.singleInstance = SingleInstanceMode::Prompt;
        else if (Is(arg, L"Ignore")) g_script.singleInstance = SingleInstanceMode::Ignore;
        else if (Is(arg, L"Off")) g_script.singleInstance = SingleInstanceMode::Off;
        else return Report(Msg::Param1Invalid, arg);
        return DirectiveResult::Handled;
    }
    if (Is(name, n, L"HotIfTimeout") || Is(name, n, L"MaxThreadsPerHotkey") || Is(name, n, L"MaxThreads") ||
        Is(name, n, L"ClipboardTimeout")) {
        int64_t value;
        if (!ReadInteger(arg, value)) return DirectiveResult::Handled;  // a missing integer changes nothing
        if (Is(name, n, L"HotIfTimeout")) g_directives.hotIfTimeout = Clamp(value, INT32_MIN, INT32_MAX);
        else if (Is(name, n, L"MaxThreadsPerHotkey")) g_directives.maxThreadsPerHotkey = Clamp(value, 1, kMaxThreadsLimit);
        else if (Is(name, n, L"MaxThreads")) g_directives.maxThreads = Clamp(value, 1, kMaxThreadsLimit);
        return DirectiveResult::Handled;
    }
    if (Is(name, n, L"MaxThreadsBuffer") || Is(name, n, L"SuspendExempt")) {
        bool value;
        if (!ReadSwitch(arg, value)) return Report(Msg::Param1Invalid, arg);
        (Is(name, n, L"SuspendExempt") ? g_directives.suspendExempt : g_directives.maxThreadsBuffer) = value;
        return DirectiveResult::Handled;
    }
    if (Is(name, n, L"WinActivateForce")) {
        g_directives.winActivateForce = true;
        return DirectiveResult::Handled;
    }
    if (Is(name, n, L"ErrorStdOut")) {
        uint32_t codePage = 0;
        if (!ParseEncodingName(arg, codePage)) return Report(Msg::Param1Invalid, arg);
        g_script.errorStdOut = true;
        g_script.errorStdOutCodePage = codePage;
        return DirectiveResult::Handled;
    }
    if (Is(name, n, L"Warn")) return Warn(line, arg);
    if (Is(name, n, L"Requires")) return Requires(arg);
    if (Is(name, n, L"DllLoad")) return DllLoad(arg);
    return DirectiveResult::NotDirective;
}

}  // namespace brm
