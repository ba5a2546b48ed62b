// Error and warning reports, to standard error or in a dialog.
#include "exec/ErrorReport.h"
#include <string>
#include "startup/ScriptHost.h"
#include "startup/Version.h"
#include "system/TextStream.h"

namespace brm {

void WriteErrorLines(const Char* streamName, uint32_t codePage, const Char* fileName, int32_t line,
                     const Char* prefix, const Char* message, const Char* extra) {
    std::wstring text = fileName ? fileName : L"";
    text += L" (" + std::to_wstring(line) + L") : ==> " + prefix + (message ? message : L"") + L"\n";
    if (extra && *extra) text += std::wstring(L"     Specifically: ") + extra + L"\n";
    TextFile out;
    if (!out.Open(streamName, TextStream::Write, codePage)) return;
    out.WriteText(text.c_str(), static_cast<uint32_t>(text.size()));
    out.Flush();
}

ErrorChoice ReportError(ErrorKind kind, const Char* fileName, int32_t line, const Char* message,
                        const Char* extra) {
    if (!fileName) fileName = g_script.scriptFullPath.c_str();
    if (g_script.errorStdOut && kind != ErrorKind::Warning) {
        WriteErrorLines(L"**", g_script.errorStdOutCodePage, fileName, line, L"", message, extra);
        return ErrorChoice::Abort;
    }
    // The full error dialog arrives with error objects; until then a plain message box carries the same text.
    const Char* heading = kind == ErrorKind::Warning ? L"Warning" : kind == ErrorKind::Critical ? L"Critical Error" : L"Error";
    std::wstring text = std::wstring(heading) + L": " + (message ? message : L"Unk") + L"\n\n";
    if (extra && *extra) text += std::wstring(L"Specifically: ") + extra + L"\n\n";
    text += L"Line:\t" + std::to_wstring(line) + L"\nFile:\t" + fileName + L"\n\n";
    if (kind == ErrorKind::Critical)
        text += L"The program is now unstable and will exit.";
    else if (kind == ErrorKind::Error)
        text += g_script.loadFinished ? L"The current thread will exit." : L"The program will exit.";
    const Char* title = g_script.scriptNameOverridden ? g_script.scriptNameOverride.c_str()
                        : !g_script.scriptName.empty() ? g_script.scriptName.c_str() : kVersionBanner;
    UINT buttons = kind == ErrorKind::Continuable ? MB_OKCANCEL : MB_OK;
    int answer = MessageBoxW(nullptr, text.c_str(), title, buttons | MB_ICONERROR | MB_SETFOREGROUND);
    return kind == ErrorKind::Continuable && answer == IDOK ? ErrorChoice::Continue : ErrorChoice::Abort;
}

}  // namespace brm
