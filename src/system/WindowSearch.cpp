// The WinTitle criteria and the window search every window function uses; window groups; controls.
// Criteria are parsed afresh for each search: a search is short, and groups hold their specs as text.
#include "system/WindowSearch.h"
#include <dwmapi.h>
#include <cwchar>
#include <memory>
#include <string>
#include "base/Messages.h"
#include "base/SortedTable.h"
#include "lib/RegEx.h"
#include "objects/Array.h"
#include "objects/Object.h"
#include "runtime/MessageLoop.h"

namespace brm {

namespace {

const HWND kBroadcast = reinterpret_cast<HWND>(0xFFFF);  // HWND_BROADCAST
constexpr int kMaxTitleChars = 32767;        // the longest title a window text read returns
constexpr DWORD kHungTimeoutMs = 5000;       // no window is waited on for longer than this
constexpr size_t kMaxGroupName = 253;
constexpr size_t kMaxGroupHistory = 500;
// A group whose spec names a group that names it back would recurse for ever: deeper nesting matches nothing.
constexpr int kMaxGroupNesting = 16;

enum CriteriaBit : uint32_t { CritTitle = 1, CritId = 2, CritPid = 4, CritClass = 8, CritGroup = 16, CritExe = 32 };

}  // namespace

struct WindowSpec {
    std::wstring title, text, excludeTitle, excludeText;
};

struct WindowGroup {
    std::wstring name;
    bool activating = true;
    std::vector<WindowSpec> specs;
};

namespace {

std::vector<std::unique_ptr<WindowGroup>> s_groups;  // in creation order; never freed
// The windows a series of GroupActivate or GroupDeactivate calls has visited, and whose group they were.
std::vector<HWND> s_history;
WindowGroup* s_historyGroup = nullptr;
int s_groupDepth = 0;

bool IsBlank(Char c) { return c == L' ' || c == L'\t'; }

struct Parsed {
    uint32_t bits = 0;
    bool impossible = false;
    std::wstring title, cls, exe;
    bool exeByName = false;
    HWND id = nullptr;
    DWORD pid = 0;
    WindowGroup* group = nullptr;
};

int64_t TextToInteger(const Char* text, size_t length) {
    std::wstring copy(text, length);
    ValueToken t, n;
    t.SetString(copy.c_str(), static_cast<int32_t>(copy.size()));
    if (!TokenToNumber(t, n))
        return 0;
    return n.symbol == SymInteger ? n.valueInt64 : static_cast<int64_t>(n.valueDouble);
}

// The length of the keyword at p (after the prefix), or 0 when the word is no keyword.
size_t KeywordAt(const Char* p, uint32_t& bit) {
    static constexpr struct {
        const Char* word;
        uint32_t bit;
    } kWords[] = {{L"id", CritId}, {L"pid", CritPid}, {L"group", CritGroup}, {L"exe", CritExe}, {L"class", CritClass}};
    size_t n = 0;
    while (p[n] && !IsBlank(p[n]))
        ++n;
    for (const auto& w : kWords)
        if (CompareFoldAZ(p, n, w.word, wcslen(w.word)) == 0) {
            bit = w.bit;
            return n;
        }
    return 0;
}

Parsed ParseTitle(const Char* text, int matchMode) {
    Parsed p;
    struct Piece {
        uint32_t bit;
        size_t start, valueStart;
    };
    std::vector<Piece> pieces;
    for (size_t i = 0; text[i]; ++i) {
        if ((i == 0 || IsBlank(text[i - 1])) && wcsncmp(text + i, L"brm_", 4) == 0) {
            uint32_t bit = 0;
            if (size_t n = KeywordAt(text + i + 4, bit)) {
                pieces.push_back({bit, i, i + 4 + n});
                i += 3 + n;
            }
        }
    }
    const size_t total = wcslen(text);
    auto piece = [&](size_t from, size_t to, bool beforeKeyword) {
        while (from < to && IsBlank(text[from]))
            ++from;
        if (beforeKeyword && to > from)
            --to;  // the one blank that separates the value from the next keyword
        return std::wstring(text + from, to > from ? to - from : 0);
    };
    size_t titleEnd = pieces.empty() ? total : pieces[0].start;
    std::wstring title = piece(0, titleEnd, !pieces.empty());
    if (pieces.empty() || !title.empty()) {
        p.bits |= CritTitle;
        p.title = title;
    }
    for (size_t k = 0; k < pieces.size(); ++k) {
        bool last = k + 1 == pieces.size();
        std::wstring value = piece(pieces[k].valueStart, last ? total : pieces[k + 1].start, !last);
        p.bits |= pieces[k].bit;
        switch (pieces[k].bit) {
        case CritId: {
            HWND id = reinterpret_cast<HWND>(static_cast<uintptr_t>(TextToInteger(value.c_str(), value.size())));
            if ((id != kBroadcast && !IsWindow(id)) || (p.id && p.id != id))
                p.impossible = true;
            p.id = id;
            break;
        }
        case CritPid: p.pid = static_cast<DWORD>(TextToInteger(value.c_str(), value.size())); break;
        case CritGroup:
            p.group = value.empty() ? nullptr : FindGroup(value.c_str());
            if (!p.group)
                p.impossible = true;
            break;
        case CritExe:
            p.exe = value;
            p.exeByName = value.find(L'\\') == std::wstring::npos && matchMode != 4;
            break;
        case CritClass: p.cls = value; break;
        }
    }
    return p;
}

bool TitleMatches(const std::wstring& hay, const std::wstring& needle, int mode) {
    switch (mode) {
    case 1: return hay.compare(0, needle.size(), needle) == 0;
    case 3: return hay == needle;
    case 4: return RegExFindInText(hay.c_str(), hay.size(), needle.c_str(), needle.size()) > 0;
    default: return hay.find(needle) != std::wstring::npos;
    }
}

bool TextContains(const std::wstring& hay, const std::wstring& needle, int mode) {
    return mode == 4 ? RegExFindInText(hay.c_str(), hay.size(), needle.c_str(), needle.size()) > 0
                     : hay.find(needle) != std::wstring::npos;
}

std::wstring WindowTitle(HWND hwnd) {
    std::wstring s(kMaxTitleChars + 1, L'\0');
    int n = GetWindowTextW(hwnd, s.data(), kMaxTitleChars + 1);
    s.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return s;
}

// WM_GETTEXT with a hang limit; trailing zeros a control reports in its length are trimmed.
std::wstring SlowWindowText(HWND hwnd) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kHungTimeoutMs, &length) || !length)
        return std::wstring();
    if (length > kMaxTitleChars)
        length = kMaxTitleChars;
    std::wstring s(length + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(s.data()), SMTO_ABORTIFHUNG,
                             kHungTimeoutMs, &got))
        return std::wstring();
    s.resize(got < length ? got : length);
    while (!s.empty() && s.back() == L'\0')
        s.pop_back();
    return s;
}

