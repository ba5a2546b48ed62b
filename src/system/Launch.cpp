// The launch operation: a target is first tried as a command line for CreateProcessW and only then handed
// to the shell, which gets it split into file and parameters; a leading word may be a shell verb, and
// stored credentials send every launch through CreateProcessWithLogonW.
#include "system/Launch.h"
#include <shellapi.h>
#include <cwchar>
#include <string>
#include <vector>
#include "base/SortedTable.h"
#include "exec/ErrorReport.h"
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Evaluator.h"
#include "expr/Var.h"
#include "runtime/LineHistory.h"
#include "runtime/MessageLoop.h"
#include "runtime/PseudoThread.h"
#include "startup/ScriptHost.h"

namespace brm {

namespace {

// A longer target is refused rather than cut: a shortened command line would run something else.
constexpr size_t kMaxTarget = 16384;
// How much of the file and the parameters a failure message shows.
constexpr size_t kMaxShownChars = 400;
// The verb line of a failure message is at most this long.
constexpr size_t kMaxVerbLine = 128;
// The system's description of an error code, as the failure's extra text.
constexpr DWORD kMaxDescriptionChars = 512;

const Char* const kSystemVerbs[] = {L"find", L"explore", L"open", L"Edit", L"print", L"properties"};
const Char* const kProgramExtensions[] = {L".exe", L".bat", L".com", L".cmd", L".hta"};

// The credentials RunAs stored; while any is non-empty, launches that allow it run under them.
struct Credentials {
    std::wstring user, password, domain;
    bool Any() const { return !user.empty() || !password.empty() || !domain.empty(); }
    void Clear() {
        // The password does not linger in freed memory.
        if (!password.empty()) SecureZeroMemory(password.data(), password.size() * sizeof(Char));
        user.clear();
        password.clear();
        domain.clear();
    }
};
Credentials s_credentials;

bool SameFold(const Char* a, size_t aLength, const Char* b) { return CompareFoldAZ(a, aLength, b, wcslen(b)) == 0; }

bool IsSystemVerb(const Char* word, size_t length) {
    for (const Char* verb : kSystemVerbs)
        if (SameFold(word, length, verb)) return true;
    return false;
}

int ShowMode(const Char* options) {
    if (!options) return SW_SHOWNORMAL;
    size_t n = wcslen(options);
    if (SameFold(options, n, L"Min")) return SW_MINIMIZE;
    if (SameFold(options, n, L"Max")) return SW_MAXIMIZE;
    if (SameFold(options, n, L"Hide")) return SW_HIDE;
    return SW_SHOWNORMAL;
}

// RAII owner of a process handle.
class ProcessHandle {
public:
    explicit ProcessHandle(HANDLE h = nullptr) : m_h(h) {}
    ~ProcessHandle() { if (m_h) CloseHandle(m_h); }
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;
    HANDLE* Out() { return &m_h; }
    HANDLE Get() const { return m_h; }

private:
    HANDLE m_h;
};

// Splits a single target for the shell into the file and its parameters. An unquoted target is cut at
// the first space that ends a program name or an existing file's name, as seen from the working directory.
void SplitForShell(const std::wstring& target, const Char* workingDir, std::wstring& file, std::wstring& params,
                   bool& hasParams) {
    hasParams = false;
    if (target.size() > 1 && target[0] == L'"') {
        size_t close = target.find(L'"', 1);
        if (close != std::wstring::npos) {
            file = target.substr(1, close - 1);
            size_t rest = close + 1;
            if (rest < target.size() && target[rest] == L' ') ++rest;
            if (rest < target.size()) {
                params = target.substr(rest);
                hasParams = true;
            }
            return;
        }
    }
    bool moved = workingDir && *workingDir && SetCurrentDirectoryW(workingDir);
    file = target;
    for (size_t space = target.find(L' ', 1); space != std::wstring::npos; space = target.find(L' ', space + 1)) {
        size_t mark = space;
        while (mark-- > 0)
            if (target[mark] == L'\\' || target[mark] == L'/' || target[mark] == L'.') break;
        if (mark == static_cast<size_t>(-1) || target[mark] != L'.') continue;
        std::wstring candidate = target.substr(0, space);
        bool program = false;
        if (space - mark == 4)
            for (const Char* ext : kProgramExtensions)
                if (SameFold(target.c_str() + mark, 4, ext)) program = true;
        if (!program) {
            DWORD attributes = GetFileAttributesW(candidate.c_str());
            program = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
        }
        if (program) {
            file = candidate;
            params = target.substr(space + 1);
            hasParams = true;
            break;
        }
    }
    if (moved) SetCurrentDirectoryW(g_script.workingDir.c_str());
}

// Cut to `limit` characters, with "..." when there was more.
std::wstring Shown(const std::wstring& text, size_t limit, const Char*& ellipsis) {
    ellipsis = text.size() > limit ? L"..." : L"";
    return text.substr(0, limit);
}

Status RaiseLaunchFailure(bool runAsMode, const std::wstring& action, const std::wstring& verb,
                          const std::wstring& params, DWORD code) {
    const Char *actionMore, *paramsMore;
    std::wstring shownAction = Shown(action, kMaxShownChars, actionMore);
    std::wstring shownParams = Shown(params, kMaxShownChars, paramsMore);
    Char verbLine[kMaxVerbLine] = L"";
    if (!verb.empty()) FormatMessageText(verbLine, kMaxVerbLine, MessageText(Msg::LaunchVerb), verb.c_str());
    std::vector<Char> message(shownAction.size() + shownParams.size() + kMaxVerbLine + 128);
    FormatMessageText(message.data(), message.size(), MessageText(Msg::LaunchFailed),
                      MessageText(runAsMode ? Msg::LaunchFailedRunAsHeading : Msg::LaunchFailedHeading),
                      shownAction.c_str(), actionMore, verbLine, shownParams.c_str(), paramsMore);
    Char description[kMaxDescriptionChars] = L"";
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, description,
                             kMaxDescriptionChars, nullptr);
    // The system's text ends in a line break, which would only add an empty line to the report.
    while (n && (description[n - 1] == L'\n' || description[n - 1] == L'\r' || description[n - 1] == L' ')) --n;
    description[n < kMaxDescriptionChars ? n : kMaxDescriptionChars - 1] = 0;
    return RaiseError(ErrorClass::Error, message.data(), description);
}

}  // namespace

