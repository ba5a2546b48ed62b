// The Win32 mirror of Menu objects: what the members change must show in the real menu handle, and
// state changed directly on the handle must be what the toggles start from.
#include <gtest/gtest.h>
#include <windows.h>
#include <string>
#include "objects/NativeClass.h"
#include "objects/Object.h"
#include "startup/UserMenu.h"

namespace brm::test {
namespace {

class UserMenuTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CreateBuiltInClasses(), Status::Ok);
        // Any object that says it takes three parameters passes the callback check.
        m_callback = Ref<Object>(Object::Create());
        ASSERT_EQ(m_callback->SetOwnPropInteger(L"MinParams", 3), Status::Ok);
        ASSERT_EQ(m_callback->SetOwnPropInteger(L"MaxParams", 3), Status::Ok);
    }

    Status Call(UserMenu* menu, const wchar_t* name, std::initializer_list<ValueToken> args) {
        ValueToken self;
        self.SetObject(menu);
        ValueToken values[4];
        ValueToken* params[4];
        int n = 0;
        for (const ValueToken& a : args) {
            values[n] = a;
            params[n] = &values[n];
            ++n;
        }
        wchar_t scratch[kScratchChars];
        CallResult result(scratch);
        Status st = InvokeValue(result, InvokeCall, name, self, params, n);
        if (result.value.symbol == SymInteger) m_last = result.value.valueInt64;
        return st;
    }
    Status Set(UserMenu* menu, const wchar_t* name, const ValueToken& value) {
        ValueToken self, v = value;
        self.SetObject(menu);
        ValueToken* params[] = {&v};
        wchar_t scratch[kScratchChars];
        CallResult result(scratch);
        return InvokeValue(result, InvokeSet, name, self, params, 1);
    }
    HMENU Handle(UserMenu* menu) {
        ValueToken self;
        self.SetObject(menu);
        wchar_t scratch[kScratchChars];
        CallResult result(scratch);
        EXPECT_EQ(InvokeValue(result, InvokeGet, L"Handle", self, nullptr, 0), Status::Ok);
        return reinterpret_cast<HMENU>(static_cast<uintptr_t>(result.value.valueInt64));
    }
    static ValueToken Text(const wchar_t* s) {
        ValueToken t;
        t.SetString(s);
        return t;
    }
    ValueToken Callback() {
        ValueToken t;
        t.SetObject(m_callback.get());
        return t;
    }
    static ValueToken Obj(IObject* o) {
        ValueToken t;
        t.SetObject(o);
        return t;
    }
    static ValueToken Missing() {
        ValueToken t;
        t.SetMissing();
        return t;
    }
    static std::wstring ItemText(HMENU h, UINT pos) {
        wchar_t text[300] = L"";
        GetMenuStringW(h, pos, text, 300, MF_BYPOSITION);
        return text;
    }

    Ref<Object> m_callback;
    int64_t m_last = 0;
};