std::wstring ClassOf(HWND hwnd) {
    Char name[257];
    int n = GetClassNameW(hwnd, name, 257);
    return std::wstring(name, n > 0 ? static_cast<size_t>(n) : 0);
}

struct TextScan {
    const Criteria* c;
    const ThreadSettings* settings;
    bool found;
};

BOOL CALLBACK ScanChildText(HWND child, LPARAM param) {
    auto& scan = *reinterpret_cast<TextScan*>(param);
    if (!scan.settings->detectHiddenText && !IsWindowVisible(child))
        return TRUE;
    std::wstring text = scan.settings->titleMatchFast ? WindowTitle(child) : SlowWindowText(child);
    const int mode = scan.settings->titleMatchMode;
    if (*scan.c->excludeText && TextContains(text, scan.c->excludeText, mode)) {
        scan.found = false;
        return FALSE;
    }
    if (!*scan.c->text || TextContains(text, scan.c->text, mode))
        scan.found = true;
    return !scan.found || *scan.c->excludeText;
}

bool InList(const std::vector<HWND>* list, HWND hwnd) {
    if (!list)
        return false;
    for (HWND h : *list)
        if (h == hwnd)
            return true;
    return false;
}

bool MatchTest(HWND w, const Parsed& p, const Criteria& c, bool groupSpec, const std::vector<HWND>* exclusions) {
    if (!w || !p.bits)
        return false;
    const ThreadSettings& s = g_thread->settings;
    const int mode = s.titleMatchMode;
    std::wstring title;
    bool haveTitle = false;
    auto getTitle = [&]() -> const std::wstring& {
        if (!haveTitle) {
            title = WindowTitle(w);
            haveTitle = true;
        }
        return title;
    };
    if ((p.bits & CritTitle) && !p.title.empty() && !TitleMatches(getTitle(), p.title, mode))
        return false;
    if (p.bits & CritClass) {
        std::wstring cls = ClassOf(w);
        if (mode == 4 ? RegExFindInText(cls.c_str(), cls.size(), p.cls.c_str(), p.cls.size()) <= 0 : cls != p.cls)
            return false;
    }
    if (p.bits & CritPid) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid != p.pid)
            return false;
    }
    if (p.bits & CritExe) {
        Char path[MAX_PATH * 4];
        if (!WindowProcessPath(w, path, MAX_PATH * 4))
            return false;
        const Char* name = wcsrchr(path, L'\\');
        name = name ? name + 1 : path;
        bool byPath = p.exe.find(L'\\') != std::wstring::npos;
        const Char* subject = byPath ? path : name;
        if (mode == 4) {
            if (RegExFindInText(subject, wcslen(subject), p.exe.c_str(), p.exe.size()) <= 0)
                return false;
        } else if (lstrcmpiW(subject, p.exe.c_str()) != 0) {
            return false;
        }
    }
    if ((p.bits & CritGroup) && !WindowMatchesGroup(w, p.group))
        return false;
    if ((p.bits & CritId) && w != p.id)
        return false;
    if (*c.excludeTitle) {
        std::wstring ex = c.excludeTitle;
        const std::wstring& t = getTitle();
        if (mode == 1 ? t.compare(0, ex.size(), ex) == 0 : TitleMatches(t, ex, mode))
            return false;
    }
    if (!groupSpec && InList(exclusions, w))
        return false;
    if (*c.text || *c.excludeText) {
        TextScan scan{&c, &s, !*c.text};
        EnumChildWindows(w, ScanChildText, reinterpret_cast<LPARAM>(&scan));
        if (!scan.found)
            return false;
    }
    return true;
}