Status LaunchProgram(const LaunchRequest& request, HANDLE* process, DWORD* error) {
    if (process) *process = nullptr;
    if (error) *error = 0;
    const bool showErrors = request.flags & LaunchShowErrors;
    if (!request.target || !*request.target) return Status::Ok;

    const Char* workingDir = request.workingDir && *request.workingDir ? request.workingDir : nullptr;
    if (workingDir) {
        DWORD attributes = GetFileAttributesW(workingDir);
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            if (error) *error = ERROR_DIRECTORY;
            return showErrors ? RaiseMsg(ErrorClass::ValueError, Msg::Param2Invalid, workingDir) : Status::Fail;
        }
    }

    std::wstring target = request.target, verb;
    const bool separateParams = request.params != nullptr;
    std::wstring params = separateParams ? request.params : L"";
    bool hasVerb = false;
    if (separateParams) {
        if (IsSystemVerb(target.c_str(), target.size())) {
            hasVerb = true;
            verb = target;
            target = params;
            params.clear();
        }
    } else {
        size_t blank = target.find_first_of(L" \t");
        if (blank != std::wstring::npos) {
            if (target[0] == L'*') {
                hasVerb = true;
                verb = target.substr(1, blank - 1);
            } else if (IsSystemVerb(target.c_str(), blank)) {
                hasVerb = true;
                verb = target.substr(0, blank);
            }
            if (hasVerb) target = target.substr(blank + 1);
        }
    }
    const bool runAsMode = (request.flags & LaunchAllowRunAs) && s_credentials.Any();
    if ((hasVerb && runAsMode) || target.size() > kMaxTarget) {
        if (error) *error = ERROR_INVALID_PARAMETER;
        if (!showErrors) return Status::Fail;
        return RaiseMsg(ErrorClass::Error, hasVerb && runAsMode ? Msg::SystemVerbsRunAs : Msg::StringTooLong);
    }

    HANDLE launched = nullptr;
    DWORD code = 0;
    bool succeeded = false;
    std::wstring shownFile = target, shownParams = params;
    if (!hasVerb) {
        std::wstring commandLine = separateParams && !params.empty() ? L"\"" + target + L"\" " + params : target;
        std::vector<Char> writable(commandLine.begin(), commandLine.end());
        writable.push_back(0);  // CreateProcessW may write into the command line
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = static_cast<WORD>(ShowMode(request.options));
        PROCESS_INFORMATION info{};
        if (runAsMode) {
            SetLastError(0);
            succeeded = CreateProcessWithLogonW(s_credentials.user.c_str(), s_credentials.domain.c_str(),
                                                s_credentials.password.c_str(), LOGON_WITH_PROFILE, nullptr,
                                                writable.data(), 0, nullptr, workingDir, &startup, &info);
            // A failure the system gives no code for must not read as success in A_LastError.
            if (!succeeded) code = GetLastError() ? GetLastError() : ERROR_LOGON_FAILURE;
        } else {
            succeeded = CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, 0, nullptr, workingDir,
                                       &startup, &info);
        }
        if (succeeded) {
            CloseHandle(info.hThread);
            launched = info.hProcess;
        }
    }
    if (!succeeded && !runAsMode) {
        std::wstring file, shellParams;
        bool hasShellParams = separateParams;
        if (separateParams) {
            file = target;
            shellParams = params;
        } else {
            SplitForShell(target, workingDir, file, shellParams, hasShellParams);
        }
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
        if (SameFold(verb.c_str(), verb.size(), L"properties")) info.fMask |= SEE_MASK_INVOKEIDLIST;
        info.lpVerb = verb.empty() ? nullptr : verb.c_str();
        info.lpFile = file.c_str();
        info.lpParameters = hasShellParams && !shellParams.empty() ? shellParams.c_str() : nullptr;
        info.lpDirectory = workingDir;
        info.nShow = ShowMode(request.options);
        succeeded = ShellExecuteExW(&info);
        if (succeeded)
            launched = info.hProcess;
        else
            code = GetLastError() ? GetLastError() : ERROR_FILE_NOT_FOUND;
        shownFile = file;
        shownParams = shellParams;
    }

    if (succeeded) {
        if (process)
            *process = launched;
        else if (launched)
            CloseHandle(launched);
        if (request.flags & LaunchSetLastError) g_thread->lastError = 0;
        return Status::Ok;
    }
    if (error) *error = code;
    if (request.flags & LaunchSetLastError) g_thread->lastError = code;
    if (!showErrors) return Status::Fail;
    return RaiseLaunchFailure(runAsMode, runAsMode ? target : shownFile, verb, shownParams, code);
}

