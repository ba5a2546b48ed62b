// Opening script sources (files, RCDATA resources, standard input) and following includes.
// The current directory moves with includes so relative names resolve against the including file.
#include "loader/ScriptSource.h"
#include <knownfolders.h>
#include <memory>
#include <string>
#include "exec/ErrorReport.h"
#include "loader/Definitions.h"
#include "loader/LineParser.h"
#include "loader/LoadError.h"
#include "loader/ScriptReader.h"
#include "loader/SourceFiles.h"
#include "objects/BuiltInVars.h"
#include "objects/ClassInit.h"
#include "expr/Conversions.h"
#include "startup/ScriptHost.h"
#include "startup/TruePath.h"
#include "system/TextStream.h"

namespace brm {

namespace {

constexpr size_t kMaxLibraryName = 253;  // longer names are never found (they could not form a path)
constexpr uint32_t kScriptOpenFlags = TextStream::Read | TextStream::EolCrLf | TextStream::EolLoneCr |
                                      TextStream::ShareRead | TextStream::ShareWrite;

enum class OpenResult : uint8_t { Failed, Skipped, Opened };
enum class AllowDuplicate : bool { No, Yes };
enum class IgnoreFailure : bool { No, Yes };

std::wstring CurrentDirectory() {
    std::wstring dir(kMaxPathChars, L'\0');
    DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(dir.size()), dir.data());
    dir.resize(n < dir.size() ? n : 0);
    return dir;
}

// Each #Include moves into the included file's folder and back. SetCurrentDirectoryW opens the folder
// each time (a round trip to the server under Wine), so a move to where we already are is skipped: a
// script of thousands of includes from one folder would otherwise spend most of its load time here.
void EnterDirectory(const std::wstring& dir) {
    if (CompareStringOrdinal(dir.c_str(), -1, CurrentDirectory().c_str(), -1, TRUE) != CSTR_EQUAL)
        SetCurrentDirectoryW(dir.c_str());
}

void SetWorkingDir(const std::wstring& dir) {
    if (SetCurrentDirectoryW(dir.c_str())) g_script.workingDir = dir;
}

// Restores the current directory and the load position when an include is done.
class IncludeScope {
public:
    IncludeScope() : m_dir(CurrentDirectory()), m_file(g_script.loadFileIndex), m_line(g_script.loadLineNumber) {}
    ~IncludeScope() {
        EnterDirectory(m_dir);
        g_script.loadFileIndex = m_file;
        g_script.loadLineNumber = m_line;
    }

private:
    std::wstring m_dir;
    uint16_t m_file;
    int32_t m_line;
};

std::wstring UpperCase(const Char* name) {
    std::wstring upper = name;
    CharUpperW(upper.data());
    return upper;
}

std::wstring FullPath(const Char* path) {
    std::wstring full(kMaxPathChars, L'\0');
    DWORD n = GetFullPathNameW(path, static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0 || n >= full.size()) return path;
    full.resize(n);
    return full;
}

Status IncludeFile(const Char* path, AllowDuplicate dup, IgnoreFailure ignore);

struct OpenedSource {
    std::unique_ptr<TextStream> stream;
    uint16_t fileIndex = 0;
};

OpenResult OpenSourceFile(const Char* path, bool isMain, AllowDuplicate dup, IgnoreFailure ignore, OpenedSource& out) {
    if (!*path) return OpenResult::Failed;
    if (SourceFileCount() >= kMaxSourceFiles) {
        static_cast<void>(ReportLoadErrorMsg(Msg::TooManyIncludes));
        return OpenResult::Failed;
    }
    std::wstring name;
    if (path[0] == L'*') name = isMain && path[1] == 0 ? std::wstring(L"*") : UpperCase(path);
    else name = isMain ? g_script.scriptFullPath : FullPath(path);
    if (!isMain && dup == AllowDuplicate::No && SourceFileKnown(name.c_str())) return OpenResult::Skipped;

    bool opened = false;
    HRSRC resource = path[0] == L'*' && path[1] ? FindResourceW(nullptr, path + 1, RT_RCDATA) : nullptr;
    if (resource) {
        // Embedded scripts are always UTF-8: the default code page is for files on disk.
        HGLOBAL loaded = LoadResource(nullptr, resource);
        const void* data = loaded ? LockResource(loaded) : nullptr;
        auto mem = std::make_unique<TextMem>();
        if (data && mem->Open(data, SizeofResource(nullptr, resource), false, kScriptOpenFlags, 65001)) {
            out.stream = std::move(mem);
            opened = true;
        }
    } else {
        auto file = std::make_unique<TextFile>();
        if (file->Open(path, kScriptOpenFlags, g_script.defaultCodePage)) {
            out.stream = std::move(file);
            opened = true;
        }
    }
    if (!opened) {
        if (ignore == IgnoreFailure::Yes) return OpenResult::Skipped;
        static_cast<void>(ReportLoadErrorF(nullptr, Msg::FileCannotBeOpened, isMain ? L"Script" : L"#Include", path));
        return OpenResult::Failed;
    }
    int32_t index = AddSourceFile(name.c_str());
    if (index < 0) return OpenResult::Failed;
    out.fileIndex = static_cast<uint16_t>(index);

    if (!isMain) {
        size_t slash = name.rfind(L'\\');
        if (slash != std::wstring::npos && slash > 0) EnterDirectory(name.substr(0, slash + (slash == 2 && name[1] == L':')));
        return OpenResult::Opened;
    }
    // The prelude and the /include file come before the main script's own lines.
    if (FindResourceW(nullptr, MAKEINTRESOURCEW(2), RT_RCDATA)) {
        IncludeScope scope;
        if (IncludeFile(L"*#2", AllowDuplicate::No, IgnoreFailure::No) != Status::Ok) return OpenResult::Failed;
    }
    if (g_script.hasExtraInclude) {
        IncludeScope scope;
        SetCurrentDirectoryW(g_script.initialWorkingDir.c_str());
        if (IncludeFile(g_script.extraInclude.c_str(), AllowDuplicate::No, IgnoreFailure::No) != Status::Ok)
            return OpenResult::Failed;
    }
    SetWorkingDir(g_script.scriptDir);
    return OpenResult::Opened;
}

Status ReadWholeFile(OpenedSource& src) {
    ScriptReader reader(*src.stream, src.fileIndex);
    Status status = reader.Run(IsInsideBlock());
    src.stream->Close();
    return status;
}

// Every nesting level holds an open reader with its buffers and several native frames; only a file that
// includes itself again nests this deep, and it should end at once rather than when memory runs out
// (the table's own limit of 65,535 files is far beyond what nesting can reach in this address space).
constexpr int kMaxIncludeDepth = 1000;
int s_includeDepth = 0;

Status IncludeFile(const Char* path, AllowDuplicate dup, IgnoreFailure ignore) {
    if (s_includeDepth >= kMaxIncludeDepth) return ReportLoadErrorMsg(Msg::TooManyIncludes);
    struct Depth {
        Depth() { ++s_includeDepth; }
        ~Depth() { --s_includeDepth; }
    } depth;
    OpenedSource src;
    switch (OpenSourceFile(path, false, dup, ignore, src)) {
        case OpenResult::Failed: return Status::Fail;
        case OpenResult::Skipped: return Status::Ok;
        case OpenResult::Opened: break;
    }
    return ReadWholeFile(src);
}

bool IsDirectory(const std::wstring& path) {
    DWORD attr = GetFileAttributesW(path.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsFile(const std::wstring& path) {
    DWORD attr = GetFileAttributesW(path.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

// %A_ScriptDir% and the like: built-in variables only; other text between percent signs stays as written.
std::wstring ExpandBuiltInVars(const std::wstring& text) {
    std::wstring out;
    size_t i = 0;
    while (i < text.size()) {
        size_t open = text.find(L'%', i);
        if (open == std::wstring::npos) break;
        size_t close = text.find(L'%', open + 1);
        if (close == std::wstring::npos) break;
        size_t n = close - open - 1;
        const Char* name = text.c_str() + open + 1;
        const BuiltInVarDef* def = nullptr;
        if (n >= 1 && n <= 253 && n > 2 && (name[0] == L'A' || name[0] == L'a') && name[1] == L'_')
            def = FindBuiltInVar(name + 2, n - 2);
        if (!def || !def->desc.getter) {
            out.append(text, i, close - i);
            i = close;
            continue;
        }
        Char scratch[kScratchChars];
        CallResult result(scratch);
        std::wstring varName(name, n);
        out.append(text, i, open - i);
        if (def->desc.getter(result, varName.c_str()) == Status::Ok) out += TokenToString(result.value, scratch);
        i = close + 1;
    }
    out.append(text, i, std::wstring::npos);
    return out;
}

std::vector<std::wstring> s_libraryDirs;
bool s_libraryDirsFormed = false;

Status LibraryInclude(const std::wstring& name, IgnoreFailure ignore, const std::wstring& directiveLine) {
    if (!s_libraryDirsFormed) {
        s_libraryDirsFormed = true;
        std::wstring candidates[3] = {g_script.scriptDir + L"\\Lib\\", std::wstring(), g_script.brmDir + L"\\Lib\\"};
        PWSTR documents = nullptr;
        if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Documents, KF_FLAG_DONT_VERIFY, nullptr, &documents)))
            candidates[1] = std::wstring(documents) + L"\\Brindlemar\\Lib\\";
        CoTaskMemFree(documents);
        for (auto& dir : candidates)
            if (!dir.empty() && IsDirectory(dir)) s_libraryDirs.push_back(dir);
    }
    IncludeScope scope;
    auto search = [&](const std::wstring& n) -> std::wstring {
        if (n.size() > kMaxLibraryName) return std::wstring();
        for (auto& dir : s_libraryDirs) {
            std::wstring path = dir + n + L".brm";
            if (IsFile(path)) return path;
        }
        return std::wstring();
    };
    std::wstring found = search(name);
    if (found.empty()) {
        size_t underscore = name.find(L'_');
        if (underscore != std::wstring::npos) found = search(name.substr(0, underscore));
    }
    if (found.empty()) {
        if (ignore == IgnoreFailure::Yes) return Status::Ok;
        return ReportLoadErrorMsg(Msg::LibraryNotFound, directiveLine.c_str());
    }
    return IncludeFile(found.c_str(), AllowDuplicate::No, IgnoreFailure::No);
}

}  // namespace

Status IncludeDirective(const Char* argument, bool again) {
    if (!argument || !*argument) return ReportLoadErrorMsg(Msg::Param1Required);
    std::wstring arg = argument;
    if (arg.size() >= 2 && (arg[0] == L'"' || arg[0] == L'\'') && arg.back() == arg[0]) arg = arg.substr(1, arg.size() - 2);
    if (arg.empty()) return ReportLoadErrorMsg(Msg::Param1Invalid);
    IgnoreFailure ignore = IgnoreFailure::No;
    if (arg.size() >= 3 && arg[0] == L'*' && (arg[1] == L'i' || arg[1] == L'I') && (arg[2] == L' ' || arg[2] == L'\t')) {
        ignore = IgnoreFailure::Yes;
        arg = arg.substr(3);
    }
    if (arg.size() >= 2 && arg[0] == L'<' && arg.find(L'>') == arg.size() - 1) {
        std::wstring directiveLine = again ? L"#IncludeAgain " : L"#Include ";
        directiveLine += argument;
        return LibraryInclude(arg.substr(1, arg.size() - 2), ignore, directiveLine);
    }
    arg = ExpandBuiltInVars(arg);
    if (arg[0] != L'*' && IsDirectory(arg)) {
        SetCurrentDirectoryW(arg.c_str());
        return Status::Ok;
    }
    IncludeScope scope;
    return IncludeFile(arg.c_str(), again ? AllowDuplicate::Yes : AllowDuplicate::No, ignore);
}

LoadResult LoadScript() {
    g_script.running = false;
    if (g_script.sourceKind == SourceKind::File &&
        GetFileAttributesW(g_script.scriptFullPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (g_script.errorStdOut) {
            ReportError(ErrorKind::Error, g_script.scriptFullPath.c_str(), 0, MessageText(Msg::ScriptFileNotFound));
        } else {
            std::wstring text = std::wstring(MessageText(Msg::ScriptFileNotFound)) + L"\n" + g_script.scriptFullPath;
            MessageBoxW(nullptr, text.c_str(), g_script.scriptName.c_str(), MB_ICONERROR);
        }
        return LoadResult::Failed;
    }
    const Char* mainName = g_script.sourceKind == SourceKind::StdIn     ? L"*"
                           : g_script.sourceKind == SourceKind::Resource ? g_script.scriptNameGiven.c_str()
                                                                          : g_script.scriptFullPath.c_str();
    OpenedSource src;
    if (OpenSourceFile(mainName, true, AllowDuplicate::No, IgnoreFailure::No, src) != OpenResult::Opened)
        return LoadResult::Failed;
    if (ReadWholeFile(src) != Status::Ok) return LoadResult::Failed;

    if (!SetDllDirectoryW(nullptr)) {
        static_cast<void>(ReportLoadErrorMsg(Msg::InternalCallFailed));
        return LoadResult::Failed;
    }
    if (CheckBaseClassesDefined() != Status::Ok) return LoadResult::Failed;
    if (CompileScript() != Status::Ok) return LoadResult::Failed;
    SetWorkingDir(g_script.scriptDir);
    if (AppendExitAndLink() != Status::Ok) return LoadResult::Failed;
    ArmClassHolders();
    g_script.loadFinished = true;
    return g_script.validateOnly ? LoadResult::ValidatedOnly : LoadResult::Loaded;
}

}  // namespace brm