struct Enumeration {
    const Parsed* p;
    const Criteria* c;
    FindLast findLast;
    const std::vector<HWND>* exclusions;
    Array* collector;
    int32_t count = 0;
    HWND last = nullptr;
    bool seeHidden = false;
};

BOOL CALLBACK EnumMatch(HWND w, LPARAM param) {
    auto& e = *reinterpret_cast<Enumeration*>(param);
    if (!e.seeHidden && (!IsWindowVisible(w) || WindowIsCloaked(w)))
        return TRUE;
    if (!MatchTest(w, *e.p, *e.c, false, e.exclusions))
        return TRUE;
    ++e.count;
    e.last = w;
    if (e.collector) {
        ValueToken v;
        v.SetInteger(static_cast<int64_t>(reinterpret_cast<uintptr_t>(w)));
        ValueToken* values[] = {&v};
        (void)e.collector->Append(values, 1);
    }
    return e.findLast == FindLast::Yes;
}

bool IsA(const Criteria& c) {
    return (c.title[0] == L'A' || c.title[0] == L'a') && !c.title[1] && !*c.text && !*c.excludeTitle &&
           !*c.excludeText;
}

HWND DetectableForeground() {
    HWND f = GetForegroundWindow();
    return f && WindowIsDetectable(f) ? f : nullptr;
}

HWND LastFoundIfUsable() {
    HWND h = LastFoundWindow();
    if (!h || !IsWindow(h))
        return nullptr;
    if (g_thread->settings.detectHiddenWindows || (IsWindowVisible(h) && !WindowIsCloaked(h)) ||
        (GetWindowLongW(h, GWL_STYLE) & WS_CHILD))
        return h;
    return nullptr;
}

// The search proper, after the "A" and empty forms.
HWND Search(const Criteria& c, FindLast findLast, const std::vector<HWND>* exclusions, Array* collector,
            int32_t* count) {
    Parsed p = ParseTitle(c.title, g_thread->settings.titleMatchMode);
    if (p.impossible)
        return nullptr;
    if ((p.bits & CritId) && p.id != kBroadcast) {
        if (!IsWindow(p.id))
            return nullptr;
        if (!g_thread->settings.detectHiddenWindows && !WindowIsDetectable(p.id) &&
            !(GetWindowLongW(p.id, GWL_STYLE) & WS_CHILD))
            return nullptr;
        if (!MatchTest(p.id, p, c, false, exclusions))
            return nullptr;
        if (count)
            *count = 1;
        if (collector) {
            ValueToken v;
            v.SetInteger(static_cast<int64_t>(reinterpret_cast<uintptr_t>(p.id)));
            ValueToken* values[] = {&v};
            (void)collector->Append(values, 1);
        }
        return p.id;
    }
    Enumeration e{&p, &c, findLast, exclusions, collector};
    e.seeHidden = g_thread->settings.detectHiddenWindows;
    EnumWindows(EnumMatch, reinterpret_cast<LPARAM>(&e));
    if (count)
        *count = e.count;
    return e.last;
}

