// The tray icon against the real shell: which icon it shows for the paused and suspended states and a
// script's own icon, whose icon handles it takes over, and the tray menu of an embedded script.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "objects/MdFunc.h"
#include "objects/NativeClass.h"
#include "runtime/PseudoThread.h"
#include "startup/MainWindow.h"
#include "startup/ScriptHost.h"
#include "startup/TrayIcon.h"
#include "startup/UserMenu.h"

namespace brm::test {
namespace {

Opt<const Char*> File(const Char* text) { return {true, text}; }
Opt<int32_t> Number(int32_t n) { return {true, n}; }
Opt<bool> Freeze(bool on) { return {true, on}; }

bool IconAlive(HICON icon) {
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) return false;
    if (info.hbmMask) DeleteObject(info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    return true;
}

std::wstring HandleText(const Char* prefix, void* handle) {
    return prefix + std::to_wstring(reinterpret_cast<uintptr_t>(handle));
}

void CALLBACK CloseMenu(HWND, UINT, UINT_PTR, DWORD) { EndMenu(); }

class TrayIconTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CreateBuiltInClasses(), Status::Ok);
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"TrayIconTest";
        RegisterClassW(&wc);
        g_mainWindow = CreateWindowExW(0, wc.lpszClassName, L"TrayIconTest", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                       nullptr, nullptr, wc.hInstance, nullptr);
        ASSERT_TRUE(g_mainWindow);
        g_script.scriptName = L"TrayIconTest";
    }
    void TearDown() override {
        DestroyTrayIcon();
        g_thread->paused = false;
        g_suspended = false;
        g_script.sourceKind = SourceKind::File;
        g_script.allowMainWindow = true;
        DestroyWindow(g_mainWindow);
        g_mainWindow = nullptr;
    }
    static void SetIcon(const std::wstring& file, Opt<bool> freeze = {}) {
        ASSERT_EQ(BifTraySetIcon(File(file.c_str()), {}, freeze).code, FrOk.code) << file;
    }
    static void State(bool paused, bool suspended) {
        g_thread->paused = paused;
        g_suspended = suspended;
        UpdateTrayIcon(false);
    }
    // The items of the tray menu's handle, separators as "----", the default marked with "*".
    static std::vector<std::wstring> TrayItems() {
        std::vector<std::wstring> items;
        ValueToken self;
        self.SetObject(TrayMenu());
        wchar_t scratch[kScratchChars];
        CallResult result(scratch);
        EXPECT_EQ(InvokeValue(result, InvokeGet, L"Handle", self, nullptr, 0), Status::Ok);
        HMENU menu = reinterpret_cast<HMENU>(static_cast<uintptr_t>(result.value.valueInt64));
        UINT defaultItem = GetMenuDefaultItem(menu, TRUE, 0);
        for (int i = 0; i < GetMenuItemCount(menu); ++i) {
            wchar_t text[300] = L"";
            if (GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_SEPARATOR) wcscpy(text, L"----");
            else GetMenuStringW(menu, static_cast<UINT>(i), text, 300, MF_BYPOSITION);
            items.push_back(std::wstring(text) + (static_cast<UINT>(i) == defaultItem ? L"*" : L""));
        }
        return items;
    }
};

