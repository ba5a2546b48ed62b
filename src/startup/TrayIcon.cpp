// The notification-area icon: which icon it shows, the script's own icon, the tip and balloons, the
// clicks on it, and the tray menu those clicks open or run.
#include "startup/TrayIcon.h"
#include <shellapi.h>
#include <cstdlib>
#include <cwchar>
#include <string>
#include "base/Messages.h"
#include "base/SortedTable.h"
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "loader/Directives.h"
#include "objects/MdFunc.h"
#include "runtime/PseudoThread.h"
#include "startup/MainWindow.h"
#include "startup/ScriptHost.h"
#include "startup/UserMenu.h"

namespace brm {

namespace {

// The shell's fixed buffers, without their terminators (NOTIFYICONDATAW szTip, szInfoTitle, szInfo).
constexpr size_t kMaxTipChars = 127;
constexpr size_t kMaxBalloonTitleChars = 63;
constexpr size_t kMaxBalloonTextChars = 255;
// A longer TrayTip option cannot be a valid one; refusing it keeps the quoted word short.
constexpr size_t kMaxOptionWordChars = 256;

// The script's own icon at small and large size (both may be one handle). A handle the script passed
// with "*" stays the script's: it is never destroyed here.
class CustomIcons {
public:
    CustomIcons() = default;
    ~CustomIcons() { Reset(); }
    CustomIcons(const CustomIcons&) = delete;
    CustomIcons& operator=(const CustomIcons&) = delete;

    // The previous icons are destroyed after the new ones are in place, unless they are the new ones.
    void Adopt(HICON small, HICON large, bool owned) {
        HICON oldSmall = m_small, oldLarge = m_large;
        bool oldOwned = m_owned;
        m_small = small;
        m_large = large;
        m_owned = owned;
        if (!oldOwned) return;
        if (oldLarge && oldLarge != oldSmall && oldLarge != small && oldLarge != large) DestroyIcon(oldLarge);
        if (oldSmall && oldSmall != small && oldSmall != large) DestroyIcon(oldSmall);
    }
    void Reset() { Adopt(nullptr, nullptr, false); }
    HICON Small() const { return m_small; }
    HICON Large() const { return m_large; }

private:
    HICON m_small = nullptr;
    HICON m_large = nullptr;
    bool m_owned = false;
};

UserMenu* s_trayMenu = nullptr;  // one reference, released at termination
bool s_hidden = false;           // A_IconHidden
bool s_added = false;            // the shell has the icon
bool s_frozen = false;           // state changes leave the icon as it is
bool s_shownPaused = false;
bool s_shownSuspended = false;
HICON s_shownIcon = nullptr;
bool s_tipSet = false;
std::wstring s_tip;              // A_IconTip once assigned, at most kMaxTipChars
CustomIcons s_custom;
std::wstring s_iconFile;         // A_IconFile
int32_t s_iconNumber = 0;        // A_IconNumber
HICON s_stateIcons[4];           // shared: owned by the module
int s_stateIconSize = 0;

// Copies at most max characters and never splits a surrogate pair; returns the count copied.
size_t CopyCut(wchar_t* dest, size_t max, const Char* text, size_t length) {
    size_t n = length < max ? length : max;
    if (n && n < length && IS_HIGH_SURROGATE(text[n - 1])) --n;
    wmemcpy(dest, text, n);
    dest[n] = L'\0';
    return n;
}

std::wstring Cut(const Char* text, size_t length, size_t max) {
    wchar_t buffer[kMaxOptionWordChars + 1];
    size_t n = CopyCut(buffer, max < kMaxOptionWordChars ? max : kMaxOptionWordChars, text, length);
    return std::wstring(buffer, n);
}

const std::wstring& ScriptName() {
    return g_script.scriptNameOverridden ? g_script.scriptNameOverride : g_script.scriptName;
}

std::wstring CurrentTip() {
    if (s_tipSet) return s_tip;
    const std::wstring& name = ScriptName();
    return Cut(name.c_str(), name.size(), kMaxTipChars);
}

// The small-icon size in the tray's own DPI: on a system that scales the taskbar apart from the screen,
// the screen's size would be blurred or cut there.
int TrayIconSize() {
    int size = GetSystemMetrics(SM_CXSMICON);
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (!getDpiForWindow) return size;
    HWND taskbar = FindWindowW(L"Shell_TrayWnd", nullptr);
    if (!taskbar) return size;
    UINT trayDpi = getDpiForWindow(taskbar);
    HDC screen = GetDC(nullptr);
    int screenDpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
    if (screen) ReleaseDC(nullptr, screen);
    if (!trayDpi || screenDpi <= 0) return size;
    return MulDiv(size, static_cast<int>(trayDpi), screenDpi);
}

HICON ModuleIcon(WORD id, int size) {
    return static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_SHARED));
}

