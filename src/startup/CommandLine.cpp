// Command-line switches and script naming.
#include "startup/CommandLine.h"
#include "expr/Conversions.h"
#include "startup/ScriptHost.h"
#include "startup/TruePath.h"
#include "startup/Version.h"
#include "system/Encoding.h"

namespace brm {

std::vector<std::wstring> g_scriptArgs;

namespace {

bool HasMainResource() { return FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(10)) != nullptr; }  // RT_RCDATA

bool SwitchIs(const wchar_t* arg, const wchar_t* name) { return _wcsicmp(arg, name) == 0; }

}  // namespace

Status ParseCommandLine(int argc, wchar_t** argv) {
    // A program carrying its own main script runs it unless /script says otherwise.
    const wchar_t* scriptName = HasMainResource() ? L"*#1" : nullptr;
    int i = 1;
    for (; i < argc; ++i) {
        const wchar_t* arg = argv[i];
        if (SwitchIs(arg, L"/restart")) {
            g_script.restart = true;
        } else if (SwitchIs(arg, L"/force")) {
            g_script.force = true;
        } else if (SwitchIs(arg, L"/script")) {
            scriptName = nullptr;
        } else if (scriptName) {
            break;  // this and all after it are the script's arguments
        } else if (_wcsnicmp(arg, L"/ErrorStdOut", 12) == 0 && (arg[12] == L'\0' || arg[12] == L'=')) {
            uint32_t codePage = 0;
            g_script.errorStdOut = ParseEncodingName(arg[12] ? arg + 13 : L"", codePage);
            g_script.errorStdOutCodePage = codePage;
        } else if (SwitchIs(arg, L"/include")) {
            if (i + 1 >= argc || g_script.hasExtraInclude) return Status::Fail;
            g_script.hasExtraInclude = true;
            g_script.extraInclude = argv[++i];
        } else if (SwitchIs(arg, L"/validate")) {
            g_script.validateOnly = true;
        } else if (SwitchIs(arg, L"/iLib")) {
            if (i + 1 >= argc) return Status::Fail;
            g_script.validateOnly = true;
            ++i;
        } else if (_wcsnicmp(arg, L"/CP", 3) == 0) {
            const wchar_t* end;
            g_script.defaultCodePage = static_cast<uint32_t>(ParseIntPrefix(arg + 3, &end));
        } else {
            scriptName = arg;
            ++i;
            break;
        }
    }
    for (; i < argc; ++i) g_scriptArgs.emplace_back(argv[i]);
    return NameScript(scriptName);
}

Status NameScript(const wchar_t* scriptName) {
    std::vector<wchar_t> buf(kMaxPathChars);
    DWORD len = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (len == 0 || len >= buf.size()) return Status::Fail;
    g_script.brmPath = TruePathCase(std::wstring(buf.data(), len));
    size_t slash = g_script.brmPath.rfind(L'\\');
    g_script.brmDir = slash == std::wstring::npos ? std::wstring() : g_script.brmPath.substr(0, slash);

    std::wstring working;
    if (!scriptName) {
        // The default script is the program's own path with ".brm" in place of its extension.
        const std::wstring& self = g_script.brmPath;
        size_t lastSlash = self.rfind(L'\\');
        size_t dot = self.rfind(L'.');
        if (lastSlash == std::wstring::npos || dot == std::wstring::npos || dot < lastSlash) return Status::Fail;
        working = self.substr(0, dot) + L".brm";
        if (working.size() >= kMaxPathChars) return Status::Fail;
        g_script.sourceKind = SourceKind::File;
    } else if (scriptName[0] == L'*') {
        if (scriptName[1]) {
            g_script.sourceKind = SourceKind::Resource;
            g_script.allowMainWindow = false;
            working = g_script.brmPath;
        } else {
            g_script.sourceKind = SourceKind::StdIn;
            g_script.singleInstance = SingleInstanceMode::Off;
            working = L"*";
        }
        g_script.scriptNameGiven = scriptName;
    } else {
        g_script.sourceKind = SourceKind::File;
        DWORD n = GetFullPathNameW(scriptName, static_cast<DWORD>(buf.size()), buf.data(), nullptr);
        if (n == 0 || n >= buf.size()) return Status::Fail;
        working = TruePathCase(std::wstring(buf.data(), n));
    }

    g_script.scriptFullPath = working;
    size_t sep = working.rfind(L'\\');
    if (sep == std::wstring::npos) {
        g_script.scriptDir = g_script.initialWorkingDir;
        g_script.scriptName = working;
    } else {
        g_script.scriptDir = working.substr(0, sep);
        g_script.scriptName = working.substr(sep + 1);
    }

    if (scriptName && wcscmp(scriptName, L"*#1") == 0)
        g_script.mainWindowTitle = working;
    else if (g_script.sourceKind == SourceKind::Resource)
        g_script.mainWindowTitle = working + L" - " + scriptName;
    else
        g_script.mainWindowTitle = working + L" - " + kVersionBanner;
    return Status::Ok;
}

}  // namespace brm