TEST_F(TrayIconTest, StateIconsFollowPauseAndSuspendUnlessACustomIconIsFrozen) {
    CreateTrayIcon();
    HICON normal = TrayStateIcon(false, false), suspended = TrayStateIcon(false, true);
    HICON paused = TrayStateIcon(true, false), both = TrayStateIcon(true, true);
    for (HICON icon : {normal, suspended, paused, both}) ASSERT_TRUE(icon);
    EXPECT_NE(normal, suspended);
    EXPECT_NE(normal, paused);
    EXPECT_NE(paused, both);
    EXPECT_NE(suspended, both);
    ASSERT_EQ(ShownTrayIcon(), normal) << "the shell took no icon";

    struct Case {
        bool paused, suspended;
        HICON expected;
    };
    for (const Case& c : {Case{true, false, paused}, Case{true, true, both}, Case{false, true, suspended},
                          Case{false, false, normal}}) {
        State(c.paused, c.suspended);
        EXPECT_EQ(ShownTrayIcon(), c.expected) << "paused " << c.paused << " suspended " << c.suspended;
    }

    SetIcon(L"shell32.dll");
    HICON custom = ShownTrayIcon();
    for (HICON icon : {normal, suspended, paused, both}) EXPECT_NE(custom, icon);
    State(true, false);
    EXPECT_EQ(ShownTrayIcon(), paused) << "an unfrozen custom icon gives way to the paused state";
    State(false, false);
    EXPECT_EQ(ShownTrayIcon(), custom);

    ASSERT_EQ(BifTraySetIcon({}, {}, Freeze(true)).code, FrOk.code);
    State(true, true);
    EXPECT_EQ(ShownTrayIcon(), custom) << "a frozen icon stays through state changes";
    ASSERT_EQ(BifTraySetIcon({}, {}, Freeze(false)).code, FrOk.code);
    EXPECT_EQ(ShownTrayIcon(), both) << "unfreezing shows the state at once";
    State(false, false);
    SetIcon(L"*");
    EXPECT_EQ(ShownTrayIcon(), normal);

    // Hidden, the icon is gone from the shell; shown again, it has the current state.
    ValueToken on, off;
    on.SetInteger(1);
    off.SetInteger(0);
    ASSERT_EQ(SetIconHidden(on, L"A_IconHidden"), Status::Ok);
    EXPECT_EQ(ShownTrayIcon(), nullptr);
    State(true, false);
    EXPECT_EQ(ShownTrayIcon(), nullptr) << "a hidden icon is not updated";
    ASSERT_EQ(SetIconHidden(off, L"A_IconHidden"), Status::Ok);
    EXPECT_EQ(ShownTrayIcon(), paused);
}

TEST_F(TrayIconTest, HandlesAreTakenOverUnlessStarred) {
    CreateTrayIcon();
    auto makeIcon = [] {
        BYTE andBits[32 * 4], xorBits[32 * 4];
        memset(andBits, 0xFF, sizeof andBits);
        memset(xorBits, 0, sizeof xorBits);
        return CreateIcon(GetModuleHandleW(nullptr), 32, 32, 1, 1, andBits, xorBits);
    };
    HICON kept = makeIcon();
    ASSERT_TRUE(kept);
    SetIcon(HandleText(L"HICON:*", kept));
    EXPECT_EQ(ShownTrayIcon(), kept);
    SetIcon(L"*");
    EXPECT_TRUE(IconAlive(kept)) << "a starred handle stays the caller's";
    DestroyIcon(kept);

    HICON given = makeIcon();
    SetIcon(HandleText(L"HICON:", given));
    SetIcon(HandleText(L"hicon:", given));  // the same handle again is not destroyed by its own replacement
    EXPECT_TRUE(IconAlive(given));
    EXPECT_EQ(ShownTrayIcon(), given);
    SetIcon(L"*");
    EXPECT_FALSE(IconAlive(given)) << "a handle given without a star belongs to the tray icon";

    HBITMAP bitmap = CreateBitmap(16, 16, 1, 32, nullptr);
    ASSERT_TRUE(bitmap);
    BITMAP info{};
    SetIcon(HandleText(L"HBITMAP:*", bitmap));
    HICON fromBitmap = ShownTrayIcon();
    EXPECT_TRUE(fromBitmap && fromBitmap != TrayStateIcon(false, false));
    EXPECT_TRUE(GetObjectW(bitmap, sizeof info, &info)) << "a starred bitmap stays the caller's";
    SetIcon(HandleText(L"HBITMAP:", bitmap));
    EXPECT_FALSE(IconAlive(fromBitmap)) << "the icon made from the first bitmap went with it";
    EXPECT_FALSE(GetObjectW(bitmap, sizeof info, &info)) << "a bitmap given without a star is used up";
}