HICON ChosenIcon() {
    bool paused = g_thread->paused, suspended = g_suspended;
    if (s_custom.Small() && (s_frozen || (!paused && !suspended))) return s_custom.Small();
    return TrayStateIcon(paused, suspended);
}

NOTIFYICONDATAW NotifyData() {
    NOTIFYICONDATAW nid{};
    nid.cbSize = sizeof(nid);
    nid.hWnd = g_mainWindow;
    nid.uID = kTrayIconId;
    return nid;
}

bool SendIcon(DWORD message, HICON icon) {
    NOTIFYICONDATAW nid = NotifyData();
    nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    nid.uCallbackMessage = kTrayIconMessage;
    nid.hIcon = icon;
    std::wstring tip = CurrentTip();
    CopyCut(nid.szTip, kMaxTipChars, tip.c_str(), tip.size());
    return Shell_NotifyIconW(message, &nid) != FALSE;
}

void Shown(HICON icon) {
    s_added = true;
    s_shownIcon = icon;
    s_shownPaused = g_thread->paused;
    s_shownSuspended = g_suspended;
}

void AddIcon() {
    if (!g_mainWindow) return;
    HICON icon = ChosenIcon();
    // An icon still there (a taskbar that came back by itself) is brought up to date instead.
    if (SendIcon(NIM_ADD, icon) || SendIcon(NIM_MODIFY, icon)) Shown(icon);
}

void RemoveIcon() {
    if (s_added && g_mainWindow) {
        NOTIFYICONDATAW nid = NotifyData();
        Shell_NotifyIconW(NIM_DELETE, &nid);
    }
    s_added = false;
    s_shownIcon = nullptr;
}

// "HICON:" or "HBITMAP:" followed by an optional "*" (the handle stays the caller's) and the handle.
bool ParseHandleText(const Char* text, const Char* prefix, uintptr_t& handle, bool& keep) {
    size_t n = wcslen(prefix);
    if (CompareFoldAZ(text, prefix, n) != 0) return false;
    const Char* p = text + n;
    keep = *p == L'*';
    if (keep) ++p;
    handle = 0;
    if (IsNumeric(p, AllowNegative::No, AllowEmpty::No, AllowFloat::No) == NumericKind::Integer)
        handle = static_cast<uintptr_t>(ParseInt64(p));
    return true;
}

HICON IconFromBitmap(HBITMAP bitmap) {
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmMask = bitmap;
    info.hbmColor = bitmap;
    return CreateIconIndirect(&info);
}

std::wstring Extension(const std::wstring& path) {
    size_t dot = path.find_last_of(L'.');
    size_t slash = path.find_last_of(L"\\/");
    if (dot == std::wstring::npos || (slash != std::wstring::npos && dot < slash)) return {};
    return path.substr(dot + 1);
}

// Icon number n of a file at one size: counted from 1 in an executable, library or icon file (0 is the
// first too), a negative number naming the icon group with that resource id; a bitmap file is made an
// icon. Null when there is no such icon.
HICON LoadFileIcon(const std::wstring& path, int32_t number, int width, int height) {
    std::wstring ext = Extension(path);
    if (number <= 1 && CompareFoldAZ(ext.c_str(), L"bmp") == 0) {
        auto bitmap = static_cast<HBITMAP>(LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, width, height, LR_LOADFROMFILE));
        if (!bitmap) return nullptr;
        HICON icon = IconFromBitmap(bitmap);
        DeleteObject(bitmap);
        return icon;
    }
    HICON icon = nullptr;
    UINT id = 0;
    int index = number > 0 ? number - 1 : number;
    if (PrivateExtractIconsW(path.c_str(), index, width, height, &icon, &id, 1, 0) == 1 && icon) return icon;
    if (number > 1) return nullptr;
    return static_cast<HICON>(LoadImageW(nullptr, path.c_str(), IMAGE_ICON, width, height, LR_LOADFROMFILE));
}