bool SpecMatches(HWND w, const WindowSpec& spec) {
    Criteria c{spec.title.c_str(), spec.text.c_str(), spec.excludeTitle.c_str(), spec.excludeText.c_str()};
    Parsed p = ParseTitle(c.title, g_thread->settings.titleMatchMode);
    if (p.impossible)
        return false;
    return MatchTest(w, p, c, true, nullptr);
}

}  // namespace

// --- Window properties ---

bool WindowIsCloaked(HWND hwnd) {
    DWORD cloaked = 0;
    return SUCCEEDED(DwmGetWindowAttribute(hwnd, 14 /* DWMWA_CLOAKED */, &cloaked, sizeof(cloaked))) && cloaked;
}

bool WindowIsDetectable(HWND hwnd) {
    return g_thread->settings.detectHiddenWindows || (IsWindowVisible(hwnd) && !WindowIsCloaked(hwnd));
}

bool WindowIsHung(HWND hwnd) {
    using HungFn = BOOL(WINAPI*)(HWND);
    static HungFn isHung = reinterpret_cast<HungFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "IsHungAppWindow")));
    if (isHung)
        return isHung(hwnd) != FALSE;
    DWORD_PTR answer;
    return !SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kHungTimeoutMs, &answer);
}

bool WindowProcessPath(HWND hwnd, Char* out, DWORD size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (!pid)
        return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return false;
    DWORD n = size;
    BOOL ok = QueryFullProcessImageNameW(process, 0, out, &n);
    CloseHandle(process);
    return ok != FALSE;
}

HWND LastFoundWindow() { return static_cast<HWND>(g_thread->lastFoundWindow); }
void SetLastFoundWindow(HWND hwnd) { g_thread->lastFoundWindow = hwnd; }

void WindowDelay() {
    if (g_thread->settings.winDelay >= 0)
        PumpMessages(g_thread->settings.winDelay, PumpMode::Timed);
}

void ControlDelay() {
    if (g_thread->settings.controlDelay >= 0)
        PumpMessages(g_thread->settings.controlDelay, PumpMode::Timed);
}

// --- Arguments ---

Status LoadWinTitle(const Opt<ValueToken*>& value, WinTitleArg& out) {
    out = WinTitleArg{};
    out.text = L"";
    if (!value)
        return Status::Ok;
    ValueToken& v = **value;
    uint32_t kind = TokenKind(v);
    int64_t handle = 0;
    if (kind == SymInteger) {
        handle = TokenToInt64(v);
    } else if (kind == SymObject) {
        ValueToken self;
        self.SetObject(v.symbol == SymObject ? v.object : v.var->Object());
        CallResult r(out.buffer);
        BRM_TRY(InvokeValueOrFail(r, InvokeGet, L"Hwnd", self, nullptr, 0));
        handle = TokenToInt64(r.value);
        if (r.value.symbol == SymObject)
            r.value.object->Release();
    } else {
        out.text = TokenToString(v, out.buffer);
        return Status::Ok;
    }
    out.isHandle = true;
    out.hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(handle));
    if (out.hwnd != kBroadcast && !IsWindow(out.hwnd))
        out.hwnd = nullptr;
    FormatMessageText(out.buffer, kScratchChars, L"%I64d", handle);
    out.text = out.buffer;
    return Status::Ok;
}

Criteria MakeCriteria(const WinTitleArg& title, const Opt<const Char*>& text, const Opt<const Char*>& excludeTitle,
                      const Opt<const Char*>& excludeText) {
    Criteria c;
    c.title = title.isHandle ? L"" : title.text;
    c.text = text ? *text : L"";
    c.excludeTitle = excludeTitle ? *excludeTitle : L"";
    c.excludeText = excludeText ? *excludeText : L"";
    return c;
}

// --- Searching ---

HWND SearchWindow(const Criteria& c, FindLast findLast, Remember remember) {
    HWND found;
    if (IsA(c))
        found = DetectableForeground();
    else if (c.AllEmpty())
        found = LastFoundIfUsable();
    else
        found = Search(c, findLast, nullptr, nullptr, nullptr);
    if (found && remember == Remember::Yes)
        SetLastFoundWindow(found);
    return found;
}

