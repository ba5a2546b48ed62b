// The main window's text pane and its views. The texts are built only when a view is shown: the executor's
// side of the lines view is the ring of runtime/LineHistory, which stores a line pointer and a tick.
#include "startup/MainViews.h"
#include <cstdint>
#include <string>
#include "base/Messages.h"
#include "exec/GlobalVars.h"
#include "expr/Conversions.h"
#include "expr/Var.h"
#include "loader/ScriptLine.h"
#include "loader/SourceFiles.h"
#include "objects/Func.h"
#include "objects/IObject.h"
#include "objects/MdFunc.h"
#include "runtime/LineHistory.h"
#include "runtime/PseudoThread.h"
#include "runtime/ScriptTimer.h"
#include "startup/MainWindow.h"
#include "startup/ScriptHost.h"

namespace brm {

namespace {

constexpr int kPaneId = 1;
constexpr int kPanePoints = 10;
// An edit control's text is kept within what every version of the control shows without truncating.
constexpr size_t kMaxViewChars = 65534;
// When the lines view is too long, this many of its oldest entries go at a time.
constexpr uint32_t kLinesDroppedAtOnce = 100;
constexpr size_t kStringShownChars = 60;   // of a string variable's value
constexpr int kWindowTitleChars = 100;     // of the foreground window's title
constexpr size_t kTimerNamesChars = 125;   // of the enabled timers' names

class FontOwner {
public:
    FontOwner() = default;
    FontOwner(const FontOwner&) = delete;
    FontOwner& operator=(const FontOwner&) = delete;
    ~FontOwner() { Reset(nullptr); }
    void Reset(HFONT font) {
        if (m_font) DeleteObject(m_font);
        m_font = font;
    }
    HFONT Get() const { return m_font; }

private:
    HFONT m_font = nullptr;
};

HWND s_pane = nullptr;
FontOwner s_paneFont;
MainView s_lastView = MainView::Last;  // none shown yet

const Char* const kStatementWords[] = {
#define BRM_LA_WORD(code, name, word, minArgs, maxArgs) word,
    BRM_LINE_ACTIONS(BRM_LA_WORD)
#undef BRM_LA_WORD
};

void Append(std::wstring& out, const Char* text) { out += text; }

void AppendFormatted(std::wstring& out, Msg id, ...) {
    Char buffer[1024];
    va_list args;
    va_start(args, id);
    size_t n = FormatMessageTextV(buffer, 1024, MessageText(id), args);
    va_end(args);
    out.append(buffer, n);
}

void AppendPadded(std::wstring& out, uint32_t value, int width) {
    std::wstring digits = std::to_wstring(value);
    if (digits.size() < static_cast<size_t>(width)) out.append(static_cast<size_t>(width) - digits.size(), L'0');
    out += digits;
}

// Milliseconds as seconds with two decimals; empty when that shows as 0.
std::wstring Seconds(uint32_t ms) {
    uint32_t hundredths = ms / 10 + (ms % 10 >= 5 ? 1 : 0);
    std::wstring s = std::to_wstring(hundredths / 100) + L".";
    AppendPadded(s, hundredths % 100, 2);
    return s;
}

// A plain string literal was reduced to its text when the line was compiled; it is shown in quotes again.
void AppendArg(std::wstring& out, const ArgRecord& arg) {
    bool literal = !arg.isExpression && arg.postfix;
    if (literal) out += L'"';
    out.append(arg.text, arg.length);
    if (literal) out += L'"';
}

void AppendLineText(std::wstring& out, const ScriptLine& line) {
    switch (line.action) {
    case LineAction::Case:
        if (!line.argCount) {
            out += L"Default:";
        } else {
            out += L"Case ";
            AppendArg(out, line.args[0]);
            out += L':';
        }
        return;
    case LineAction::Assign:
        AppendArg(out, line.args[0]);
        out += L" := ";
        AppendArg(out, line.args[1]);
        return;
    case LineAction::Expression:
        if (line.argCount) AppendArg(out, line.args[0]);
        return;
    default:
        break;
    }
    out += kStatementWords[static_cast<int>(line.action)];
    for (int i = 0; i < line.argCount; ++i) {
        if (i == 0) out += L' ';
        else if (line.action == LineAction::For && i == line.argCount - 1) out += L" in ";
        else out += L", ";
        AppendArg(out, line.args[i]);
    }
}

// skip: how many of the oldest entries to leave out. waiting: the newest line's thread is still in it (the
// view is built while a thread waits), so its time so far is shown in front instead of behind.
std::wstring BuildLinesText(uint32_t skip, bool waiting) {
    LineHistoryEntry entries[kLineHistorySize];
    uint32_t count = 0;
    const uint32_t newest = g_lineHistoryCount;
    for (uint32_t i = newest - kLineHistorySize; i != newest; ++i) {
        const LineHistoryEntry& e = g_lineHistory[i & (kLineHistorySlots - 1)];
        if (e.line) entries[count++] = e;
    }
    std::wstring out = MessageText(Msg::ViewLinesHeader);
    const uint32_t now = GetTickCount();
    int32_t file = -1;
    for (uint32_t i = skip; i < count; ++i) {
        const ScriptLine& line = *entries[i].line;
        if (line.fileIndex != file) {
            file = line.fileIndex;
            AppendFormatted(out, Msg::ViewFileChange, SourceFileName(line.fileIndex));
        }
        const bool last = i + 1 == count;
        const uint32_t elapsed = (last ? now : entries[i + 1].tick) - entries[i].tick;
        if (last && waiting) AppendFormatted(out, Msg::ViewStillWaiting, Seconds(elapsed).c_str());
        AppendPadded(out, static_cast<uint32_t>(line.lineNumber), 3);
        out += L": ";
        AppendLineText(out, line);
        if (!(last && waiting) && elapsed >= 5) out += L" (" + Seconds(elapsed) + L")";
        out += L"\r\n";
    }
    Append(out, MessageText(Msg::ViewLinesFooter));
    return out;
}

std::wstring LinesText(bool waiting) {
    std::wstring text;
    for (uint32_t skip = 0;; skip += kLinesDroppedAtOnce) {
        text = BuildLinesText(skip, waiting);
        if (text.size() <= kMaxViewChars || skip >= kLineHistorySize) break;
    }
    if (text.size() > kMaxViewChars) text.resize(kMaxViewChars);
    return text;
}

// Built-in variables, functions and classes are not the script's data.
bool IsOrdinary(const Var* var) {
    if (var->m_type != VarTypeNormal && var->m_type != VarTypeAlias) return false;
    return var->Target()->m_type == VarTypeNormal;
}

void AppendVar(std::wstring& out, Var* var) {
    out += var->m_name;
    Var* v = var->Target();
    if (v->IsObject()) {
        out += L": ";
        out += v->Object()->TypeName();
        Char address[32];
        FormatMessageText(address, 32, L" object {address: 0x%I64X}",
                          static_cast<uint64_t>(reinterpret_cast<uintptr_t>(v->Object())));
        out += address;
    } else if (v->IsPureNumber()) {
        Char number[64];
        int n = v->IsInteger() ? FormatInt64(v->Int64Value(), number) : FormatFloat(v->DoubleValue(), number);
        out += L": ";
        out.append(number, static_cast<size_t>(n));
    } else {
        const size_t length = static_cast<size_t>(v->RawLength());
        out += L"[" + std::to_wstring(length) + L" of " + std::to_wstring(v->CapacityChars()) + L"]: ";
        out.append(v->Contents(), length < kStringShownChars ? length : kStringShownChars);
        if (length > kStringShownChars) out += L"...";
    }
    out += L"\r\n";
}

bool HasStatics(const UserFunc* func) {
    for (int32_t i = 0; i < func->vars.count; ++i) {
        const Var* v = func->vars.items[i];
        if ((v->m_scope & VarScopeStatic) && IsOrdinary(v)) return true;
    }
    return false;
}

std::wstring VariablesText() {
    std::wstring out;
    const Char* rule = MessageText(Msg::ViewVarsRule);
    if (UserFunc* func = g_runningFunc) {
        AppendFormatted(out, Msg::ViewLocalVars, func->Name(), rule);
        for (int32_t i = 0; i < func->vars.count; ++i) {
            Var* v = func->vars.items[i];
            if ((v->m_scope & VarScopeLocal) && !(v->m_scope & VarScopeStatic) && IsOrdinary(v)) AppendVar(out, v);
        }
        for (UserFunc* f = func; f; f = f->outer) {
            if (!HasStatics(f)) continue;
            AppendFormatted(out, Msg::ViewStaticVars, out.empty() ? L"" : L"\r\n\r\n", f->Name(), rule);
            for (int32_t i = 0; i < f->vars.count; ++i) {
                Var* v = f->vars.items[i];
                if ((v->m_scope & VarScopeStatic) && IsOrdinary(v)) AppendVar(out, v);
            }
        }
    }
    AppendFormatted(out, Msg::ViewGlobalVars, out.empty() ? L"" : L"\r\n\r\n", rule);
    for (size_t i = 0, n = GlobalVarCount(); i < n; ++i) {
        Var* v = GlobalVarAt(i);
        if (IsOrdinary(v)) AppendVar(out, v);
        if (out.size() > kMaxViewChars) break;
    }
    if (out.size() > kMaxViewChars) out.resize(kMaxViewChars);
    return out;
}

// Hotkeys are delivered by the registered-hotkey service only, and none exist yet: the list is its header.
std::wstring HotkeysText() { return MessageText(Msg::ViewHotkeysHeader); }

std::wstring KeyHistoryText() {
    Char title[kWindowTitleChars + 1] = L"";
    if (HWND fg = GetForegroundWindow()) GetWindowTextW(fg, title, kWindowTitleChars + 1);
    unsigned enabled = 0, total = 0;
    std::wstring names;
    for (const ScriptTimer* t = FirstTimer(); t; t = t->next) {
        ++total;
        if (!t->enabled) continue;
        ++enabled;
        const Func* func = dynamic_cast<const Func*>(t->callback);
        if (!names.empty()) names += L' ';
        names += func ? func->Name() : t->callback->TypeName();
    }
    if (names.size() > kTimerNamesChars) names = names.substr(0, kTimerNamesChars) + L"...";
    const int running = g_threadCount;
    const int interrupted = running > 1 ? running - 1 : 0;
    const int layers = static_cast<int>(g_thread - &DefaultThread());
    std::wstring out;
    AppendFormatted(out, Msg::ViewKeyHistory, title, L"no", L"no", enabled, total, names.c_str(), interrupted,
                    interrupted ? MessageText(Msg::ViewPreempted) : L"", g_pausedThreads, running, layers,
                    L"unsupported");
    Append(out, MessageText(Msg::ViewKeyHistoryDisabled));
    return out;
}

// Called by script code, the newest line is the one calling; from a menu or F5, a running thread is
// waiting in its newest line.
std::wstring ViewText(MainView view, bool fromScript) {
    switch (view) {
    case MainView::Variables: return VariablesText();
    case MainView::Hotkeys: return HotkeysText();
    case MainView::KeyHistory: return KeyHistoryText();
    default: return LinesText(!fromScript && g_threadCount > 0);
    }
}

void ScrollToEnd() {
    LRESULT length = SendMessageW(s_pane, WM_GETTEXTLENGTH, 0, 0);
    SendMessageW(s_pane, EM_SETSEL, static_cast<WPARAM>(length), length);
    SendMessageW(s_pane, EM_SCROLLCARET, 0, 0);
}

void FillPane(MainView view, bool fromScript, bool refresh) {
    if (!s_pane) return;
    std::wstring text = ViewText(view, fromScript);
    SetWindowTextW(s_pane, text.c_str());
    if (view == MainView::Lines || (refresh && view == MainView::KeyHistory)) ScrollToEnd();
}

// SetForegroundWindow is refused to a process that is not in the foreground; joining the input of the
// foreground window's thread for the call lets it through.
void BringToFront(HWND hwnd) {
    if (SetForegroundWindow(hwnd)) return;
    HWND fg = GetForegroundWindow();
    DWORD fgThread = fg ? GetWindowThreadProcessId(fg, nullptr) : 0, ownThread = GetCurrentThreadId();
    if (fgThread && fgThread != ownThread && AttachThreadInput(ownThread, fgThread, TRUE)) {
        SetForegroundWindow(hwnd);
        AttachThreadInput(ownThread, fgThread, FALSE);
    }
}

void Show(MainView view, bool fromScript) {
    if (view == MainView::Last) view = s_lastView == MainView::Last ? MainView::Lines : s_lastView;
    s_lastView = view;
    FillPane(view, fromScript, false);
    if (!g_mainWindow) return;
    ShowWindow(g_mainWindow, IsIconic(g_mainWindow) ? SW_RESTORE : SW_SHOW);
    BringToFront(g_mainWindow);
}

}  // namespace

bool CreateMainPane(HWND mainWindow) {
    RECT client{};
    GetClientRect(mainWindow, &client);
    s_pane = CreateWindowExW(0, L"Edit", L"",
                             WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY, 0, 0,
                             client.right, client.bottom, mainWindow, reinterpret_cast<HMENU>(kPaneId),
                             GetModuleHandleW(nullptr), nullptr);
    if (!s_pane) return false;
    HDC dc = GetDC(mainWindow);
    int height = -MulDiv(kPanePoints, dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96, 72);
    if (dc) ReleaseDC(mainWindow, dc);
    s_paneFont.Reset(CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                 CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, L"Consolas"));
    if (s_paneFont.Get()) SendMessageW(s_pane, WM_SETFONT, reinterpret_cast<WPARAM>(s_paneFont.Get()), FALSE);
    SendMessageW(s_pane, EM_LIMITTEXT, 0, 0);
    return true;
}