// The file as the system finds it (the working directory, then the program and system folders), so that
// "shell32.dll" names the library that was read.
bool FindFile(const Char* file, std::wstring& path) {
    DWORD needed = SearchPathW(nullptr, file, nullptr, 0, nullptr, nullptr);
    if (!needed) return false;
    path.assign(needed, L'\0');
    DWORD length = SearchPathW(nullptr, file, nullptr, needed, path.data(), nullptr);
    if (!length || length >= needed) return false;
    path.resize(length);
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

struct LoadedIcons {
    HICON small = nullptr;
    HICON large = nullptr;
    bool owned = true;
    std::wstring source;
};

bool LoadIcons(const Char* file, int32_t number, LoadedIcons& out) {
    uintptr_t handle;
    bool keep;
    if (ParseHandleText(file, L"HICON:", handle, keep)) {
        ICONINFO info{};
        auto icon = reinterpret_cast<HICON>(handle);
        if (!handle || !GetIconInfo(icon, &info)) return false;
        if (info.hbmMask) DeleteObject(info.hbmMask);
        if (info.hbmColor) DeleteObject(info.hbmColor);
        out = {icon, icon, !keep, file};
        return true;
    }
    if (ParseHandleText(file, L"HBITMAP:", handle, keep)) {
        auto bitmap = reinterpret_cast<HBITMAP>(handle);
        BITMAP info{};
        if (!handle || !GetObjectW(bitmap, sizeof(info), &info)) return false;
        HICON icon = IconFromBitmap(bitmap);
        if (!icon) return false;
        if (!keep) DeleteObject(bitmap);
        out = {icon, icon, true, file};
        return true;
    }
    std::wstring path;
    if (!FindFile(file, path)) return false;
    HICON small = LoadFileIcon(path, number, GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON));
    HICON large = small ? LoadFileIcon(path, number, GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)) : nullptr;
    if (!large) {
        if (small) DestroyIcon(small);
        return false;
    }
    out = {small, large, true, path};
    return true;
}

void RunDefaultItem(UserMenu& menu) {
    MenuItem* item = menu.DefaultItem();
    if (!item || (item->state & MFS_DISABLED) || !g_mainWindow) return;
    PostMessageW(g_mainWindow, WM_COMMAND, static_cast<WPARAM>(item->id), 0);
}

Status SetText(CallResult& result, const std::wstring& text) {
    Char* target = result.buffer;
    if (text.size() >= static_cast<size_t>(kScratchChars)) {
        target = static_cast<Char*>(malloc((text.size() + 1) * sizeof(Char)));
        if (!target) return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
        result.memToFree = target;
    }
    wmemcpy(target, text.c_str(), text.size() + 1);
    result.value.SetString(target, static_cast<int32_t>(text.size()));
    return Status::Ok;
}

struct BalloonWord {
    const Char* word;
    DWORD icon;  // replaces the icon bits
};
const BalloonWord kBalloonIcons[] = {
    {L"Icon", NIIF_NONE}, {L"Iconi", NIIF_INFO}, {L"Icon!", NIIF_WARNING}, {L"Iconx", NIIF_ERROR},
};
constexpr DWORD kBalloonIconBits = 3;