FResult BifRun(const Char* target, Opt<const Char*> workingDir, Opt<const Char*> options, Out<ValueRet> pid) {
    LaunchRequest request{target};
    request.workingDir = workingDir ? *workingDir : nullptr;
    request.options = options ? *options : nullptr;
    request.flags = LaunchShowErrors | LaunchSetLastError | LaunchAllowRunAs;
    HANDLE h = nullptr;
    if (LaunchProgram(request, &h) != Status::Ok) return FrFail;
    ProcessHandle owned(h);
    if (h) pid.ptr->result->value.SetInteger(static_cast<int64_t>(GetProcessId(h)));
    return FrOk;
}

void BifRunAs(Opt<const Char*> user, Opt<const Char*> password, Opt<const Char*> domain) {
    s_credentials.Clear();
    if (user) s_credentials.user = *user;
    if (password) s_credentials.password = *password;
    if (domain) s_credentials.domain = *domain;
}

Status BifRunWait(CallResult& result, ValueToken** params, int count) {
    Char scratch[3][kScratchChars];
    const Char* text[3] = {L"", L"", L""};
    for (int i = 0; i < 3 && i < count; ++i) {
        const ValueToken& t = *params[i];
        if (t.symbol == SymMissing || (t.symbol == SymVariable && t.var->IsUnset())) continue;
        if (TokenKind(t) == SymObject) return RaiseParamTypeError(i, L"String", t);
        text[i] = TokenToString(t, scratch[i]);
    }
    Var* pidVar = nullptr;
    if (count > 3 && params[3]->symbol != SymMissing) {
        pidVar = md::OutputVar(*params[3]);
        if (!pidVar) return md::RaiseOutputNeedsVar(3, *params[3]);
        BRM_TRY(pidVar->AssignString(L"", 0));
    }
    LaunchRequest request{text[0]};
    request.workingDir = text[1];
    request.options = text[2];
    request.flags = LaunchShowErrors | LaunchSetLastError | LaunchAllowRunAs;
    HANDLE h = nullptr;
    DWORD error = 0;
    BRM_TRY(LaunchProgram(request, &h, &error));
    // A failure the user chose to continue from yields "", as every continued error does.
    if (error) {
        result.value.SetString(L"", 0);
        return Status::Ok;
    }
    result.value.SetInteger(0);
    if (!h) return Status::Ok;
    ProcessHandle process(h);
    if (pidVar) BRM_TRY(pidVar->AssignInteger(static_cast<int64_t>(GetProcessId(h))));
    // Timers, hotkeys and window messages of this script keep running while the program runs; after a
    // thread ran meanwhile the lines view shows this line again, as the one still waiting.
    const ScriptLine* waiting = g_script.currentLine;
    const uint32_t waitStart = GetTickCount();
    while (WaitForSingleObject(h, 0) == WAIT_TIMEOUT) {
        if (!PumpMessages(kPumpUnspecified, PumpMode::Timed) || !waiting || !g_thread->settings.listLines) continue;
        const LineHistoryEntry& newest = g_lineHistory[(g_lineHistoryCount - 1) & (kLineHistorySlots - 1)];
        if (!(g_lineHistoryCount && newest.line == waiting && newest.tick == waitStart)) RecordLine(waiting, waitStart);
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(h, &exitCode);
    result.value.SetInteger(static_cast<int64_t>(static_cast<int32_t>(exitCode)));
    return Status::Ok;
}

}  // namespace brm