TEST_F(UserMenuTest, ItemsAndStatesShowInTheHandle) {
    Ref<UserMenu> m(UserMenu::Create(UserMenu::Kind::Popup));
    ASSERT_EQ(Call(m.get(), L"Add", {Text(L"One"), Callback()}), Status::Ok);
    ASSERT_EQ(Call(m.get(), L"Add", {Text(L"Two"), Callback(), Text(L"Radio")}), Status::Ok);
    HMENU h = Handle(m.get());
    ASSERT_TRUE(IsMenu(h));
    EXPECT_EQ(UserMenu::FromHandle(h), m.get());
    ASSERT_EQ(GetMenuItemCount(h), 2);
    EXPECT_EQ(ItemText(h, 0), L"One");
    MENUITEMINFOW mii{};
    mii.cbSize = sizeof(mii);
    mii.fMask = MIIM_FTYPE;
    ASSERT_TRUE(GetMenuItemInfoW(h, 1, TRUE, &mii));
    EXPECT_TRUE(mii.fType & MFT_RADIOCHECK);

    ASSERT_EQ(Call(m.get(), L"Check", {Text(L"two")}), Status::Ok);
    EXPECT_TRUE(GetMenuState(h, 1, MF_BYPOSITION) & MF_CHECKED);
    ASSERT_EQ(Call(m.get(), L"ToggleCheck", {Text(L"2&")}), Status::Ok);
    EXPECT_FALSE(GetMenuState(h, 1, MF_BYPOSITION) & MF_CHECKED);
    // Changed behind the object's back: the toggle starts from what the handle shows.
    CheckMenuItem(h, 1, MF_BYPOSITION | MF_CHECKED);
    ASSERT_EQ(Call(m.get(), L"ToggleCheck", {Text(L"Two")}), Status::Ok);
    EXPECT_FALSE(GetMenuState(h, 1, MF_BYPOSITION) & MF_CHECKED);

    ASSERT_EQ(Call(m.get(), L"Disable", {Text(L"One")}), Status::Ok);
    EXPECT_TRUE(GetMenuState(h, 0, MF_BYPOSITION) & MF_GRAYED);
    ASSERT_EQ(Call(m.get(), L"ToggleEnable", {Text(L"One")}), Status::Ok);
    EXPECT_FALSE(GetMenuState(h, 0, MF_BYPOSITION) & MF_GRAYED);

    ASSERT_EQ(Set(m.get(), L"Default", Text(L"Two")), Status::Ok);
    EXPECT_EQ(GetMenuDefaultItem(h, TRUE, 0), 1u);
    ASSERT_EQ(Call(m.get(), L"Check", {Text(L"Two")}), Status::Ok);
    EXPECT_EQ(GetMenuDefaultItem(h, TRUE, 0), 1u);  // a state change keeps the default
    ASSERT_EQ(Set(m.get(), L"Default", Text(L"")), Status::Ok);
    EXPECT_EQ(GetMenuDefaultItem(h, TRUE, 0), static_cast<UINT>(-1));

    ASSERT_EQ(Call(m.get(), L"Rename", {Text(L"One"), Text(L"")}), Status::Ok);
    EXPECT_TRUE(GetMenuState(h, 0, MF_BYPOSITION) & MF_SEPARATOR);
    ASSERT_EQ(Call(m.get(), L"Rename", {Text(L"1&"), Text(L"Back")}), Status::Ok);
    EXPECT_FALSE(GetMenuState(h, 0, MF_BYPOSITION) & MF_SEPARATOR);
    EXPECT_EQ(ItemText(h, 0), L"Back");

    ASSERT_EQ(Call(m.get(), L"Insert", {Text(L"1&"), Text(L"Zero"), Callback()}), Status::Ok);
    ASSERT_EQ(GetMenuItemCount(h), 3);
    EXPECT_EQ(ItemText(h, 0), L"Zero");
    ASSERT_EQ(Call(m.get(), L"Delete", {Text(L"Back")}), Status::Ok);
    ASSERT_EQ(GetMenuItemCount(h), 2);
    EXPECT_EQ(ItemText(h, 1), L"Two");
    ASSERT_EQ(Call(m.get(), L"Delete", {}), Status::Ok);
    EXPECT_EQ(GetMenuItemCount(h), 0);
}

TEST_F(UserMenuTest, SharedSubmenusSurviveTheirParents) {
    Ref<UserMenu> sub(UserMenu::Create(UserMenu::Kind::Popup));
    ASSERT_EQ(Call(sub.get(), L"Add", {Text(L"Deep"), Callback()}), Status::Ok);
    HMENU subHandle;
    {
        Ref<UserMenu> a(UserMenu::Create(UserMenu::Kind::Popup));
        Ref<UserMenu> bar(UserMenu::Create(UserMenu::Kind::Bar));
        ASSERT_EQ(Call(a.get(), L"Add", {Text(L"Sub"), Obj(sub.get())}), Status::Ok);
        ASSERT_EQ(Call(bar.get(), L"Add", {Text(L"Sub"), Obj(sub.get())}), Status::Ok);
        HMENU ha = Handle(a.get());
        subHandle = GetSubMenu(ha, 0);
        ASSERT_NE(subHandle, nullptr);
        EXPECT_EQ(subHandle, Handle(sub.get()));
        EXPECT_EQ(GetSubMenu(Handle(bar.get()), 0), subHandle);
        // An item added to the submenu later shows through every parent.
        ASSERT_EQ(Call(sub.get(), L"Add", {Text(L"Later"), Callback()}), Status::Ok);
        EXPECT_EQ(GetMenuItemCount(GetSubMenu(ha, 0)), 2);
        // Replacing the submenu with a callback takes it out of the handle.
        ASSERT_EQ(Call(a.get(), L"Add", {Text(L"Sub"), Callback()}), Status::Ok);
        EXPECT_EQ(GetSubMenu(ha, 0), nullptr);
        EXPECT_TRUE(IsMenu(subHandle));
    }
    EXPECT_TRUE(IsMenu(subHandle));
    EXPECT_EQ(GetMenuItemCount(subHandle), 2);
    EXPECT_EQ(UserMenu::FromHandle(subHandle), sub.get());
}