// TrayTip's options: words separated by blanks; false (with the word raised) for a bad one.
bool ParseBalloonOptions(const Char* text, DWORD& flags) {
    for (const Char* p = text; *p;) {
        if (*p == L' ' || *p == L'\t') {
            ++p;
            continue;
        }
        const Char* start = p;
        while (*p && *p != L' ' && *p != L'\t') ++p;
        size_t length = static_cast<size_t>(p - start);
        std::wstring word(start, length < kMaxOptionWordChars + 1 ? length : kMaxOptionWordChars + 1);
        bool known = length <= kMaxOptionWordChars;
        if (known) {
            known = false;
            for (const BalloonWord& w : kBalloonIcons)
                if (CompareFoldAZ(word.c_str(), w.word) == 0) {
                    flags = (flags & ~kBalloonIconBits) | w.icon;
                    known = true;
                }
            if (!known && CompareFoldAZ(word.c_str(), L"Mute") == 0) {
                flags |= NIIF_NOSOUND;
                known = true;
            }
            if (!known && IsNumeric(word.c_str(), AllowNegative::Yes, AllowEmpty::No, AllowFloat::No) == NumericKind::Integer) {
                flags |= static_cast<DWORD>(ParseInt64(word.c_str()));
                known = true;
            }
        }
        if (!known) {
            (void)RaiseMsg(ErrorClass::ValueError, Msg::InvalidOption, word.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

void CreateTrayMenu() {
    if (s_trayMenu) return;
    s_trayMenu = UserMenu::Create(UserMenu::Kind::Popup);
    if (s_trayMenu) s_trayMenu->AddStandard();
}

UserMenu* TrayMenu() { return s_trayMenu; }

void CreateTrayIcon() {
    s_hidden = g_directives.noTrayIcon;
    if (!s_hidden) AddIcon();
}

void DestroyTrayIcon() {
    RemoveIcon();
    s_custom.Reset();
    if (UserMenu* menu = s_trayMenu) {
        s_trayMenu = nullptr;  // what releasing runs finds no tray menu any more
        menu->Release();
    }
}

HICON TrayStateIcon(bool paused, bool suspended) {
    static constexpr WORD kIds[] = {kIconNormal, kIconSuspended, kIconPaused, kIconPausedSuspended};
    int index = (paused ? 2 : 0) + (suspended ? 1 : 0);
    if (!s_stateIconSize) s_stateIconSize = TrayIconSize();
    if (!s_stateIcons[index]) s_stateIcons[index] = ModuleIcon(kIds[index], s_stateIconSize);
    return s_stateIcons[index];
}

HICON ShownTrayIcon() { return s_added ? s_shownIcon : nullptr; }

void UpdateTrayIcon(bool forced) {
    if (s_hidden || !g_mainWindow) return;
    if (!forced && (s_frozen || (g_thread->paused == s_shownPaused && g_suspended == s_shownSuspended))) return;
    HICON icon = ChosenIcon();
    if (SendIcon(NIM_MODIFY, icon) || SendIcon(NIM_ADD, icon)) Shown(icon);
}

void HandleTrayMessage(LPARAM mouseMessage) {
    if (!s_trayMenu) return;
    Ref<UserMenu> menu = Ref<UserMenu>::Borrow(s_trayMenu);
    switch (static_cast<UINT>(mouseMessage)) {
        case WM_LBUTTONUP:
            if (menu->ClickCount() == 1) RunDefaultItem(*menu.get());
            break;
        case WM_LBUTTONDBLCLK:
            // With one click to run it, the double click's first click has run the item already.
            if (menu->ClickCount() == 2) RunDefaultItem(*menu.get());
            break;
        case WM_RBUTTONUP: {
            POINT at{};
            GetCursorPos(&at);
            menu->TrackAt(at, UserMenu::ShownFrom::WindowProcedure);
            break;
        }
    }
}

void HandleTaskbarCreated() {
    if (s_hidden) return;
    s_added = false;  // the new taskbar has no icons yet
    UpdateTrayIcon(true);
}

void AllowMainWindowChanged() {
    const bool allow = g_script.allowMainWindow;
    if (s_trayMenu) s_trayMenu->SetStandardOpen(allow);
    if (HMENU bar = g_mainWindow ? GetMenu(g_mainWindow) : nullptr)
        for (UINT id = kMenuViewLines; id <= kMenuViewKeyHistory; ++id)
            EnableMenuItem(bar, id, MF_BYCOMMAND | (allow ? MF_ENABLED : MF_GRAYED));
}

FResult BifTraySetIcon(Opt<const Char*> fileName, Opt<int32_t> iconNumber, Opt<bool> freeze) {
    const Char* file = fileName ? *fileName : L"";
    if (wcscmp(file, L"*") == 0) {
        s_custom.Reset();
        s_iconFile.clear();
        s_iconNumber = 0;
    } else if (*file) {
        int32_t number = iconNumber ? *iconNumber : 1;
        LoadedIcons loaded;
        if (!LoadIcons(file, number, loaded)) {
            (void)RaiseMsg(ErrorClass::Error, Msg::CantLoadIcon, file);
            return FrFail;  // nothing changed, the freeze included
        }
        s_custom.Adopt(loaded.small, loaded.large, loaded.owned);
        s_iconFile = std::move(loaded.source);
        s_iconNumber = number;
    }
    if (freeze) s_frozen = *freeze;
    UpdateTrayIcon(true);
    return FrOk;
}

FResult BifTrayTip(Opt<const Char*> text, Opt<const Char*> title, Opt<const Char*> options) {
    DWORD flags = 0;
    if (options && !ParseBalloonOptions(*options, flags)) return FrFail;
    NOTIFYICONDATAW nid = NotifyData();
    nid.uFlags = NIF_INFO;
    const Char* body = text ? *text : L"";
    const Char* heading = title ? *title : L"";
    CopyCut(nid.szInfoTitle, kMaxBalloonTitleChars, heading, wcslen(heading));
    // The shell shows no balloon without text: a title alone gets a blank one. Both empty remove it.
    if (!*body && *heading) body = L" ";
    CopyCut(nid.szInfo, kMaxBalloonTextChars, body, wcslen(body));
    nid.dwInfoFlags = flags;
    if (flags & NIIF_USER) {
        bool large = (flags & NIIF_LARGE_ICON) != 0;
        nid.hBalloonIcon = (large ? s_custom.Large() : s_custom.Small());
        if (!nid.hBalloonIcon)
            nid.hBalloonIcon = ModuleIcon(kIconNormal, GetSystemMetrics(large ? SM_CXICON : SM_CXSMICON));
    }
    if (g_mainWindow && !Shell_NotifyIconW(NIM_MODIFY, &nid) && (flags & NIIF_USER)) {
        nid.dwInfoFlags &= ~static_cast<DWORD>(NIIF_USER);
        nid.hBalloonIcon = nullptr;
        Shell_NotifyIconW(NIM_MODIFY, &nid);
    }
    return FrOk;
}

Status GetIconHidden(CallResult& result, const Char*) {
    result.value.SetInteger(s_hidden ? 1 : 0);
    return Status::Ok;
}

Status SetIconHidden(const ValueToken& value, const Char*) {
    bool hide = TokenToBool(value);
    if (hide) {
        s_hidden = true;
        RemoveIcon();
    } else if (s_hidden || !s_added) {
        s_hidden = false;
        AddIcon();
    }
    return Status::Ok;
}

Status GetIconTip(CallResult& result, const Char*) { return SetText(result, CurrentTip()); }

Status SetIconTip(const ValueToken& value, const Char*) {
    Char buffer[kScratchChars];
    int32_t length;
    const Char* text = TokenToString(value, buffer, &length);
    if (length < 0) length = static_cast<int32_t>(wcslen(text));
    s_tip = Cut(text, static_cast<size_t>(length), kMaxTipChars);
    s_tipSet = true;
    if (s_added && g_mainWindow) {
        NOTIFYICONDATAW nid = NotifyData();
        nid.uFlags = NIF_TIP;
        CopyCut(nid.szTip, kMaxTipChars, s_tip.c_str(), s_tip.size());
        Shell_NotifyIconW(NIM_MODIFY, &nid);
    }
    return Status::Ok;
}

Status GetIconFile(CallResult& result, const Char*) { return SetText(result, s_iconFile); }

Status GetIconNumber(CallResult& result, const Char*) {
    result.value.SetInteger(s_iconNumber);
    return Status::Ok;
}

Status GetTrayMenu(CallResult& result, const Char*) {
    if (!s_trayMenu) return SetText(result, std::wstring());
    s_trayMenu->AddRef();  // the result owns one reference
    result.value.SetObject(s_trayMenu);
    return Status::Ok;
}

}  // namespace brm