HWND MainPane() { return s_pane; }

void ShowView(MainView view, bool fromMenu) {
    if (fromMenu && !g_script.allowMainWindow) return;
    Show(view, !fromMenu);
}

void RefreshView() {
    if (s_lastView == MainView::Last) return;
    FillPane(s_lastView, false, true);
}

// --- The built-in functions that show the views ---

bool BifListLines(Opt<bool> mode) {
    PseudoThread& t = *g_thread;
    const bool previous = t.settings.listLines;
    if (!mode) {
        Show(MainView::Lines, true);
        return previous;
    }
    if (previous) ForgetNewestLine(g_script.currentLine);
    t.settings.listLines = *mode;
    return previous;
}

void BifListVars() { Show(MainView::Variables, true); }

void BifListHotkeys() { Show(MainView::Hotkeys, true); }

FResult BifKeyHistory(Opt<int64_t> maxEvents) {
    if (!maxEvents) {
        Show(MainView::KeyHistory, true);
        return FrOk;
    }
    // The limit a key history would have had; within it only 0 (none kept) can be honoured in this build.
    constexpr int64_t kMaxKeyEvents = 500;
    if (*maxEvents < 0 || *maxEvents > kMaxKeyEvents) return FrParam(0);
    if (*maxEvents == 0) return FrOk;
    (void)RaiseMsg(ErrorClass::Error, Msg::KeyHistoryDisabled);
    return FrFail;
}

}  // namespace brm