HWND SearchActiveWindow(const Criteria& c, Remember remember) {
    HWND found = nullptr;
    if (IsA(c)) {
        found = DetectableForeground();
    } else if (HWND f = GetForegroundWindow()) {
        if (c.AllEmpty()) {
            found = f == LastFoundIfUsable() ? f : nullptr;
        } else if (WindowIsDetectable(f)) {
            Parsed p = ParseTitle(c.title, g_thread->settings.titleMatchMode);
            if (!p.impossible && MatchTest(f, p, c, false, nullptr))
                found = f;
        }
    }
    if (found && remember == Remember::Yes)
        SetLastFoundWindow(found);
    return found;
}

int32_t CountWindows(const Criteria& c, Array* collector, HWND* lastMatch) {
    if (IsA(c)) {
        HWND single = DetectableForeground();
        if (single && collector) {
            ValueToken v;
            v.SetInteger(static_cast<int64_t>(reinterpret_cast<uintptr_t>(single)));
            ValueToken* values[] = {&v};
            (void)collector->Append(values, 1);
        }
        if (lastMatch)
            *lastMatch = single;
        return single ? 1 : 0;
    }
    // All criteria empty is an empty title here, which every window matches.
    int32_t count = 0;
    HWND last = Search(c, FindLast::Yes, nullptr, collector, &count);
    if (lastMatch)
        *lastMatch = last;
    return count;
}

bool WindowMatches(HWND hwnd, const Criteria& c) {
    Parsed p = ParseTitle(c.title, g_thread->settings.titleMatchMode);
    return !p.impossible && MatchTest(hwnd, p, c, false, nullptr);
}

FResult RaiseWindowNotFound(const Char* extra) {
    (void)RaiseMsg(ErrorClass::TargetError, Msg::TargetWindowNotFound, extra && *extra ? extra : nullptr);
    return FrFail;
}

FResult TargetWindow(const Opt<ValueToken*>& winTitle, const Opt<const Char*>& text,
                     const Opt<const Char*>& excludeTitle, const Opt<const Char*>& excludeText, FindLast findLast,
                     HWND& out) {
    out = nullptr;
    WinTitleArg title;
    if (LoadWinTitle(winTitle, title) != Status::Ok)
        return FrFail;
    if (title.isHandle) {
        // The broadcast handle names every top-level window at once, never one target.
        if (!title.hwnd || title.hwnd == kBroadcast)
            return RaiseWindowNotFound(title.text);
        out = title.hwnd;
        return FrOk;
    }
    out = SearchWindow(MakeCriteria(title, text, excludeTitle, excludeText), findLast, Remember::No);
    return out ? FrOk : RaiseWindowNotFound(title.text);
}

// --- Controls ---