TEST_F(UserMenuTest, OptionsOnlyUpdatesKeepTheItemAndItsId) {
    Ref<UserMenu> m(UserMenu::Create(UserMenu::Kind::Bar));
    ASSERT_EQ(Call(m.get(), L"Add", {Text(L"File"), Callback()}), Status::Ok);
    HMENU h = Handle(m.get());
    UINT id = GetMenuItemID(h, 0);
    ASSERT_EQ(Call(m.get(), L"Add", {Text(L"file"), Missing(), Text(L"Right BarBreak")}), Status::Ok);
    EXPECT_EQ(GetMenuItemID(h, 0), id);
    MENUITEMINFOW mii{};
    mii.cbSize = sizeof(mii);
    mii.fMask = MIIM_FTYPE;
    ASSERT_TRUE(GetMenuItemInfoW(h, 0, TRUE, &mii));
    EXPECT_TRUE(mii.fType & MFT_RIGHTJUSTIFY);
    EXPECT_TRUE(mii.fType & MFT_MENUBARBREAK);
    ASSERT_EQ(Call(m.get(), L"Add", {Text(L"File"), Missing(), Text(L"-Right")}), Status::Ok);
    ASSERT_TRUE(GetMenuItemInfoW(h, 0, TRUE, &mii));
    EXPECT_FALSE(mii.fType & MFT_RIGHTJUSTIFY);
    UserMenu* owner = nullptr;
    size_t position = 9;
    EXPECT_NE(UserMenu::FindById(id, &owner, &position), nullptr);
    EXPECT_EQ(owner, m.get());
    EXPECT_EQ(position, 0u);
}

HBITMAP ItemBitmap(HMENU h, UINT pos) {
    MENUITEMINFOW mii{};
    mii.cbSize = sizeof(mii);
    mii.fMask = MIIM_BITMAP;
    return GetMenuItemInfoW(h, pos, TRUE, &mii) ? mii.hbmpItem : nullptr;
}

TEST_F(UserMenuTest, IconsAreBitmapsThatFollowTheItem) {
    Ref<UserMenu> m(UserMenu::Create(UserMenu::Kind::Popup));
    ASSERT_EQ(Call(m.get(), L"Add", {Text(L"One"), Callback()}), Status::Ok);
    wchar_t dll[MAX_PATH];
    GetSystemDirectoryW(dll, MAX_PATH);
    wcscat(dll, L"\\shell32.dll");
    ValueToken number, width;
    number.SetInteger(3);
    width.SetInteger(24);
    ASSERT_EQ(Call(m.get(), L"SetIcon", {Text(L"One"), Text(dll), number, width}), Status::Ok);
    HMENU h = Handle(m.get());
    HBITMAP bitmap = ItemBitmap(h, 0);
    ASSERT_NE(bitmap, nullptr);
    BITMAP info{};
    ASSERT_TRUE(GetObjectW(bitmap, sizeof(info), &info));
    EXPECT_EQ(info.bmWidth, 24);
    ASSERT_EQ(Call(m.get(), L"Rename", {Text(L"One"), Text(L"Renamed")}), Status::Ok);
    EXPECT_EQ(ItemBitmap(h, 0), bitmap);  // renaming re-applies the picture
    ASSERT_EQ(Call(m.get(), L"SetIcon", {Text(L"Renamed"), Text(L"*")}), Status::Ok);
    EXPECT_EQ(ItemBitmap(h, 0), nullptr);
}

COLORREF BrushColor(HMENU h) {
    MENUINFO info{};
    info.cbSize = sizeof(info);
    info.fMask = MIM_BACKGROUND;
    if (!GetMenuInfo(h, &info) || !info.hbrBack) return CLR_INVALID;
    LOGBRUSH lb{};
    GetObjectW(info.hbrBack, sizeof(lb), &lb);
    return lb.lbColor;
}

TEST_F(UserMenuTest, BackgroundColourReachesSubmenusThroughTheirOwnBrushes) {
    Ref<UserMenu> sub(UserMenu::Create(UserMenu::Kind::Popup));
    Ref<UserMenu> m(UserMenu::Create(UserMenu::Kind::Popup));
    ASSERT_EQ(Call(m.get(), L"Add", {Text(L"Sub"), Obj(sub.get())}), Status::Ok);
    HMENU h = Handle(m.get()), hs = Handle(sub.get());
    ASSERT_EQ(Call(m.get(), L"SetColor", {Text(L"red")}), Status::Ok);
    EXPECT_EQ(BrushColor(h), RGB(255, 0, 0));
    EXPECT_EQ(BrushColor(hs), RGB(255, 0, 0));
    ValueToken number;
    number.SetInteger(0x0080FF);
    ValueToken no;
    no.SetInteger(0);
    ASSERT_EQ(Call(m.get(), L"SetColor", {number, no}), Status::Ok);
    EXPECT_EQ(BrushColor(h), RGB(0, 0x80, 0xFF));
    EXPECT_EQ(BrushColor(hs), RGB(255, 0, 0));  // not applied to submenus
    ASSERT_EQ(Call(sub.get(), L"SetColor", {Text(L"00ff80")}), Status::Ok);
    EXPECT_EQ(BrushColor(hs), RGB(0, 0xFF, 0x80));
    m = Ref<UserMenu>();
    EXPECT_EQ(BrushColor(hs), RGB(0, 0xFF, 0x80));  // its own brush survives the parent
    ASSERT_EQ(Call(sub.get(), L"SetColor", {}), Status::Ok);
    EXPECT_EQ(BrushColor(hs), CLR_INVALID);
}

}  // namespace
}  // namespace brm::test