TEST_F(TrayIconTest, AnEmbeddedScriptHasNoItemsForAScriptFile) {
    using Items = std::vector<std::wstring>;
    const Items file = {L"&Open*", L"&Help", L"----", L"&Frame Peek", L"&Reload Script", L"&Edit Script", L"----",
                        L"&Suspend Hotkeys", L"&Pause Script", L"E&xit"};
    const Items embedded = {L"&Open*", L"----", L"&Suspend Hotkeys", L"&Pause Script", L"E&xit"};
    const Items embeddedNoWindow = {L"&Suspend Hotkeys", L"&Pause Script", L"E&xit"};
    struct Case {
        SourceKind kind;
        bool allowMainWindow;
        const Items& expected;
    };
    for (const Case& c : {Case{SourceKind::File, true, file}, Case{SourceKind::StdIn, true, file},
                          Case{SourceKind::Resource, true, embedded},
                          Case{SourceKind::Resource, false, embeddedNoWindow}}) {
        g_script.sourceKind = c.kind;
        g_script.allowMainWindow = c.allowMainWindow;
        CreateTrayMenu();
        EXPECT_EQ(TrayItems(), c.expected) << "kind " << static_cast<int>(c.kind) << " allow " << c.allowMainWindow;
        DestroyTrayIcon();
    }
    // A_AllowMainWindow brings "&Open" (and its separator) back, and takes it away again.
    CreateTrayMenu();
    g_script.allowMainWindow = true;
    AllowMainWindowChanged();
    EXPECT_EQ(TrayItems(), embedded);
    g_script.allowMainWindow = false;
    AllowMainWindowChanged();
    EXPECT_EQ(TrayItems(), embeddedNoWindow);
}

TEST_F(TrayIconTest, ClicksPostTheDefaultItemsCommandUnlessItIsDisabled) {
    CreateTrayMenu();
    auto posted = [] {
        MSG msg;
        UINT id = 0;
        while (PeekMessageW(&msg, g_mainWindow, WM_COMMAND, WM_COMMAND, PM_REMOVE)) id = LOWORD(msg.wParam);
        return id;
    };
    posted();
    HandleTrayMessage(WM_LBUTTONUP);
    EXPECT_EQ(posted(), 0u) << "one click with ClickCount 2";
    HandleTrayMessage(WM_LBUTTONDBLCLK);
    EXPECT_EQ(posted(), static_cast<UINT>(kTrayOpen));
    ValueToken self, name;
    self.SetObject(TrayMenu());
    name.SetString(L"&Open");
    ValueToken* params[] = {&name};
    wchar_t scratch[kScratchChars];
    CallResult result(scratch);
    ASSERT_EQ(InvokeValue(result, InvokeCall, L"Disable", self, params, 1), Status::Ok);
    HandleTrayMessage(WM_LBUTTONDBLCLK);
    EXPECT_EQ(posted(), 0u) << "a disabled default item does not run";
}

// The standard "&Suspend Hotkeys" and "&Pause Script" items show the states when the tray menu opens.
TEST_F(TrayIconTest, TheTrayMenuChecksSuspendAndPauseWhenShown) {
    CreateTrayMenu();
    auto checked = [](UINT id) {
        ValueToken self;
        self.SetObject(TrayMenu());
        wchar_t scratch[kScratchChars];
        CallResult result(scratch);
        EXPECT_EQ(InvokeValue(result, InvokeGet, L"Handle", self, nullptr, 0), Status::Ok);
        HMENU menu = reinterpret_cast<HMENU>(static_cast<uintptr_t>(result.value.valueInt64));
        return (GetMenuState(menu, id, MF_BYCOMMAND) & MF_CHECKED) != 0;
    };
    // The menu is closed as soon as its loop runs, should it open at all on this display.
    UINT_PTR timer = SetTimer(nullptr, 0, 50, CloseMenu);
    struct Case {
        bool suspended, paused;
    };
    for (const Case& c : {Case{true, false}, Case{false, true}, Case{true, true}, Case{false, false}}) {
        g_suspended = c.suspended;
        g_thread->paused = c.paused;
        TrayMenu()->TrackAt(POINT{10, 10}, UserMenu::ShownFrom::WindowProcedure);
        EXPECT_EQ(checked(kTraySuspend), c.suspended) << "suspended " << c.suspended << " paused " << c.paused;
        EXPECT_EQ(checked(kTrayPause), c.paused) << "suspended " << c.suspended << " paused " << c.paused;
    }
    KillTimer(nullptr, timer);
}

}  // namespace
}  // namespace brm::test
