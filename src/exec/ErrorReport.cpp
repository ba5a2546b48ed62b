// Error and warning reports: to standard error with /ErrorStdOut, else the error dialog. The dialog is
// built from an in-memory template so that both programs carry it without a resource of their own.
#include "exec/ErrorReport.h"
#include <richedit.h>
#include <string>
#include <vector>
#include "base/Messages.h"
#include "base/SortedTable.h"
#include "loader/LineParser.h"
#include "loader/ScriptLine.h"
#include "loader/SourceFiles.h"
#include "runtime/PseudoThread.h"
#include "startup/Exit.h"
#include "startup/MainWindow.h"
#include "startup/ScriptHost.h"
#include "startup/Version.h"
#include "system/TextStream.h"

namespace brm {

namespace {

// Dialog units of the layout, and the limits of what the report quotes.
constexpr short kDialogWidth = 380, kDialogHeight = 176;
constexpr short kTextHeight = 148;
constexpr short kButtonY = 155, kButtonWidth = 50, kButtonHeight = 14;
constexpr int kTextInset = 7;             // formatting rectangle inset, dialog units
constexpr int kMaxHeadingChars = 500;     // a longer message is cut in the heading
constexpr int kMaxExtraChars = 80;        // a longer extra text is cut and followed by an ellipsis
constexpr int kLinesAround = 2;           // lines listed before and after the failing line
constexpr LONG kTabStopTwips = 300;
constexpr LONG kDefaultTwips = 9 * 20, kHeadingTwips = 10 * 20;
constexpr COLORREF kHeadingColour = RGB(153, 51, 0);
constexpr COLORREF kHighlightColour = RGB(255, 255, 96);
constexpr Char kEllipsis = 0x2026, kMarker = 0x25B6;

// The buttons that run standard commands carry the menu bar's ids for them.
constexpr bool SameId(ErrorDialogId button, MenuCommandId command) {
    return static_cast<int>(button) == static_cast<int>(command);
}
static_assert(SameId(kErrorHelpId, kMenuUserManual) && SameId(kErrorEditId, kMenuEditScript) &&
              SameId(kErrorReloadId, kMenuReload) && SameId(kErrorExitAppId, kMenuExit));

struct DialogState {
    ErrorKind kind;
    const ScriptLine* line;
    std::wstring fileName;  // the failing line's file, or the file named by the caller
    int32_t lineNumber;
    const Char* message;
    const Char* extra;
    int initialHeight = 0;  // the text area's height in pixels as the template made it
};

// A DLGTEMPLATE with its items, written word by word.
class TemplateWriter {
public:
    void Word(WORD w) { m_words.push_back(w); }
    void DoubleWord(DWORD d) { Word(LOWORD(d)); Word(HIWORD(d)); }
    void Text(const Char* s) {
        for (; *s; ++s) Word(static_cast<WORD>(*s));
        Word(0);
    }
    void AlignDoubleWord() {
        if (m_words.size() % 2) Word(0);
    }
    void Item(DWORD style, short x, short y, short cx, short cy, WORD id, const Char* cls, WORD atom,
              const Char* text) {
        AlignDoubleWord();
        DoubleWord(style | WS_CHILD);
        DoubleWord(0);
        Word(static_cast<WORD>(x)); Word(static_cast<WORD>(y)); Word(static_cast<WORD>(cx)); Word(static_cast<WORD>(cy));
        Word(id);
        if (cls) {
            Text(cls);
        } else {
            Word(0xFFFF);
            Word(atom);
        }
        Text(text);
        Word(0);  // no creation data
    }
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(m_words.data()); }

private:
    std::vector<WORD> m_words;
};

constexpr WORD kButtonAtom = 0x0080;

void BuildTemplate(TemplateWriter& t) {
    t.DoubleWord(DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    t.DoubleWord(0);
    t.Word(7);  // items
    t.Word(0); t.Word(0); t.Word(kDialogWidth); t.Word(kDialogHeight);
    t.Word(0);  // no menu
    t.Word(0);  // the standard dialog class
    t.Text(MessageText(Msg::HeadingError));
    t.Word(8);
    t.Text(L"Segoe UI");
    t.Item(WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL,
           0, 0, kDialogWidth, kTextHeight, kErrorTextId, L"RICHEDIT50W", 0, L"");
    struct ButtonRow { short x; WORD id; Msg text; DWORD style; };
    const ButtonRow buttons[] = {
        {10, kErrorHelpId, Msg::ButtonHelp, BS_PUSHBUTTON},
        {66, kErrorEditId, Msg::ButtonEdit, BS_PUSHBUTTON},
        {122, kErrorReloadId, Msg::ButtonReload, BS_PUSHBUTTON},
        {178, kErrorExitAppId, Msg::ButtonExitApp, BS_PUSHBUTTON},
        {263, kErrorContinueId, Msg::ButtonContinue, BS_PUSHBUTTON},
        {319, kErrorAbortId, Msg::ButtonAbort, BS_DEFPUSHBUTTON},
    };
    for (const ButtonRow& b : buttons)
        t.Item(WS_VISIBLE | WS_TABSTOP | b.style, b.x, kButtonY, kButtonWidth, kButtonHeight, b.id, nullptr,
               kButtonAtom, MessageText(b.text));
}

// Appends text to the rich edit at its end in the given format.
void AppendText(HWND edit, const std::wstring& text, const CHARFORMAT2W* format = nullptr) {
    SendMessageW(edit, EM_SETSEL, static_cast<WPARAM>(-1), -1);
    if (format) SendMessageW(edit, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(format));
    SendMessageW(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

CHARFORMAT2W Format(DWORD mask, DWORD effects, LONG height = kDefaultTwips, COLORREF colour = 0) {
    CHARFORMAT2W f{};
    f.cbSize = sizeof(f);
    f.dwMask = mask | CFM_SIZE | CFM_COLOR | CFM_BACKCOLOR | CFM_LINK | CFM_BOLD;
    f.dwEffects = effects | CFE_AUTOBACKCOLOR;
    f.yHeight = height;
    f.crTextColor = colour;
    return f;
}

std::wstring Truncated(const Char* text, size_t limit, bool ellipsis) {
    size_t n = wcslen(text);
    std::wstring s(text, n < limit ? n : limit);
    if (ellipsis && n > limit) s += kEllipsis;
    return s;
}

const Char* ContinuationText(ErrorKind kind) {
    switch (kind) {
    case ErrorKind::Critical: return MessageText(Msg::ContinueUnstable);
    case ErrorKind::Warning: return MessageText(Msg::ContinueWarnDocs);
    case ErrorKind::Continuable: return nullptr;
    case ErrorKind::Error: break;
    }
    if (g_thread && (g_thread->errorMode & ErrorModeInDelete)) return MessageText(Msg::ContinueDeleteReturns);
    if (g_script.loadFinished) return MessageText(Msg::ContinueThreadExits);
    // A load failure of an instance started by a reload leaves the instance that started it running.
    if (g_script.restart) return MessageText(Msg::ContinueNotReloaded);
    return MessageText(Msg::ContinueProgramExits);
}

const Char* HeadingText(ErrorKind kind) {
    switch (kind) {
    case ErrorKind::Warning: return MessageText(Msg::HeadingWarning);
    case ErrorKind::Critical: return MessageText(Msg::HeadingCritical);
    default: return MessageText(Msg::HeadingError);
    }
}

void FillReport(HWND edit, const DialogState& s) {
    CHARFORMAT2W plain = Format(0, 0);
    SendMessageW(edit, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&plain));
    PARAFORMAT2 para{};
    para.cbSize = sizeof(para);
    para.dwMask = PFM_TABSTOPS;
    para.cTabCount = 1;
    para.rgxTabs[0] = kTabStopTwips;
    SendMessageW(edit, EM_SETPARAFORMAT, 0, reinterpret_cast<LPARAM>(&para));

    CHARFORMAT2W heading = Format(0, 0, kHeadingTwips, kHeadingColour);
    AppendText(edit, std::wstring(HeadingText(s.kind)) + L": " + Truncated(s.message, kMaxHeadingChars, false) +
                         L"\n\n", &heading);
    if (s.extra && *s.extra) {
        std::wstring extra = Truncated(s.extra, kMaxExtraChars, true);
        AppendText(edit, s.line ? L"Specifically: " + extra + L"\n\n" : L"Text:\t" + extra + L"\n", &plain);
    }
    if (s.line) {
        const ScriptLine* first = s.line;
        int before = g_script.allowMainWindow ? kLinesAround : 0;
        for (int i = 0; i < before && first->prevLine; ++i) first = first->prevLine;
        const ScriptLine* last = s.line;
        for (int i = 0; i < before && last->nextLine; ++i) last = last->nextLine;
        CHARFORMAT2W highlight = Format(0, 0);
        highlight.dwEffects &= ~CFE_AUTOBACKCOLOR;
        highlight.crBackColor = kHighlightColour;
        int previousFile = -1;
        for (const ScriptLine* l = first;; l = l->nextLine) {
            if (l->fileIndex != previousFile) {
                AppendText(edit, std::wstring(L"\t---- ") + SourceFileName(l->fileIndex) + L"\n", &plain);
                previousFile = l->fileIndex;
            }
            std::wstring text;
            AppendLineListing(text, l);
            if (l == s.line) {
                AppendText(edit, std::wstring(1, kMarker) + L"\t", &plain);
                AppendText(edit, text, &highlight);
                AppendText(edit, L"\n", &plain);
            } else {
                AppendText(edit, L"\t" + text + L"\n", &plain);
            }
            if (l == last) break;
        }
    } else {
        AppendText(edit, L"Line:\t" + std::to_wstring(s.lineNumber) + L"\nFile:\t", &plain);
        CHARFORMAT2W link = Format(0, CFE_LINK);
        AppendText(edit, s.fileName, &link);
        AppendText(edit, L"\n\n", &plain);
    }
    if (const Char* cont = ContinuationText(s.kind)) AppendText(edit, (s.line ? L"\n" : L"") + std::wstring(cont), &plain);
    SendMessageW(edit, EM_SETSEL, 0, 0);
}

void ArrangeButtons(HWND dlg, ErrorKind kind) {
    HWND cont = GetDlgItem(dlg, kErrorContinueId), abort = GetDlgItem(dlg, kErrorAbortId);
    if (kind == ErrorKind::Warning) {
        RECT r;
        GetWindowRect(abort, &r);
        MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
        ShowWindow(abort, SW_HIDE);
        SetWindowPos(cont, nullptr, r.left, r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        SendMessageW(abort, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
        SendMessageW(cont, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
        SendMessageW(dlg, DM_SETDEFID, kErrorContinueId, 0);
        SetFocus(cont);
    } else {
        if (kind != ErrorKind::Continuable) ShowWindow(cont, SW_HIDE);
        SetFocus(abort);
    }
}

void Resize(HWND dlg, const REQRESIZE& req, int initialHeight) {
    HWND edit = GetDlgItem(dlg, kErrorTextId);
    RECT er;
    GetWindowRect(edit, &er);
    int width = er.right - er.left, height = er.bottom - er.top;
    RECT inset = {kTextInset, kTextInset, kTextInset, kTextInset};
    MapDialogRect(dlg, &inset);
    int wanted = (req.rc.bottom - req.rc.top) + inset.top * 2 + GetSystemMetrics(SM_CYEDGE) * 2;
    if (req.rc.right - req.rc.left > width - inset.left * 2) {
        ShowScrollBar(edit, SB_HORZ, TRUE);
        wanted += GetSystemMetrics(SM_CYHSCROLL);
    }
    if (wanted < initialHeight) wanted = initialHeight;
    RECT dr;
    GetWindowRect(dlg, &dr);
    int limit = GetSystemMetrics(SM_CYSCREEN) * 3 / 4 - ((dr.bottom - dr.top) - height);
    if (wanted > limit) wanted = limit;
    int growth = wanted - height;
    if (growth == 0) return;
    SetWindowPos(edit, nullptr, 0, 0, width, wanted, SWP_NOMOVE | SWP_NOZORDER);
    for (HWND child = GetWindow(edit, GW_HWNDFIRST); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (child == edit) continue;
        RECT cr;
        GetWindowRect(child, &cr);
        MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&cr), 2);
        SetWindowPos(child, nullptr, cr.left, cr.top + growth, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
    SetWindowPos(dlg, nullptr, dr.left, dr.top - growth / 2, dr.right - dr.left, dr.bottom - dr.top + growth,
                 SWP_NOZORDER);
}

INT_PTR CALLBACK DialogProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* s = reinterpret_cast<DialogState*>(GetWindowLongPtrW(dlg, DWLP_USER));
    switch (msg) {
    case WM_INITDIALOG: {
        s = reinterpret_cast<DialogState*>(lParam);
        SetWindowLongPtrW(dlg, DWLP_USER, lParam);
        const Char* title = g_script.scriptNameOverridden ? g_script.scriptNameOverride.c_str()
                            : !g_script.scriptName.empty() ? g_script.scriptName.c_str() : kVersionBanner;
        SetWindowTextW(dlg, title);
        HWND edit = GetDlgItem(dlg, kErrorTextId);
        RECT client;
        GetClientRect(edit, &client);
        s->initialHeight = client.bottom;
        RECT inset = {kTextInset, kTextInset, kTextInset, kTextInset};
        MapDialogRect(dlg, &inset);
        RECT area = {client.left + inset.left, client.top + inset.top, client.right - inset.right,
                     client.bottom - inset.bottom};
        SendMessageW(edit, EM_SETRECT, 0, reinterpret_cast<LPARAM>(&area));
        ShowScrollBar(edit, SB_HORZ, FALSE);
        FillReport(edit, *s);
        SendMessageW(edit, EM_SETEVENTMASK, 0, ENM_LINK | ENM_REQUESTRESIZE | ENM_KEYEVENTS);
        bool embedded = s->fileName.starts_with(L"*") || (!s->line && g_script.sourceKind == SourceKind::Resource);
        if (embedded) EnableWindow(GetDlgItem(dlg, kErrorEditId), FALSE);
        ArrangeButtons(dlg, s->kind);
        SendMessageW(edit, EM_REQUESTRESIZE, 0, 0);
        return FALSE;  // the focus was set above
    }
    case WM_NOTIFY: {
        auto* hdr = reinterpret_cast<NMHDR*>(lParam);
        if (!s || hdr->idFrom != kErrorTextId) break;
        if (hdr->code == EN_REQUESTRESIZE) {
            Resize(dlg, *reinterpret_cast<REQRESIZE*>(lParam), s->initialHeight);
            return TRUE;
        }
        if (hdr->code == EN_LINK) {
            auto* link = reinterpret_cast<ENLINK*>(lParam);
            if (link->msg != WM_LBUTTONUP) break;
            EditSourceFile(s->fileName);
            PostMessageW(dlg, WM_NEXTDLGCTL, 0, FALSE);
            return TRUE;
        }
        if (hdr->code == EN_MSGFILTER) {
            auto* filter = reinterpret_cast<MSGFILTER*>(lParam);
            if (filter->msg == WM_CHAR) {
                SendMessageW(GetDlgItem(dlg, kErrorAbortId), WM_CHAR, filter->wParam, filter->lParam);
                SetWindowLongPtrW(dlg, DWLP_MSGRESULT, 1);
                return TRUE;
            }
        }
        break;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case kErrorAbortId:
        case kErrorContinueId:
            EndDialog(dlg, LOWORD(wParam));
            return TRUE;
        case kErrorEditId:
            if (s && s->line) EditSourceFile(s->fileName);
            else RunMenuCommand(kErrorEditId);
            return TRUE;
        case kErrorHelpId:
        case kErrorExitAppId:
            // Exit returns only when an OnExit callback cancelled it: the dialog then stays.
            RunMenuCommand(LOWORD(wParam));
            return TRUE;
        case kErrorReloadId:
            RunMenuCommand(kErrorReloadId);
            EndDialog(dlg, kErrorAbortId);
            return TRUE;
        }
        break;
    case WM_CLOSE:
        EndDialog(dlg, kErrorAbortId);
        return TRUE;
    }
    return FALSE;
}

ErrorChoice ShowDialog(DialogState& state) {
    static HMODULE s_richEdit = LoadLibraryW(L"msftedit.dll");  // loaded once, kept for the process
    TemplateWriter t;
    BuildTemplate(t);
    INT_PTR result = s_richEdit ? DialogBoxIndirectParamW(GetModuleHandleW(nullptr), t.Get(), nullptr, DialogProc,
                                                          reinterpret_cast<LPARAM>(&state))
                                : -1;
    if (result == -1 || result == 0) {
        MessageBoxW(nullptr, state.message, HeadingText(state.kind), MB_TOPMOST | MB_ICONERROR | MB_SETFOREGROUND);
        return ErrorChoice::Abort;
    }
    return result == kErrorContinueId && state.kind != ErrorKind::Error && state.kind != ErrorKind::Critical
               ? ErrorChoice::Continue
               : ErrorChoice::Abort;
}

}  // namespace

namespace {

// An argument as source text: the control characters its escapes stood for are shown as escapes again.
void AppendArgText(std::wstring& out, const ArgRecord& arg) {
    for (uint32_t i = 0; i < arg.length; ++i) {
        switch (Char c = arg.text[i]) {
        case L'\n': out += L"`n"; break;
        case L'\r': out += L"`r"; break;
        case L'\t': out += L"`t"; break;
        default: out += c; break;
        }
    }
}

}  // namespace

void AppendLineListing(std::wstring& out, const ScriptLine* line) {
    std::wstring number = std::to_wstring(static_cast<unsigned>(line->lineNumber));
    if (number.size() < 3) number.insert(0, 3 - number.size(), L'0');
    out += number + L": ";
    const Char* word = ActionWord(line->action);
    switch (line->action) {
    case LineAction::Assign:
        if (line->argCount == 2) {
            AppendArgText(out, line->args[0]);
            out += L" := ";
            AppendArgText(out, line->args[1]);
            return;
        }
        break;
    case LineAction::Expression:
        if (line->argCount) {
            AppendArgText(out, line->args[0]);
            return;
        }
        break;
    default: break;
    }
    out += word;
    for (int i = 0; i < line->argCount; ++i) {
        out += i ? L", " : L" ";
        AppendArgText(out, line->args[i]);
    }
}

const ScriptLine* FindScriptLine(const Char* fileName, int32_t lineNumber) {
    if (!fileName) return nullptr;
    for (const ScriptLine* l = g_script.firstLine; l; l = l->nextLine)
        if (l->lineNumber == lineNumber && CompareFoldAZ(SourceFileName(l->fileIndex), fileName) == 0) return l;
    return nullptr;
}

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

ErrorChoice ReportErrorAtLine(ErrorKind kind, const ScriptLine* line, const Char* fileName, int32_t lineNumber,
                              const Char* message, const Char* extra) {
    if (line) {
        fileName = SourceFileName(line->fileIndex);
        lineNumber = line->lineNumber;
    }
    if (!fileName) fileName = g_script.scriptFullPath.c_str();
    if (!message) message = MessageText(Msg::UnknownMessage);
    if (g_script.errorStdOut) {
        // A console user asked for text: no dialog appears unasked, warnings included.
        WriteErrorLines(L"**", g_script.errorStdOutCodePage, fileName, lineNumber,
                        kind == ErrorKind::Warning ? L"Warning: " : L"", message, extra);
        return kind == ErrorKind::Warning ? ErrorChoice::Continue : ErrorChoice::Abort;
    }
    DialogState state{kind, line, fileName, lineNumber, message, extra};
    ErrorChoice choice = ShowDialog(state);
    // Abort on a warning while loading: the script is not started.
    if (kind == ErrorKind::Warning && choice == ErrorChoice::Abort && !g_script.loadFinished &&
        !g_script.exitInProgress)
        ExitWithReason(ExitReason::Exit, 2);
    return choice;
}

ErrorChoice ReportError(ErrorKind kind, const Char* fileName, int32_t line, const Char* message,
                        const Char* extra) {
    if (!fileName) fileName = g_script.scriptFullPath.c_str();
    return ReportErrorAtLine(kind, FindScriptLine(fileName, line), fileName, line, message, extra);
}

}  // namespace brm
