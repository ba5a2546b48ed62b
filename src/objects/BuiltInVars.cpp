// The built-in variable table. Getters write short text into the caller's scratch buffer and hand longer
// text over as heap memory, so reading a built-in variable costs no allocation in the common case.
#include "objects/BuiltInVars.h"
#include <windows.h>
#include <shlobj.h>
#include <cwchar>
#include <string>
#include "base/Messages.h"
#include "base/SortedTable.h"
#include "exec/Executor.h"
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Evaluator.h"
#include "lib/Timestamp.h"
#include "loader/ScriptLine.h"
#include "loader/SourceFiles.h"
#include "objects/BuiltInFunctions.h"
#include "objects/Func.h"
#include "runtime/PseudoThread.h"
#include "startup/MainWindow.h"
#include "startup/ScriptHost.h"
#include "startup/TrayIcon.h"
#include "startup/Version.h"
#include "system/Encoding.h"
#include "system/Registry.h"

namespace brm {

HotkeyLimits g_hotkeyLimits;

namespace {

Status SetText(CallResult& result, const Char* text, size_t length) {
    Char* target = result.buffer;
    if (length >= static_cast<size_t>(kScratchChars)) {
        target = static_cast<Char*>(malloc((length + 1) * sizeof(Char)));
        if (!target)
            return Status::Fail;
        result.memToFree = target;
    }
    wmemcpy(target, text, length);
    target[length] = L'\0';
    result.value.SetString(target, static_cast<int32_t>(length));
    return Status::Ok;
}

Status SetText(CallResult& result, const std::wstring& text) { return SetText(result, text.data(), text.size()); }

Status GetIndex(CallResult& result, const Char*) {
    result.value.SetInteger(CurrentLoopIndex());
    return Status::Ok;
}

Status GetLoopField(CallResult& result, const Char*) {
    int32_t length = 0;
    const Char* field = CurrentLoopField(&length);
    if (length < 0)
        length = static_cast<int32_t>(wcslen(field));
    return SetText(result, field, static_cast<size_t>(length));
}

Status GetLineNumber(CallResult& result, const Char*) {
    result.value.SetInteger(g_script.currentLine ? g_script.currentLine->lineNumber : 0);
    return Status::Ok;
}

Status GetLineFile(CallResult& result, const Char*) {
    const Char* name = SourceFileName(g_script.currentLine ? g_script.currentLine->fileIndex : 0);
    return SetText(result, name, wcslen(name));
}

Status GetScriptDir(CallResult& result, const Char*) { return SetText(result, g_script.scriptDir); }
Status GetScriptName(CallResult& result, const Char*) {
    return SetText(result, g_script.scriptNameOverridden ? g_script.scriptNameOverride : g_script.scriptName);
}
Status GetScriptFullPath(CallResult& result, const Char*) { return SetText(result, g_script.scriptFullPath); }
Status GetBrmPath(CallResult& result, const Char*) { return SetText(result, g_script.brmPath); }
Status GetInitialWorkingDir(CallResult& result, const Char*) { return SetText(result, g_script.initialWorkingDir); }

std::wstring CurrentDirectory() {
    DWORD needed = GetCurrentDirectoryW(0, nullptr);
    std::wstring dir(needed ? needed : 1, L'\0');
    DWORD length = GetCurrentDirectoryW(needed, dir.data());
    dir.resize(length < needed ? length : 0);
    return dir;
}

Status GetWorkingDir(CallResult& result, const Char*) { return SetText(result, CurrentDirectory()); }

Status GetSpace(CallResult& result, const Char*) { return SetText(result, L" ", 1); }
Status GetTab(CallResult& result, const Char*) { return SetText(result, L"\t", 1); }
Status GetPtrSize(CallResult& result, const Char*) {
    result.value.SetInteger(static_cast<int64_t>(sizeof(void*)));
    return Status::Ok;
}
Status GetTickCount(CallResult& result, const Char*) {
    result.value.SetInteger(static_cast<int64_t>(GetTickCount64()));
    return Status::Ok;
}

// The running function's name (a method's full dotted name); "" at the top level.
Status GetThisFunc(CallResult& result, const Char*) {
    result.value.SetString(g_runningFunc ? g_runningFunc->Name() : L"", -1);
    return Status::Ok;
}

// --- Helpers shared by the getters and setters below ---

// The name as written, without its "A_" prefix, compared with the A-to-Z fold.
bool NameIs(const Char* name, const Char* what) {
    const Char* bare = name + 2;
    return CompareFoldAZ(bare, wcslen(bare), what, wcslen(what)) == 0;
}

bool TextIs(const Char* text, const Char* what) { return CompareFoldAZ(text, wcslen(text), what, wcslen(what)) == 0; }

Status SetInteger(CallResult& result, int64_t value) {
    result.value.SetInteger(value);
    return Status::Ok;
}

// "Invalid value." names the value that was refused.
Status InvalidValue(const ValueToken& value) {
    Char buffer[kScratchChars];
    return RaiseMsg(ErrorClass::ValueError, Msg::InvalidValue, TokenToString(value, buffer));
}

// A numeric setting: the value must be a number (a Float is truncated).
Status ToInteger(const ValueToken& value, int64_t& out) {
    ValueToken n;
    if (!TokenToNumber(value, n))
        return RaiseTypeError(L"Number", value);
    out = n.symbol == SymInteger ? n.valueInt64 : FloatToInt64(n.valueDouble);
    return Status::Ok;
}

ThreadSettings& Settings() { return g_thread->settings; }

// Appends value in decimal, padded with zeros to width digits (the message formatter has no widths).
Char* PutDigits(Char* out, unsigned value, int width) {
    out = PutPaddedDecimal(out, value, width);
    *out = L'\0';
    return out;
}

// --- Settable variables ---

Status SetIndex(const ValueToken& value, const Char*) {
    int64_t n = 0;
    BRM_TRY(ToInteger(value, n));
    g_thread->loop.index = n;
    return Status::Ok;
}

Status GetEventInfo(CallResult& result, const Char*) { return SetInteger(result, g_thread->eventInfo); }
Status SetEventInfo(const ValueToken& value, const Char*) {
    int64_t n = 0;
    BRM_TRY(ToInteger(value, n));
    g_thread->eventInfo = static_cast<uint32_t>(n);
    return Status::Ok;
}

Status GetLastErrorVar(CallResult& result, const Char*) { return SetInteger(result, g_thread->lastError); }
Status SetLastErrorVar(const ValueToken& value, const Char*) {
    int64_t n = 0;
    BRM_TRY(ToInteger(value, n));
    g_thread->lastError = static_cast<uint32_t>(n);
    SetLastError(g_thread->lastError);
    return Status::Ok;
}

// The delay family: one getter and one setter pick the field by the name they were called by.
int32_t* DelayField(const Char* name) {
    ThreadSettings& t = Settings();
    if (NameIs(name, L"ControlDelay")) return &t.controlDelay;
    if (NameIs(name, L"WinDelay")) return &t.winDelay;
    if (NameIs(name, L"KeyDelay")) return &t.keyDelay;
    if (NameIs(name, L"KeyDelayPlay")) return &t.keyDelayPlay;
    if (NameIs(name, L"KeyDuration")) return &t.keyDuration;
    if (NameIs(name, L"KeyDurationPlay")) return &t.keyDurationPlay;
    if (NameIs(name, L"MouseDelay")) return &t.mouseDelay;
    return &t.mouseDelayPlay;
}
Status GetDelay(CallResult& result, const Char* name) { return SetInteger(result, *DelayField(name)); }
Status SetDelay(const ValueToken& value, const Char* name) {
    int64_t n = 0;
    BRM_TRY(ToInteger(value, n));
    *DelayField(name) = static_cast<int32_t>(n);
    return Status::Ok;
}

Status GetMouseSpeed(CallResult& result, const Char*) { return SetInteger(result, Settings().defaultMouseSpeed); }
Status SetMouseSpeed(const ValueToken& value, const Char*) {
    int64_t n = 0;
    BRM_TRY(ToInteger(value, n));
    Settings().defaultMouseSpeed = static_cast<uint8_t>(n);
    return Status::Ok;
}

int CoordShift(const Char* name) {
    if (NameIs(name, L"CoordModeCaret")) return CoordCaret;
    if (NameIs(name, L"CoordModeMenu")) return CoordMenu;
    if (NameIs(name, L"CoordModeMouse")) return CoordMouse;
    if (NameIs(name, L"CoordModePixel")) return CoordPixel;
    return CoordToolTip;
}
Status GetCoordMode(CallResult& result, const Char* name) {
    const Char* mode = CoordModeName((Settings().coordModes >> CoordShift(name)) & 3);
    return SetText(result, mode, wcslen(mode));
}
Status SetCoordMode(const ValueToken& value, const Char* name) {
    Char buffer[kScratchChars];
    int mode;
    if (!ParseCoordMode(TokenToString(value, buffer), mode))
        return InvalidValue(value);
    SetCoordModeBits(CoordShift(name), mode);
    return Status::Ok;
}

bool* FlagField(const Char* name) {
    ThreadSettings& t = Settings();
    if (NameIs(name, L"DetectHiddenText")) return &t.detectHiddenText;
    if (NameIs(name, L"DetectHiddenWindows")) return &t.detectHiddenWindows;
    if (NameIs(name, L"StoreCapsLockMode")) return &t.storeCapsLockMode;
    return &t.listLines;
}
Status GetFlag(CallResult& result, const Char* name) { return SetInteger(result, *FlagField(name) ? 1 : 0); }
Status SetFlag(const ValueToken& value, const Char* name) {
    *FlagField(name) = TokenToBool(value);
    return Status::Ok;
}

Status GetFileEncoding(CallResult& result, const Char*) {
    Char buffer[32];
    int length = FormatEncodingName(Settings().fileEncoding, buffer);
    return SetText(result, buffer, static_cast<size_t>(length));
}
Status SetFileEncoding(const ValueToken& value, const Char*) {
    Char buffer[kScratchChars];
    uint32_t encoding;
    if (!ParseEncodingName(TokenToString(value, buffer), encoding))
        return InvalidValue(value);
    Settings().fileEncoding = encoding;
    return Status::Ok;
}

Status GetTitleMatchMode(CallResult& result, const Char*) {
    if (Settings().titleMatchMode == 4)
        return SetText(result, L"RegEx", 5);
    return SetInteger(result, Settings().titleMatchMode);
}
Status GetTitleMatchModeSpeed(CallResult& result, const Char*) {
    return Settings().titleMatchFast ? SetText(result, L"Fast", 4) : SetText(result, L"Slow", 4);
}
// One setter for both variables: a mode or a speed, whichever the value names.
Status SetTitleMatchMode(const ValueToken& value, const Char*) {
    Char buffer[kScratchChars];
    if (!ApplyTitleMatchWord(TokenToString(value, buffer)))
        return InvalidValue(value);
    return Status::Ok;
}

Status GetSendMode(CallResult& result, const Char*) {
    static constexpr const Char* kNames[] = {L"Event", L"Input", L"Play", L"InputThenPlay"};
    const Char* name = kNames[static_cast<uint32_t>(Settings().sendMode) < 4 ? Settings().sendMode : 1];
    return SetText(result, name, wcslen(name));
}
Status SetSendMode(const ValueToken& value, const Char*) {
    Char buffer[kScratchChars];
    const Char* text = TokenToString(value, buffer);
    int32_t mode;
    if (TextIs(text, L"Event")) mode = SendModeEvent;
    else if (TextIs(text, L"Input") || TextIs(text, L"InputThenEvent")) mode = SendModeInput;
    else if (TextIs(text, L"InputThenPlay")) mode = SendModeInputThenPlay;
    else if (TextIs(text, L"Play")) mode = SendModePlay;
    else return InvalidValue(value);
    Settings().sendMode = mode;
    return Status::Ok;
}

Status GetSendLevel(CallResult& result, const Char*) { return SetInteger(result, Settings().sendLevel); }
Status SetSendLevel(const ValueToken& value, const Char*) {
    int64_t n = 0;
    BRM_TRY(ToInteger(value, n));
    if (n < 0 || n > 100)
        return InvalidValue(value);
    Settings().sendLevel = static_cast<uint8_t>(n);
    return Status::Ok;
}

bool Is64BitOS() {
    BOOL wow64 = FALSE;
    return sizeof(void*) == 8 || (IsWow64Process(GetCurrentProcess(), &wow64) && wow64);
}

Status GetRegView(CallResult& result, const Char*) {
    const Char* view = RegViewName(Settings().regView);
    return SetText(result, view, wcslen(view));
}
Status SetRegView(const ValueToken& value, const Char*) {
    Char buffer[kScratchChars];
    int32_t view;
    if (!ParseRegView(TokenToString(value, buffer), view))
        return InvalidValue(value);
    StoreRegView(view);
    return Status::Ok;
}

int32_t* HotkeyLimitField(const Char* name) {
    if (NameIs(name, L"MaxHotkeysPerInterval")) return &g_hotkeyLimits.maxPerInterval;
    if (NameIs(name, L"HotkeyInterval")) return &g_hotkeyLimits.interval;
    return &g_hotkeyLimits.modifierTimeout;
}
Status GetHotkeyLimit(CallResult& result, const Char* name) { return SetInteger(result, *HotkeyLimitField(name)); }
Status SetHotkeyLimit(const ValueToken& value, const Char* name) {
    int64_t n = 0;
    BRM_TRY(ToInteger(value, n));
    int32_t* field = HotkeyLimitField(name);
    // At least one press per interval, and no negative interval; the modifier timeout takes any value.
    if ((field == &g_hotkeyLimits.maxPerInterval && n < 1) || (field == &g_hotkeyLimits.interval && n < 0))
        return InvalidValue(value);
    *field = static_cast<int32_t>(n);
    return Status::Ok;
}

Status GetAllowMainWindow(CallResult& result, const Char*) { return SetInteger(result, g_script.allowMainWindow ? 1 : 0); }
Status SetAllowMainWindow(const ValueToken& value, const Char*) {
    bool allow = TokenToBool(value);
    if (allow == g_script.allowMainWindow) return Status::Ok;
    g_script.allowMainWindow = allow;
    AllowMainWindowChanged();
    return Status::Ok;
}

Status SetScriptName(const ValueToken& value, const Char*) {
    Char buffer[kScratchChars];
    int32_t length;
    const Char* text = TokenToString(value, buffer, &length);
    if (length < 0)
        length = static_cast<int32_t>(wcslen(text));
    g_script.scriptNameOverride.assign(text, static_cast<size_t>(length));
    g_script.scriptNameOverridden = true;
    return Status::Ok;
}

Status SetWorkingDir(const ValueToken& value, const Char*) {
    Char buffer[kScratchChars];
    if (!SetCurrentDirectoryW(TokenToString(value, buffer)))
        return RaiseOSErrorCode(GetLastError());
    g_script.workingDir = CurrentDirectory();
    return Status::Ok;
}

// --- Read-only variables ---

// The local time, re-read when more than 50 ms have passed since the last read.
const SYSTEMTIME& LocalNow(bool fresh) {
    static SYSTEMTIME s_time;
    static ULONGLONG s_tick;
    static bool s_read;
    ULONGLONG now = GetTickCount64();
    if (fresh || !s_read || now - s_tick > 50) {
        GetLocalTime(&s_time);
        s_tick = now;
        s_read = true;
    }
    return s_time;
}


Status GetDatePart(CallResult& result, const Char* name) {
    const SYSTEMTIME& t = LocalNow(NameIs(name, L"MSec"));
    Char buffer[16];
    if (NameIs(name, L"YYYY") || NameIs(name, L"Year")) PutDigits(buffer, t.wYear, 4);
    else if (NameIs(name, L"MM") || NameIs(name, L"Mon")) PutDigits(buffer, t.wMonth, 2);
    else if (NameIs(name, L"DD") || NameIs(name, L"MDay")) PutDigits(buffer, t.wDay, 2);
    else if (NameIs(name, L"Hour")) PutDigits(buffer, t.wHour, 2);
    else if (NameIs(name, L"Min")) PutDigits(buffer, t.wMinute, 2);
    else if (NameIs(name, L"Sec")) PutDigits(buffer, t.wSecond, 2);
    else if (NameIs(name, L"MSec")) PutDigits(buffer, t.wMilliseconds, 3);
    else if (NameIs(name, L"WDay")) PutDigits(buffer, t.wDayOfWeek + 1u, 1);
    else if (NameIs(name, L"YDay")) PutDigits(buffer, static_cast<unsigned>(DayOfYear(t)), 1);
    else {
        int year, week;
        IsoWeek(t, year, week);
        PutDigits(PutDigits(buffer, static_cast<unsigned>(year), 4), static_cast<unsigned>(week), 2);
    }
    return SetText(result, buffer, wcslen(buffer));
}

Status GetDateName(CallResult& result, const Char* name) {
    const SYSTEMTIME& t = LocalNow(false);
    const Char* picture = NameIs(name, L"DDD") ? L"ddd" : NameIs(name, L"DDDD") ? L"dddd" : NameIs(name, L"MMM") ? L"MMM" : L"MMMM";
    Char buffer[kScratchChars];
    int n = GetDateFormatW(LOCALE_USER_DEFAULT, 0, &t, picture, buffer, kScratchChars);
    return SetText(result, buffer, n > 0 ? static_cast<size_t>(n - 1) : 0);
}

Status GetNow(CallResult& result, const Char* name) {
    SYSTEMTIME t;
    if (NameIs(name, L"NowUTC"))
        GetSystemTime(&t);
    else
        t = LocalNow(false);
    Char buffer[16], *p = buffer;
    p = PutDigits(p, t.wYear, 4);
    for (unsigned part : {t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond})
        p = PutDigits(p, part, 2);
    return SetText(result, buffer, static_cast<size_t>(p - buffer));
}

Status GetTimeIdle(CallResult& result, const Char*) {
    LASTINPUTINFO info = {sizeof(info), 0};
    if (!GetLastInputInfo(&info))
        return SetText(result, L"", 0);
    return SetInteger(result, static_cast<int64_t>(static_cast<DWORD>(::GetTickCount() - info.dwTime)));
}

Status GetIsCompiled(CallResult& result, const Char*) {
    return SetInteger(result, g_script.sourceKind == SourceKind::Resource ? 1 : 0);
}
Status GetScriptHwnd(CallResult& result, const Char*) {
    return SetInteger(result, static_cast<int64_t>(reinterpret_cast<uintptr_t>(g_mainWindow)));
}
Status GetIsCritical(CallResult& result, const Char*) {
    return SetInteger(result, g_thread->settings.critical ? static_cast<int64_t>(g_thread->settings.checkInterval) : 0);
}
Status GetIsPaused(CallResult& result, const Char*) {
    PseudoThread* below = InterruptedThread();
    return SetInteger(result, below && below->paused ? 1 : 0);
}
Status GetBrmVersion(CallResult& result, const Char*) { return SetText(result, kVersion, wcslen(kVersion)); }
Status GetIsSuspended(CallResult& result, const Char*) { return SetInteger(result, g_suspended ? 1 : 0); }
// No registry loop exists yet, so its variables show "" as they do outside one; hotstrings, whose ending
// character A_EndChar would show, are not part of this build.
Status GetEmpty(CallResult& result, const Char*) { return SetText(result, L"", 0); }

Status GetComputerNameVar(CallResult& result, const Char*) {
    Char buffer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD n = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(buffer, &n)) n = 0;
    return SetText(result, buffer, n);
}
Status GetUserNameVar(CallResult& result, const Char*) {
    Char buffer[257];
    DWORD n = 257;
    if (!GetUserNameW(buffer, &n) || !n) n = 1;
    return SetText(result, buffer, n - 1);  // the count includes the terminator
}
Status GetComSpec(CallResult& result, const Char*) {
    Char buffer[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"ComSpec", buffer, MAX_PATH);
    if (!n || n >= MAX_PATH) {
        UINT m = GetSystemDirectoryW(buffer, MAX_PATH - 9);
        if (m >= MAX_PATH - 9) m = 0;
        wcscpy(buffer + m, L"\\cmd.exe");
        n = static_cast<DWORD>(wcslen(buffer));
    }
    return SetText(result, buffer, n);
}
Status GetTemp(CallResult& result, const Char*) {
    Char buffer[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
    if (n > MAX_PATH) n = 0;
    if (n > 3 && buffer[n - 1] == L'\\') --n;  // no trailing backslash, except after a drive
    return SetText(result, buffer, n);
}
Status GetWinDir(CallResult& result, const Char*) {
    Char buffer[MAX_PATH];
    UINT n = GetWindowsDirectoryW(buffer, MAX_PATH);
    return SetText(result, buffer, n < MAX_PATH ? n : 0);
}
Status GetOSVersion(CallResult& result, const Char*) {
    // GetVersionEx lies to programs without a manifest naming newer systems; the kernel's own call does not.
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    if (!rtlGetVersion || rtlGetVersion(&info) != 0)
        GetVersionExW(&info);
    Char buffer[48];
    FormatMessageText(buffer, 48, L"%u.%u.%u", info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber);
    return SetText(result, buffer, wcslen(buffer));
}
Status GetIs64bitOS(CallResult& result, const Char*) { return SetInteger(result, Is64BitOS() ? 1 : 0); }
Status GetIsAdmin(CallResult& result, const Char*) { return SetInteger(result, IsUserAnAdmin() ? 1 : 0); }
Status GetLanguage(CallResult& result, const Char*) {
    Char buffer[8];
    unsigned language = GetUserDefaultUILanguage();
    size_t n = 0;
    for (int shift = 12; shift >= 0; shift -= 4)
        buffer[n++] = L"0123456789ABCDEF"[(language >> shift) & 0xF];
    return SetText(result, buffer, n);
}
Status GetScreenMetric(CallResult& result, const Char* name) {
    if (NameIs(name, L"ScreenDPI")) {
        HDC dc = GetDC(nullptr);
        int dpi = GetDeviceCaps(dc, LOGPIXELSX);
        ReleaseDC(nullptr, dc);
        return SetInteger(result, dpi);
    }
    return SetInteger(result, GetSystemMetrics(NameIs(name, L"ScreenWidth") ? SM_CXSCREEN : SM_CYSCREEN));
}

struct FolderRow {
    const Char* name;
    int csidl;
};
constexpr FolderRow kFolders[] = {
    {L"AppData", CSIDL_APPDATA},
    {L"AppDataCommon", CSIDL_COMMON_APPDATA},
    {L"Desktop", CSIDL_DESKTOPDIRECTORY},
    {L"DesktopCommon", CSIDL_COMMON_DESKTOPDIRECTORY},
    {L"MyDocuments", CSIDL_PERSONAL},
    {L"ProgramFiles", CSIDL_PROGRAM_FILES},
    {L"Programs", CSIDL_PROGRAMS},
    {L"ProgramsCommon", CSIDL_COMMON_PROGRAMS},
    {L"StartMenu", CSIDL_STARTMENU},
    {L"StartMenuCommon", CSIDL_COMMON_STARTMENU},
    {L"Startup", CSIDL_STARTUP},
    {L"StartupCommon", CSIDL_COMMON_STARTUP},
};
Status GetFolder(CallResult& result, const Char* name) {
    const FolderRow* row = FindByName(kFolders, name + 2, wcslen(name + 2));
    Char buffer[MAX_PATH];
    if (!row || FAILED(SHGetFolderPathW(nullptr, row->csidl, nullptr, SHGFP_TYPE_CURRENT, buffer)))
        buffer[0] = L'\0';
    return SetText(result, buffer, wcslen(buffer));
}

Status GetCursorName(CallResult& result, const Char*) {
    static const struct {
        const Char* name;
        const Char* id;
    } kCursors[] = {
        {L"AppStarting", IDC_APPSTARTING}, {L"Arrow", IDC_ARROW}, {L"Cross", IDC_CROSS},
        {L"Help", IDC_HELP}, {L"IBeam", IDC_IBEAM}, {L"Icon", IDC_ICON}, {L"No", IDC_NO},
        {L"Size", IDC_SIZE}, {L"SizeAll", IDC_SIZEALL}, {L"SizeNESW", IDC_SIZENESW},
        {L"SizeNS", IDC_SIZENS}, {L"SizeNWSE", IDC_SIZENWSE}, {L"SizeWE", IDC_SIZEWE},
        {L"UpArrow", IDC_UPARROW}, {L"Wait", IDC_WAIT},
    };
    CURSORINFO info = {};
    info.cbSize = sizeof(info);
    if (GetCursorInfo(&info) && info.hCursor)
        for (const auto& c : kCursors)
            if (LoadCursorW(nullptr, c.id) == info.hCursor)
                return SetText(result, c.name, wcslen(c.name));
    return SetText(result, L"Unknown", 7);
}

// Names without "A_", sorted with the A-to-Z fold.
constexpr BuiltInVarDef kVars[] = {
    {L"AllowMainWindow", {GetAllowMainWindow, SetAllowMainWindow}},
    {L"AppData", {GetFolder, nullptr}},
    {L"AppDataCommon", {GetFolder, nullptr}},
    {L"BrmPath", {GetBrmPath, nullptr}},
    {L"BrmVersion", {GetBrmVersion, nullptr}},
    {L"ComputerName", {GetComputerNameVar, nullptr}},
    {L"ComSpec", {GetComSpec, nullptr}},
    {L"ControlDelay", {GetDelay, SetDelay}},
    {L"CoordModeCaret", {GetCoordMode, SetCoordMode}},
    {L"CoordModeMenu", {GetCoordMode, SetCoordMode}},
    {L"CoordModeMouse", {GetCoordMode, SetCoordMode}},
    {L"CoordModePixel", {GetCoordMode, SetCoordMode}},
    {L"CoordModeToolTip", {GetCoordMode, SetCoordMode}},
    {L"Cursor", {GetCursorName, nullptr}},
    {L"DD", {GetDatePart, nullptr}},
    {L"DDD", {GetDateName, nullptr}},
    {L"DDDD", {GetDateName, nullptr}},
    {L"DefaultMouseSpeed", {GetMouseSpeed, SetMouseSpeed}},
    {L"Desktop", {GetFolder, nullptr}},
    {L"DesktopCommon", {GetFolder, nullptr}},
    {L"DetectHiddenText", {GetFlag, SetFlag}},
    {L"DetectHiddenWindows", {GetFlag, SetFlag}},
    {L"EndChar", {GetEmpty, nullptr}},
    {L"EventInfo", {GetEventInfo, SetEventInfo}},
    {L"FileEncoding", {GetFileEncoding, SetFileEncoding}},
    {L"HotkeyInterval", {GetHotkeyLimit, SetHotkeyLimit}},
    {L"HotkeyModifierTimeout", {GetHotkeyLimit, SetHotkeyLimit}},
    {L"Hour", {GetDatePart, nullptr}},
    {L"IconFile", {GetIconFile, nullptr}},
    {L"IconHidden", {GetIconHidden, SetIconHidden}},
    {L"IconNumber", {GetIconNumber, nullptr}},
    {L"IconTip", {GetIconTip, SetIconTip}},
    {L"Index", {GetIndex, SetIndex}},
    {L"InitialWorkingDir", {GetInitialWorkingDir, nullptr}},
    {L"Is64bitOS", {GetIs64bitOS, nullptr}},
    {L"IsAdmin", {GetIsAdmin, nullptr}},
    {L"IsCompiled", {GetIsCompiled, nullptr}},
    {L"IsCritical", {GetIsCritical, nullptr}},
    {L"IsPaused", {GetIsPaused, nullptr}},
    {L"IsSuspended", {GetIsSuspended, nullptr}},
    {L"KeyDelay", {GetDelay, SetDelay}},
    {L"KeyDelayPlay", {GetDelay, SetDelay}},
    {L"KeyDuration", {GetDelay, SetDelay}},
    {L"KeyDurationPlay", {GetDelay, SetDelay}},
    {L"Language", {GetLanguage, nullptr}},
    {L"LastError", {GetLastErrorVar, SetLastErrorVar}},
    {L"LineFile", {GetLineFile, nullptr}},
    {L"LineNumber", {GetLineNumber, nullptr}},
    {L"ListLines", {GetFlag, SetFlag}},
    {L"LoopField", {GetLoopField, nullptr}},
    {L"LoopFileAttrib", {GetLoopFileVar, nullptr}},
    {L"LoopFileDir", {GetLoopFileVar, nullptr}},
    {L"LoopFileExt", {GetLoopFileVar, nullptr}},
    {L"LoopFileFullPath", {GetLoopFileVar, nullptr}},
    {L"LoopFileName", {GetLoopFileVar, nullptr}},
    {L"LoopFilePath", {GetLoopFileVar, nullptr}},
    {L"LoopFileShortName", {GetLoopFileVar, nullptr}},
    {L"LoopFileShortPath", {GetLoopFileVar, nullptr}},
    {L"LoopFileSize", {GetLoopFileVar, nullptr}},
    {L"LoopFileSizeKB", {GetLoopFileVar, nullptr}},
    {L"LoopFileSizeMB", {GetLoopFileVar, nullptr}},
    {L"LoopFileTimeAccessed", {GetLoopFileVar, nullptr}},
    {L"LoopFileTimeCreated", {GetLoopFileVar, nullptr}},
    {L"LoopFileTimeModified", {GetLoopFileVar, nullptr}},
    {L"LoopReadLine", {GetLoopReadLine, nullptr}},
    {L"LoopRegKey", {GetLoopRegVar, nullptr}},
    {L"LoopRegName", {GetLoopRegVar, nullptr}},
    {L"LoopRegTimeModified", {GetLoopRegVar, nullptr}},
    {L"LoopRegType", {GetLoopRegVar, nullptr}},
    {L"MaxHotkeysPerInterval", {GetHotkeyLimit, SetHotkeyLimit}},
    {L"MDay", {GetDatePart, nullptr}},
    {L"Min", {GetDatePart, nullptr}},
    {L"MM", {GetDatePart, nullptr}},
    {L"MMM", {GetDateName, nullptr}},
    {L"MMMM", {GetDateName, nullptr}},
    {L"Mon", {GetDatePart, nullptr}},
    {L"MouseDelay", {GetDelay, SetDelay}},
    {L"MouseDelayPlay", {GetDelay, SetDelay}},
    {L"MSec", {GetDatePart, nullptr}},
    {L"MyDocuments", {GetFolder, nullptr}},
    {L"Now", {GetNow, nullptr}},
    {L"NowUTC", {GetNow, nullptr}},
    {L"OSVersion", {GetOSVersion, nullptr}},
    {L"ProgramFiles", {GetFolder, nullptr}},
    {L"Programs", {GetFolder, nullptr}},
    {L"ProgramsCommon", {GetFolder, nullptr}},
    {L"PtrSize", {GetPtrSize, nullptr}},
    {L"RegView", {GetRegView, SetRegView}},
    {L"ScreenDPI", {GetScreenMetric, nullptr}},
    {L"ScreenHeight", {GetScreenMetric, nullptr}},
    {L"ScreenWidth", {GetScreenMetric, nullptr}},
    {L"ScriptDir", {GetScriptDir, nullptr}},
    {L"ScriptFullPath", {GetScriptFullPath, nullptr}},
    {L"ScriptHwnd", {GetScriptHwnd, nullptr}},
    {L"ScriptName", {GetScriptName, SetScriptName}},
    {L"Sec", {GetDatePart, nullptr}},
    {L"SendLevel", {GetSendLevel, SetSendLevel}},
    {L"SendMode", {GetSendMode, SetSendMode}},
    {L"Space", {GetSpace, nullptr}},
    {L"StartMenu", {GetFolder, nullptr}},
    {L"StartMenuCommon", {GetFolder, nullptr}},
    {L"Startup", {GetFolder, nullptr}},
    {L"StartupCommon", {GetFolder, nullptr}},
    {L"StoreCapsLockMode", {GetFlag, SetFlag}},
    {L"Tab", {GetTab, nullptr}},
    {L"Temp", {GetTemp, nullptr}},
    {L"ThisFunc", {GetThisFunc, nullptr}},
    {L"TickCount", {GetTickCount, nullptr}},
    {L"TimeIdle", {GetTimeIdle, nullptr}},
    {L"TimeIdleKeyboard", {GetTimeIdle, nullptr}},
    {L"TimeIdleMouse", {GetTimeIdle, nullptr}},
    {L"TimeIdlePhysical", {GetTimeIdle, nullptr}},
    {L"TitleMatchMode", {GetTitleMatchMode, SetTitleMatchMode}},
    {L"TitleMatchModeSpeed", {GetTitleMatchModeSpeed, SetTitleMatchMode}},
    {L"TrayMenu", {GetTrayMenu, nullptr}},
    {L"UserName", {GetUserNameVar, nullptr}},
    {L"WDay", {GetDatePart, nullptr}},
    {L"WinDelay", {GetDelay, SetDelay}},
    {L"WinDir", {GetWinDir, nullptr}},
    {L"WorkingDir", {GetWorkingDir, SetWorkingDir}},
    {L"YDay", {GetDatePart, nullptr}},
    {L"Year", {GetDatePart, nullptr}},
    {L"YWeek", {GetDatePart, nullptr}},
    {L"YYYY", {GetDatePart, nullptr}},
};
constexpr size_t kVarCount = sizeof(kVars) / sizeof(kVars[0]);

constexpr bool TableSorted() { return IsSortedByName(kVars); }
static_assert(TableSorted(), "built-in variables must be sorted in A-to-Z-folded order for binary search");

}  // namespace

bool ParseCoordMode(const Char* text, int& mode) {
    for (mode = 0; mode < 3; ++mode)
        if (TextIs(text, CoordModeName(mode)))
            return true;
    return false;
}

const Char* CoordModeName(int mode) {
    static constexpr const Char* kNames[] = {L"Client", L"Window", L"Screen"};
    return kNames[mode >= 0 && mode < 3 ? mode : 0];
}

void SetCoordModeBits(int shift, int mode) {
    ThreadSettings& t = g_thread->settings;
    t.coordModes = static_cast<uint16_t>((t.coordModes & ~(3 << shift)) | (mode << shift));
}

bool ApplyTitleMatchWord(const Char* text) {
    ThreadSettings& t = g_thread->settings;
    if ((text[0] == L'1' || text[0] == L'2' || text[0] == L'3') && !text[1])
        t.titleMatchMode = text[0] - L'0';
    else if (TextIs(text, L"RegEx"))
        t.titleMatchMode = 4;
    else if (TextIs(text, L"Fast"))
        t.titleMatchFast = true;
    else if (TextIs(text, L"Slow"))
        t.titleMatchFast = false;
    else
        return false;
    return true;
}

bool ParseRegView(const Char* text, int32_t& view) {
    if (!wcscmp(text, L"32"))
        view = kRegView32;
    else if (!wcscmp(text, L"64"))
        view = kRegView64;
    else if (TextIs(text, L"Default"))
        view = 0;
    else
        return false;
    return true;
}

const Char* RegViewName(int32_t view) { return view == kRegView64 ? L"64" : view == kRegView32 ? L"32" : L"Default"; }

void StoreRegView(int32_t view) {
    // Only a 32-bit program on a 64-bit system has the other view to choose; elsewhere the setting stays.
    BOOL wow64 = FALSE;
    if (IsWow64Process(GetCurrentProcess(), &wow64) && wow64)
        g_thread->settings.regView = view;
}

const BuiltInVarDef* FindBuiltInVar(const Char* name, size_t length) {
    return FindByName(kVars, name, length);
}

bool BuiltInVarTableIsSorted() { return TableSorted(); }

}  // namespace brm