namespace {

struct ClassNNSearch {
    const Char* wanted;
    size_t wantedLength;
    HWND found = nullptr;
    std::vector<std::pair<std::wstring, int>> counts = {};
};

BOOL CALLBACK FindByClassNN(HWND child, LPARAM param) {
    auto& s = *reinterpret_cast<ClassNNSearch*>(param);
    std::wstring cls = ClassOf(child);
    if (cls.size() >= s.wantedLength || CompareFoldAZ(cls.c_str(), cls.size(), s.wanted, cls.size()) != 0)
        return TRUE;
    int* count = nullptr;
    for (auto& entry : s.counts)
        if (entry.first == cls)
            count = &entry.second;
    if (!count) {
        s.counts.push_back({cls, 0});
        count = &s.counts.back().second;
    }
    Char digits[16];
    FormatMessageText(digits, 16, L"%d", ++*count);
    const Char* rest = s.wanted + cls.size();
    if (CompareFoldAZ(digits, wcslen(digits), rest, wcslen(rest)) == 0) {
        s.found = child;
        return FALSE;
    }
    return TRUE;
}

struct TextSearch {
    const Char* wanted;
    HWND found = nullptr;
};

BOOL CALLBACK FindByText(HWND child, LPARAM param) {
    auto& s = *reinterpret_cast<TextSearch*>(param);
    std::wstring text = WindowTitle(child);
    if (!*s.wanted || TitleMatches(text, s.wanted, g_thread->settings.titleMatchMode)) {
        s.found = child;
        return FALSE;
    }
    return TRUE;
}

struct SameClass {
    HWND control;
    const std::wstring* cls;
    int position = 0;
    bool done = false;
};

BOOL CALLBACK CountSameClass(HWND child, LPARAM param) {
    auto& s = *reinterpret_cast<SameClass*>(param);
    if (ClassOf(child) == *s.cls)
        ++s.position;
    if (child == s.control) {
        s.done = true;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

FResult TargetControl(const Opt<ValueToken*>& control, const Opt<ValueToken*>& winTitle, const Opt<const Char*>& text,
                      const Opt<const Char*>& excludeTitle, const Opt<const Char*>& excludeText,
                      ControlRequired required, HWND& out) {
    out = nullptr;
    if (control && TokenKind(**control) != SymString) {
        WinTitleArg handle;
        if (LoadWinTitle(control, handle) != Status::Ok)
            return FrFail;
        if (handle.isHandle) {
            if (!handle.hwnd || handle.hwnd == kBroadcast)
                return RaiseWindowNotFound(handle.text);
            out = handle.hwnd;
            return FrOk;
        }
    }
    HWND window;
    if (FResult fr = TargetWindow(winTitle, text, excludeTitle, excludeText, FindLast::No, window); fr.code)
        return fr;
    Char buffer[kScratchChars];
    const Char* name = control ? TokenToString(**control, buffer) : L"";
    if (!*name) {
        out = window;
        return FrOk;
    }
    size_t length = wcslen(name);
    if (name[length - 1] >= L'0' && name[length - 1] <= L'9') {
        ClassNNSearch s{name, length};
        EnumChildWindows(window, FindByClassNN, reinterpret_cast<LPARAM>(&s));
        out = s.found;
    }
    if (!out) {
        TextSearch s{name};
        EnumChildWindows(window, FindByText, reinterpret_cast<LPARAM>(&s));
        out = s.found;
    }
    if (!out && required == ControlRequired::Yes) {
        (void)RaiseMsg(ErrorClass::TargetError, Msg::TargetControlNotFound, name);
        return FrFail;
    }
    return FrOk;
}

bool ControlClassNN(HWND control, Char* out, size_t size) {
    HWND top = control;
    while (top && (GetWindowLongW(top, GWL_STYLE) & WS_CHILD))
        top = GetParent(top);
    std::wstring cls = ClassOf(control);
    if (!top || cls.empty())
        return false;
    SameClass s{control, &cls};
    EnumChildWindows(top, CountSameClass, reinterpret_cast<LPARAM>(&s));
    if (!s.done)
        return false;
    FormatMessageText(out, size, L"%s%d", cls.c_str(), s.position);
    return true;
}

// --- Groups ---

WindowGroup* FindGroup(const Char* name) {
    for (auto& g : s_groups)
        if (lstrcmpiW(g->name.c_str(), name) == 0)
            return g.get();
    return nullptr;
}

bool WindowMatchesGroup(HWND hwnd, WindowGroup* group) {
    if (!group || s_groupDepth >= kMaxGroupNesting)
        return false;
    ++s_groupDepth;
    bool match = false;
    for (const WindowSpec& spec : group->specs)
        if (SpecMatches(hwnd, spec)) {
            match = true;
            break;
        }
    --s_groupDepth;
    return match;
}

namespace {

struct GroupCollect {
    WindowGroup* group;
    bool seeHidden;
    std::vector<HWND>* out;
};

BOOL CALLBACK CollectGroupWindow(HWND w, LPARAM param) {
    auto& c = *reinterpret_cast<GroupCollect*>(param);
    if (!c.seeHidden && (!IsWindowVisible(w) || WindowIsCloaked(w)))
        return TRUE;
    if (WindowMatchesGroup(w, c.group))
        c.out->push_back(w);
    return TRUE;
}

}  // namespace

bool GroupFormWindows(const Char* title, bool seeHidden, std::vector<HWND>& out) {
    if (wcsncmp(title, L"brm_group", 9) != 0 || !IsBlank(title[9]))
        return false;
    const Char* name = title + 9;
    while (IsBlank(*name))
        ++name;
    WindowGroup* group = FindGroup(name);
    if (!group)
        return false;
    GroupCollect collect{group, seeHidden, &out};
    EnumWindows(CollectGroupWindow, reinterpret_cast<LPARAM>(&collect));
    return true;
}

namespace {

FResult CheckGroupName(const Char* name) {
    size_t n = wcslen(name);
    if (!n) {
        (void)RaiseMsg(ErrorClass::ValueError, Msg::BlankGroupName);
        return FrFail;
    }
    if (n > kMaxGroupName) {
        (void)RaiseMsg(ErrorClass::ValueError, Msg::GroupNameTooLong);
        return FrFail;
    }
    Msg bad = Msg::OutOfMemory;
    bool invalid = false;
    if (name[0] >= L'0' && name[0] <= L'9') {
        bad = Msg::NameStartsWithDigit;
        invalid = true;
    } else {
        for (size_t i = 0; i < n; ++i) {
            Char c = name[i];
            if (c < 128 && !(c == L'_' || (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'))) {
                bad = Msg::NameIllegalChar;
                invalid = true;
                break;
            }
        }
    }
    if (invalid) {
        // The name is shown in part when long, as the message would otherwise be lost in it.
        Char shown[301];
        wcsncpy(shown, name, 300);
        shown[300] = L'\0';
        (void)RaiseFormatted(ErrorClass::ValueError, nullptr, bad, MessageText(Msg::KindGroup), shown);
        return FrFail;
    }
    return FrOk;
}

FResult FindOrCreateGroup(const Char* name, WindowGroup*& out) {
    out = FindGroup(name);
    if (out)
        return FrOk;
    if (FResult fr = CheckGroupName(name); fr.code)
        return fr;
    auto group = std::make_unique<WindowGroup>();
    group->name = name;
    out = group.get();
    s_groups.push_back(std::move(group));
    return FrOk;
}

bool ParseGroupMode(const Opt<const Char*>& mode, bool allowA, bool& reverse, bool& all) {
    reverse = all = false;
    if (!mode || !**mode)
        return true;
    const Char* m = *mode;
    if ((m[0] == L'R' || m[0] == L'r') && !m[1]) {
        reverse = true;
        return true;
    }
    if (allowA && (m[0] == L'A' || m[0] == L'a') && !m[1]) {
        all = true;
        return true;
    }
    return false;
}

void UseGroup(WindowGroup* group) {
    if (s_historyGroup != group) {
        s_history.clear();
        s_historyGroup = group;
    }
}

void AddToHistory(HWND hwnd) {
    if (s_history.size() < kMaxGroupHistory && !InList(&s_history, hwnd))
        s_history.push_back(hwnd);
}

struct GroupEnum {
    WindowGroup* group;
    bool first;
    HWND found = nullptr;
};

BOOL CALLBACK FindInGroup(HWND w, LPARAM param) {
    auto& e = *reinterpret_cast<GroupEnum*>(param);
    if (!g_thread->settings.detectHiddenWindows && (!IsWindowVisible(w) || WindowIsCloaked(w)))
        return TRUE;
    if (InList(&s_history, w) || !WindowMatchesGroup(w, e.group))
        return TRUE;
    e.found = w;
    return !e.first;
}

HWND FindGroupWindow(WindowGroup* group, bool first) {
    GroupEnum e{group, first};
    EnumWindows(FindInGroup, reinterpret_cast<LPARAM>(&e));
    return e.found;
}

HWND GroupActivateWindow(WindowGroup* group, bool reverse) {
    group->activating = true;
    UseGroup(group);
    HWND active = GetForegroundWindow();
    bool activeInGroup = active && WindowMatchesGroup(active, group);
    if (activeInGroup)
        AddToHistory(active);
    else
        s_history.clear();
    const bool first = reverse && !activeInGroup;
    HWND found = FindGroupWindow(group, first);
    if (!found && !s_history.empty()) {
        s_history.clear();
        found = FindGroupWindow(group, first);
    }
    if (!found)
        return nullptr;
    ActivateWindow(found, KeepMinimized::No);
    AddToHistory(found);
    WindowDelay();
    return found;
}

struct DeactivateEnum {
    WindowGroup* group;
    bool first;
    HWND found = nullptr;
};

BOOL CALLBACK FindOutsideGroup(HWND w, LPARAM param) {
    auto& e = *reinterpret_cast<DeactivateEnum*>(param);
    LONG style = GetWindowLongW(w, GWL_STYLE), ex = GetWindowLongW(w, GWL_EXSTYLE);
    if (!(style & WS_VISIBLE) || ((style & WS_DISABLED) && GetLastActivePopup(w) == w))
        return TRUE;
    if ((ex & (WS_EX_TOPMOST | WS_EX_NOACTIVATE)) || ((ex & WS_EX_TOOLWINDOW) && !(ex & WS_EX_APPWINDOW)))
        return TRUE;
    if (GetWindow(w, GW_OWNER) || WindowIsCloaked(w) || w == GetShellWindow())
        return TRUE;
    if (InList(&s_history, w) || WindowMatchesGroup(w, e.group))
        return TRUE;
    e.found = w;
    return !e.first;
}

void GroupDeactivateWindow(WindowGroup* group, bool reverse) {
    group->activating = false;
    UseGroup(group);
    HWND start = GetAncestor(GetForegroundWindow(), GA_ROOTOWNER);
    if (start && WindowMatchesGroup(start, group))
        s_history.clear();
    for (int attempt = 0; attempt < 2; ++attempt) {
        DeactivateEnum e{group, reverse && s_history.empty()};
        EnumWindows(FindOutsideGroup, reinterpret_cast<LPARAM>(&e));
        if (e.found) {
            ActivateWindow(GetLastActivePopup(e.found), KeepMinimized::No);
            AddToHistory(e.found);
            WindowDelay();
            return;
        }
        if (s_history.empty()) {
            if (HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr))
                ActivateWindow(tray, KeepMinimized::No);
            return;
        }
        bool several = s_history.size() > 1;
        s_history.clear();
        if (!several)
            return;
        if (start)
            AddToHistory(start);
        reverse = false;
    }
}

}  // namespace

FResult BifGroupAdd(const Char* name, Opt<const Char*> winTitle, Opt<const Char*> winText,
                    Opt<const Char*> excludeTitle, Opt<const Char*> excludeText) {
    WindowGroup* group;
    if (FResult fr = FindOrCreateGroup(name, group); fr.code)
        return fr;
    WindowSpec spec{winTitle ? *winTitle : L"", winText ? *winText : L"", excludeTitle ? *excludeTitle : L"",
                    excludeText ? *excludeText : L""};
    if (spec.title.empty() && spec.text.empty() && spec.excludeTitle.empty() && spec.excludeText.empty())
        spec.excludeTitle = L"Program Manager";
    for (const WindowSpec& s : group->specs)
        if (s.title == spec.title && s.text == spec.text && s.excludeTitle == spec.excludeTitle &&
            s.excludeText == spec.excludeText)
            return FrOk;
    group->specs.push_back(std::move(spec));
    return FrOk;
}

FResult BifGroupActivate(const Char* name, Opt<const Char*> mode, ValueRet ret) {
    bool reverse, all;
    if (!ParseGroupMode(mode, false, reverse, all))
        return FrParam(1);
    WindowGroup* group;
    if (FResult fr = FindOrCreateGroup(name, group); fr.code)
        return fr;
    HWND found = GroupActivateWindow(group, reverse);
    ret.result->value.SetInteger(static_cast<int64_t>(reinterpret_cast<uintptr_t>(found)));
    return FrOk;
}

FResult BifGroupDeactivate(const Char* name, Opt<const Char*> mode) {
    WindowGroup* group = *name ? FindGroup(name) : nullptr;
    if (!group)
        return FrParam(0);
    bool reverse, all;
    if (!ParseGroupMode(mode, false, reverse, all))
        return FrParam(1);
    GroupDeactivateWindow(group, reverse);
    return FrOk;
}

FResult BifGroupClose(const Char* name, Opt<const Char*> mode) {
    WindowGroup* group = *name ? FindGroup(name) : nullptr;
    if (!group)
        return FrParam(0);
    bool reverse, all;
    if (!ParseGroupMode(mode, true, reverse, all))
        return FrParam(1);
    if (all) {
        std::vector<HWND> windows;
        std::wstring title = L"brm_group " + group->name;
        (void)GroupFormWindows(title.c_str(), false, windows);
        for (HWND w : windows)
            PostMessageW(w, WM_CLOSE, 0, 0);
        if (!windows.empty())
            WindowDelay();
        return FrOk;
    }
    if (group->specs.empty())
        return FrOk;
    HWND active = GetForegroundWindow();
    bool activeInGroup = active && WindowMatchesGroup(active, group);
    if (active && (group->activating ? activeInGroup : !activeInGroup)) {
        PostMessageW(active, WM_CLOSE, 0, 0);
        constexpr DWORD kCloseWaitMs = 500;
        DWORD start = GetTickCount();
        while (IsWindow(active) && GetTickCount() - start < kCloseWaitMs)
            PumpMessages(kPumpUnspecified, PumpMode::Timed);
        WindowDelay();
        if (!group->activating) {
            GroupDeactivateWindow(group, reverse);
            return FrOk;
        }
        HWND now = GetForegroundWindow();
        if (now && now != active && WindowMatchesGroup(now, group))
            return FrOk;
    }
    if (group->activating)
        (void)GroupActivateWindow(group, reverse);
    else
        GroupDeactivateWindow(group, reverse);
    return FrOk;
}

}  // namespace brm
