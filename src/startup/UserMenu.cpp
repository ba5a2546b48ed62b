// Menu and MenuBar: item references, options, command ids, the Win32 mirror of the items, and the launch
// of an item's callback when its command arrives.
#include "startup/UserMenu.h"
#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <new>
#include "base/Messages.h"
#include "base/SortedTable.h"
#include "exec/Raise.h"
#include "expr/Conversions.h"
#include "expr/Evaluator.h"
#include "expr/Var.h"
#include "objects/Func.h"
#include "objects/MdFunc.h"
#include "objects/NativeClass.h"
#include "runtime/MessageLoop.h"
#include "runtime/PseudoThread.h"
#include "startup/MainWindow.h"
#include "startup/ScriptHost.h"
#include "startup/TrayIcon.h"

namespace brm {

namespace {

// Longer names are refused: the menu functions that read items back copy names into buffers of this size.
constexpr size_t kMaxItemName = 260;
// Allocated command ids stay below the standard commands (65300 and up) and above the ids of the
// main window's own controls and dialogs.
constexpr uint32_t kFirstItemId = 11003;
constexpr uint32_t kLastItemId = 65299;
constexpr uint32_t kFirstStandardId = 65300;
constexpr uint32_t kLastStandardId = 65309;
constexpr size_t kOptionWordChars = 15;
constexpr uint16_t kStateBits = MFS_CHECKED | MFS_DISABLED;
constexpr uint16_t kTypeBits = MFT_RADIOCHECK | MFT_MENUBREAK | MFT_MENUBARBREAK | MFT_RIGHTJUSTIFY;

// How many items (of all menus) hold each command id; standard items share theirs across menus.
uint16_t s_idUse[65536];
uint32_t s_nextId = kFirstItemId;
std::vector<UserMenu*> s_menus;

bool AllocateId(uint32_t& id) {
    for (uint32_t n = 0; n <= kLastItemId - kFirstItemId; ++n) {
        uint32_t candidate = s_nextId;
        s_nextId = candidate >= kLastItemId ? kFirstItemId : candidate + 1;
        if (!s_idUse[candidate]) {
            ++s_idUse[candidate];
            id = candidate;
            return true;
        }
    }
    return false;
}

void FreeId(uint32_t id) {
    if (s_idUse[id]) --s_idUse[id];
}

enum MenuMember : uint8_t {
    kAdd, kAddStandard, kCheck, kClickCount, kDefault, kDelete, kDisable, kEnable, kHandle, kInsert, kRename,
    kSetColor, kSetIcon, kShow, kToggleCheck, kToggleEnable, kUncheck,
};

const ObjectMemberDef kMenuMembers[] = {
    {L"Add", MemberThunk<UserMenu, &UserMenu::Member>, kAdd, MemberKind::Method, 0, 3},
    {L"AddStandard", MemberThunk<UserMenu, &UserMenu::Member>, kAddStandard, MemberKind::Method, 0, 0},
    {L"Check", MemberThunk<UserMenu, &UserMenu::Member>, kCheck, MemberKind::Method, 1, 1},
    {L"ClickCount", MemberThunk<UserMenu, &UserMenu::Member>, kClickCount, MemberKind::ReadWriteProperty, 0, 0},
    {L"Default", MemberThunk<UserMenu, &UserMenu::Member>, kDefault, MemberKind::ReadWriteProperty, 0, 0},
    {L"Delete", MemberThunk<UserMenu, &UserMenu::Member>, kDelete, MemberKind::Method, 0, 1},
    {L"Disable", MemberThunk<UserMenu, &UserMenu::Member>, kDisable, MemberKind::Method, 1, 1},
    {L"Enable", MemberThunk<UserMenu, &UserMenu::Member>, kEnable, MemberKind::Method, 1, 1},
    {L"Handle", MemberThunk<UserMenu, &UserMenu::Member>, kHandle, MemberKind::ReadOnlyProperty, 0, 0},
    {L"Insert", MemberThunk<UserMenu, &UserMenu::Member>, kInsert, MemberKind::Method, 0, 4},
    {L"Rename", MemberThunk<UserMenu, &UserMenu::Member>, kRename, MemberKind::Method, 1, 2},
    {L"SetColor", MemberThunk<UserMenu, &UserMenu::Member>, kSetColor, MemberKind::Method, 0, 2},
    {L"SetIcon", MemberThunk<UserMenu, &UserMenu::Member>, kSetIcon, MemberKind::Method, 2, 4},
    {L"Show", MemberThunk<UserMenu, &UserMenu::Member>, kShow, MemberKind::Method, 0, 2},
    {L"ToggleCheck", MemberThunk<UserMenu, &UserMenu::Member>, kToggleCheck, MemberKind::Method, 1, 1},
    {L"ToggleEnable", MemberThunk<UserMenu, &UserMenu::Member>, kToggleEnable, MemberKind::Method, 1, 1},
    {L"Uncheck", MemberThunk<UserMenu, &UserMenu::Member>, kUncheck, MemberKind::Method, 1, 1},
};

constexpr uint32_t kOpenSeparatorId = 65308;  // the separator after "&Open" and "&Help"

struct StandardItem {
    const Char* name;
    uint32_t id;
    bool embedded;  // also in the menu of a script embedded as a resource
};
const StandardItem kStandardItems[] = {
    {L"&Open", kTrayOpen, true},
    {L"&Help", kTrayHelp, false},
    {L"", kOpenSeparatorId, true},
    {L"&Frame Peek", kTrayFramePeek, false},
    {L"&Reload Script", kTrayReload, false},
    {L"&Edit Script", kTrayEditScript, false},
    {L"", 65309, false},
    {L"&Suspend Hotkeys", kTraySuspend, true},
    {L"&Pause Script", kTrayPause, true},
    {L"E&xit", kTrayExit, true},
};

bool IsOmitted(ValueToken** params, int count, int i) {
    if (i >= count || !params[i]) return true;
    const ValueToken* t = params[i];
    return t->symbol == SymMissing || (t->symbol == SymVariable && t->var->IsUnset());
}

ValueToken Deref(const ValueToken& t) {
    ValueToken v = t;
    if (v.symbol == SymVariable) t.var->ToToken(v);
    return v;
}

// A String parameter: omitted gives have = false and "". An object is a type error.
Status TextParam(ValueToken** params, int count, int i, Char* buffer, const Char*& text, bool& have) {
    text = L"";
    have = !IsOmitted(params, count, i);
    if (!have) return Status::Ok;
    ValueToken v = Deref(*params[i]);
    if (v.symbol == SymObject) return RaiseParamTypeError(i, L"String", v);
    text = TokenToString(v, buffer);
    return Status::Ok;
}

// "12&" is the twelfth item; "x&&" is a name (an escaped ampersand).
bool ParsePosition(const Char* ref, size_t& position) {
    size_t n = wcslen(ref);
    if (n < 2 || ref[n - 1] != L'&') return false;
    uint64_t value = 0;
    for (size_t i = 0; i + 1 < n; ++i) {
        if (ref[i] < L'0' || ref[i] > L'9') return false;
        value = value * 10 + static_cast<uint64_t>(ref[i] - L'0');
        if (value > 0xFFFFFFFFu) value = 0xFFFFFFFFu;  // no menu has that many items
    }
    position = static_cast<size_t>(value);
    return true;
}

// Named colours as RGB; any other text is six hexadecimal digits (red, green, blue).
struct ColorName {
    const Char* name;
    uint32_t rgb;
};
const ColorName kColorNames[] = {
    {L"Black", 0x000000}, {L"Silver", 0xC0C0C0}, {L"Gray", 0x808080},   {L"White", 0xFFFFFF},
    {L"Maroon", 0x800000}, {L"Red", 0xFF0000},   {L"Purple", 0x800080}, {L"Fuchsia", 0xFF00FF},
    {L"Green", 0x008000}, {L"Lime", 0x00FF00},   {L"Olive", 0x808000},  {L"Yellow", 0xFFFF00},
    {L"Navy", 0x000080},  {L"Blue", 0x0000FF},   {L"Teal", 0x008080},   {L"Aqua", 0x00FFFF},
};

COLORREF FromRgb(uint32_t rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

// A colour as the script gives it: an integer RGB, a name, "Default" or "" for the system colour, or
// six hexadecimal digits. False for anything else.
bool ParseColor(const ValueToken& v, Char* buffer, COLORREF& color) {
    if (v.symbol == SymInteger) {
        if (v.valueInt64 < 0 || v.valueInt64 > 0xFFFFFF) return false;
        color = FromRgb(static_cast<uint32_t>(v.valueInt64));
        return true;
    }
    if (v.symbol != SymString) return false;
    const Char* text = TokenToString(v, buffer);
    if (!*text || CompareFoldAZ(text, L"Default") == 0) {
        color = UserMenu::kDefaultMenuColor;
        return true;
    }
    for (const ColorName& c : kColorNames)
        if (CompareFoldAZ(text, c.name) == 0) {
            color = FromRgb(c.rgb);
            return true;
        }
    if (wcslen(text) != 6) return false;
    uint32_t rgb = 0;
    for (int i = 0; i < 6; ++i) {
        Char ch = text[i];
        uint32_t digit = ch >= L'0' && ch <= L'9' ? ch - L'0'
                         : ch >= L'a' && ch <= L'f' ? ch - L'a' + 10
                         : ch >= L'A' && ch <= L'F' ? ch - L'A' + 10 : 16;
        if (digit > 15) return false;
        rgb = rgb << 4 | digit;
    }
    color = FromRgb(rgb);
    return true;
}

// An item's picture at the given width: a bitmap file as it is (scaled), otherwise an icon of the file
// (number n counted from 1, a negative number a resource id, 0 the first) drawn into a 32-bit bitmap with
// its transparency, since menus show bitmaps only. Null when nothing could be loaded.
HBITMAP LoadItemBitmap(const Char* file, int32_t number, int width) {
    size_t n = wcslen(file);
    if (n > 4 && CompareFoldAZ(file + n - 4, L".bmp") == 0)
        return static_cast<HBITMAP>(LoadImageW(nullptr, file, IMAGE_BITMAP, width, 0, LR_LOADFROMFILE));
    HICON icon = nullptr;
    UINT iconId = 0;
    int index = number > 0 ? number - 1 : number;
    if (PrivateExtractIconsW(file, index, width, width, &icon, &iconId, 1, 0) != 1 || !icon) {
        icon = static_cast<HICON>(LoadImageW(nullptr, file, IMAGE_ICON, width, width, LR_LOADFROMFILE));
        if (!icon) return nullptr;
    }
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = width;
    bi.bmiHeader.biHeight = -width;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HDC dc = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    if (bitmap && dc) {
        HGDIOBJ old = SelectObject(dc, bitmap);
        DrawIconEx(dc, 0, 0, icon, width, width, 0, nullptr, DI_NORMAL);
        SelectObject(dc, old);
    }
    if (dc) DeleteDC(dc);
    DestroyIcon(icon);
    return bitmap;
}

struct ParsedOptions {
    uint16_t setType = 0;
    uint16_t clearType = 0;
    bool havePriority = false;
    int32_t priority = 0;
};

bool WordIs(const Char* word, size_t length, const Char* option) {
    return CompareFoldAZ(word, length, option, wcslen(option)) == 0;
}

Status ParseOptions(const Char* text, UserMenu::Kind kind, ParsedOptions& out) {
    for (const Char* p = text; *p;) {
        if (*p == L' ' || *p == L'\t') {
            ++p;
            continue;
        }
        const Char* start = p;
        while (*p && *p != L' ' && *p != L'\t') ++p;
        size_t whole = static_cast<size_t>(p - start);
        const Char* word = start;
        bool clear = false;
        if (*word == L'+' || *word == L'-') {
            clear = *word == L'-';
            ++word;
        }
        size_t length = std::min(static_cast<size_t>(p - word), kOptionWordChars);
        uint16_t bit = 0;
        if (WordIs(word, length, L"Radio")) bit = MFT_RADIOCHECK;
        else if (WordIs(word, length, L"Right")) bit = kind == UserMenu::Kind::Bar ? MFT_RIGHTJUSTIFY : 0;
        else if (WordIs(word, length, L"Break")) bit = MFT_MENUBREAK;
        else if (WordIs(word, length, L"BarBreak")) bit = MFT_MENUBARBREAK;
        else if (length > 1 && (*word == L'P' || *word == L'p')) {
            Char digits[kOptionWordChars + 1];
            wmemcpy(digits, word + 1, length - 1);
            digits[length - 1] = 0;
            if (IsNumeric(digits, AllowNegative::Yes, AllowEmpty::No, AllowFloat::No) != NumericKind::Integer)
                goto invalid;
            out.havePriority = true;
            out.priority = static_cast<int32_t>(ParseInt64(digits));
            continue;
        } else {
            goto invalid;
        }
        if (clear) {
            out.clearType |= bit;
            out.setType &= static_cast<uint16_t>(~bit);
        } else {
            out.setType |= bit;
            out.clearType &= static_cast<uint16_t>(~bit);
        }
        continue;
    invalid:
        Char shown[kOptionWordChars + 2];
        size_t n = std::min(whole, kOptionWordChars + 1);
        wmemcpy(shown, start, n);
        shown[n] = 0;
        return RaiseMsg(ErrorClass::ValueError, Msg::InvalidOption, shown);
    }
    return Status::Ok;
}

void ApplyOptions(MenuItem& item, const ParsedOptions& o) {
    item.type = static_cast<uint16_t>((item.type | o.setType) & ~o.clearType & kTypeBits);
    if (o.havePriority) item.priority = o.priority;
}

Status SetResultText(CallResult& result, const std::wstring& text) {
    if (text.size() < static_cast<size_t>(kScratchChars)) {
        wmemcpy(result.buffer, text.c_str(), text.size() + 1);
        result.value.SetString(result.buffer, static_cast<int32_t>(text.size()));
        return Status::Ok;
    }
    auto* copy = static_cast<Char*>(malloc((text.size() + 1) * sizeof(Char)));
    if (!copy) return RaiseMsg(ErrorClass::MemoryError, Msg::OutOfMemory);
    wmemcpy(copy, text.c_str(), text.size() + 1);
    result.memToFree = copy;
    result.value.SetString(copy, static_cast<int32_t>(text.size()));
    return Status::Ok;
}

}  // namespace

void MenuHandle::Reset() {
    if (!m_menu) return;
    for (int i = GetMenuItemCount(m_menu) - 1; i >= 0; --i)
        if (GetSubMenu(m_menu, i)) RemoveMenu(m_menu, static_cast<UINT>(i), MF_BYPOSITION);
    DestroyMenu(m_menu);
    m_menu = nullptr;
}

UserMenu::UserMenu(IObject* base, Kind kind) : Object(base), m_kind(kind) { s_menus.push_back(this); }

UserMenu::~UserMenu() {
    s_menus.erase(std::remove(s_menus.begin(), s_menus.end(), this), s_menus.end());
    m_default = nullptr;
    m_handle.Reset();
    RemoveAllItems();
}

UserMenu* UserMenu::Create(Kind kind) {
    IObject* base = BuiltInPrototype(kind == Kind::Popup ? ClassId::Menu : ClassId::MenuBar);
    return new (std::nothrow) UserMenu(base, kind);
}

void RegisterMenuClasses() {
    constexpr int count = static_cast<int>(sizeof(kMenuMembers) / sizeof(kMenuMembers[0]));
    RegisterNativeClass(ClassId::Menu,
                        {kMenuMembers, count, []() -> Object* { return UserMenu::Create(UserMenu::Kind::Popup); }});
    RegisterNativeClass(ClassId::MenuBar,
                        {nullptr, 0, []() -> Object* { return UserMenu::Create(UserMenu::Kind::Bar); }});
}

MenuItem* UserMenu::FindById(uint32_t id, UserMenu** menu, size_t* position) {
    if (id >= 65536 || !s_idUse[id]) return nullptr;
    for (UserMenu* m : s_menus)
        for (size_t i = 0; i < m->m_items.size(); ++i)
            if (m->m_items[i]->id == id) {
                *menu = m;
                *position = i;
                return m->m_items[i].get();
            }
    return nullptr;
}

UserMenu* UserMenu::FromHandle(HMENU menu) {
    if (!menu) return nullptr;
    for (UserMenu* m : s_menus)
        if (m->m_handle.Get() == menu) return m;
    return nullptr;
}

MenuItem* UserMenu::FindItem(const Char* ref, size_t* position) {
    size_t n;
    if (ParsePosition(ref, n)) {
        if (n < 1 || n > m_items.size()) return nullptr;
        *position = n - 1;
        return m_items[n - 1].get();
    }
    for (size_t i = 0; i < m_items.size(); ++i)
        if (!m_items[i]->name.empty() && lstrcmpiW(m_items[i]->name.c_str(), ref) == 0) {
            *position = i;
            return m_items[i].get();
        }
    return nullptr;
}

bool UserMenu::Contains(const UserMenu* other) const {
    for (const auto& item : m_items)
        if (item->submenu && (item->submenu.get() == other || item->submenu->Contains(other))) return true;
    return false;
}

HMENU UserMenu::EnsureHandle() {
    if (m_handle.Get()) return m_handle.Get();
    HMENU menu = m_kind == Kind::Bar ? CreateMenu() : CreatePopupMenu();
    if (!menu) return nullptr;
    m_handle.Adopt(menu);
    MENUINFO info{};
    info.cbSize = sizeof(info);
    info.fMask = MIM_STYLE;
    info.dwStyle = MNS_CHECKORBMP;
    SetMenuInfo(menu, &info);
    ApplyBackground();
    for (size_t i = 0; i < m_items.size(); ++i) InsertIntoHandle(*m_items[i], i);
    ApplyDefault();
    return menu;
}

bool UserMenu::InsertIntoHandle(MenuItem& item, size_t position) {
    MENUITEMINFOW mii{};
    mii.cbSize = sizeof(mii);
    mii.fMask = MIIM_ID | MIIM_FTYPE | MIIM_STATE;
    mii.wID = item.id;
    mii.fType = item.type;
    mii.fState = item.state | (m_default == &item ? MFS_DEFAULT : 0u);
    if (item.name.empty()) {
        mii.fType |= MFT_SEPARATOR;
    } else {
        mii.fMask |= MIIM_STRING;
        mii.dwTypeData = const_cast<LPWSTR>(item.name.c_str());
    }
    if (item.icon.Get()) {
        mii.fMask |= MIIM_BITMAP;
        mii.hbmpItem = item.icon.Get();
    }
    if (item.submenu) {
        if (HMENU sub = item.submenu->EnsureHandle()) {
            mii.fMask |= MIIM_SUBMENU;
            mii.hSubMenu = sub;
        }
    }
    return InsertMenuItemW(m_handle.Get(), static_cast<UINT>(position), TRUE, &mii) != 0;
}

// Re-inserting is the one change that also takes a new or removed submenu and a separator's change of kind.
void UserMenu::RefreshInHandle(size_t position) {
    if (!m_handle.Get()) return;
    RemoveMenu(m_handle.Get(), static_cast<UINT>(position), MF_BYPOSITION);
    InsertIntoHandle(*m_items[position], position);
}

void UserMenu::ApplyDefault() {
    if (!m_handle.Get()) return;
    UINT position = static_cast<UINT>(-1);
    for (size_t i = 0; i < m_items.size(); ++i)
        if (m_items[i].get() == m_default) position = static_cast<UINT>(i);
    SetMenuDefaultItem(m_handle.Get(), position, TRUE);
}

// Each menu paints with its own brush; MIM_APPLYTOSUBMENUS would lend this menu's brush to submenus
// that may outlive it (a shared submenu), so submenus are given the colour one by one instead.
void UserMenu::ApplyBackground() {
    if (!m_handle.Get()) return;
    MENUINFO info{};
    info.cbSize = sizeof(info);
    info.fMask = MIM_BACKGROUND;
    info.hbrBack = m_brush.Get();
    SetMenuInfo(m_handle.Get(), &info);
}

bool UserMenu::SetBackground(COLORREF color, bool toSubmenus) {
    HBRUSH brush = nullptr;
    if (color != kDefaultMenuColor && !(brush = CreateSolidBrush(color))) return false;
    MenuBrush old;
    old.Adopt(m_brush.Detach());  // deleted on return, once the handle no longer paints with it
    m_brush.Adopt(brush);
    m_color = color;
    ApplyBackground();
    if (toSubmenus)
        for (const auto& item : m_items)
            if (item->submenu && !item->submenu->SetBackground(color, true)) return false;
    return true;
}

void UserMenu::RemoveItemAt(size_t position) {
    if (m_handle.Get()) RemoveMenu(m_handle.Get(), static_cast<UINT>(position), MF_BYPOSITION);
    std::unique_ptr<MenuItem> item = std::move(m_items[position]);
    m_items.erase(m_items.begin() + static_cast<ptrdiff_t>(position));
    if (m_default == item.get()) m_default = nullptr;
    FreeId(item->id);
    // The item's callback and submenu are released last: a destructor they run may touch this menu.
}

void UserMenu::RemoveAllItems() {
    while (!m_items.empty()) RemoveItemAt(m_items.size() - 1);
    m_default = nullptr;
}

Status UserMenu::AddItem(const Char* name, bool haveName, const ValueToken* target, const Char* options,
                         bool haveOptions, const Char* before, bool haveBefore) {
    const int base = haveBefore ? 1 : 0;  // Insert's parameters are Add's shifted by one
    size_t at = m_items.size();
    if (haveBefore && *before) {
        size_t position;
        if (FindItem(before, &position)) {
            at = position;
        } else if (!(ParsePosition(before, position) && position == m_items.size() + 1)) {
            return RaiseMsg(ErrorClass::ValueError, Msg::NonexistentMenuItem, before);
        }
    }
    ParsedOptions parsed;
    if (!haveName || !*name) {
        if (target) return RaiseParamError(base + 1, *target);
        if (haveOptions) {
            ValueToken t;
            t.SetString(options);
            return RaiseParamError(base + 2, t);
        }
        auto item = std::make_unique<MenuItem>();
        item->owner = this;
        if (!AllocateId(item->id)) return RaiseMsg(ErrorClass::Error, Msg::TooManyMenuItems);
        m_items.insert(m_items.begin() + static_cast<ptrdiff_t>(at), std::move(item));
        if (m_handle.Get()) InsertIntoHandle(*m_items[at], at);
        return Status::Ok;
    }
    if (haveOptions) BRM_TRY(ParseOptions(options, m_kind, parsed));
    UserMenu* submenu = nullptr;
    if (target) {
        ValueToken v = Deref(*target);
        if (v.symbol != SymObject) return RaiseParamTypeError(base + 1, L"Object", v);
        submenu = dynamic_cast<UserMenu*>(v.object);
        if (submenu) {
            if (submenu == this || submenu->Contains(this) || submenu->m_kind == Kind::Bar)
                return RaiseParamError(base + 1, v);
        } else {
            bool valid = true;
            BRM_TRY(CallbackCheck(v.object, 3, true, valid));
            if (!valid) return RaiseMsg(ErrorClass::ValueError, Msg::InvalidCallback);
        }
    }
    size_t position;
    MenuItem* existing = FindItem(name, &position);
    if (!existing && ParsePosition(name, position)) {
        ValueToken t;
        t.SetString(name);
        return RaiseParamError(base, t);
    }
    if (existing) {
        ApplyOptions(*existing, parsed);
        Ref<IObject> oldCallback;
        Ref<UserMenu> oldSubmenu;
        if (target) {
            if (submenu) {
                oldSubmenu = std::move(existing->submenu);
                existing->submenu = Ref<UserMenu>::Borrow(submenu);
                oldCallback = std::move(existing->callback);
            } else {
                if (existing->id >= kFirstStandardId && existing->id <= kLastStandardId) {
                    // A standard command keeps running its own command; a script callback needs its own id.
                    uint32_t fresh;
                    if (!AllocateId(fresh)) return RaiseMsg(ErrorClass::Error, Msg::TooManyMenuItems);
                    FreeId(existing->id);
                    existing->id = fresh;
                }
                oldCallback = std::move(existing->callback);
                existing->callback = Ref<IObject>::Borrow(Deref(*target).object);
                oldSubmenu = std::move(existing->submenu);
            }
        }
        RefreshInHandle(position);
        return Status::Ok;  // the replaced callback and submenu are released here, after the item is whole
    }
    if (!target) {
        ValueToken none;
        none.SetString(L"", 0);
        return RaiseParamError(base + 1, none);
    }
    if (wcslen(name) > kMaxItemName) return RaiseMsg(ErrorClass::ValueError, Msg::MenuItemNameTooLong);
    auto item = std::make_unique<MenuItem>();
    item->owner = this;
    item->name = name;
    if (submenu) item->submenu = Ref<UserMenu>::Borrow(submenu);
    else item->callback = Ref<IObject>::Borrow(Deref(*target).object);
    ApplyOptions(*item, parsed);
    if (!AllocateId(item->id)) return RaiseMsg(ErrorClass::Error, Msg::TooManyMenuItems);
    m_items.insert(m_items.begin() + static_cast<ptrdiff_t>(at), std::move(item));
    if (m_handle.Get()) InsertIntoHandle(*m_items[at], at);
    return Status::Ok;
}

// mode: 1 sets, 0 clears, -1 flips. The handle's state wins over the stored one: the menu functions of
// other scripts may have changed it.
Status UserMenu::SetState(const Char* ref, uint16_t bit, int mode) {
    size_t position;
    MenuItem* item = FindItem(ref, &position);
    if (!item) return RaiseMsg(ErrorClass::ValueError, Msg::NonexistentMenuItem, ref);
    uint16_t current = item->state;
    MENUITEMINFOW mii{};
    mii.cbSize = sizeof(mii);
    mii.fMask = MIIM_STATE;
    if (m_handle.Get() && GetMenuItemInfoW(m_handle.Get(), static_cast<UINT>(position), TRUE, &mii))
        current = static_cast<uint16_t>(mii.fState & kStateBits);
    bool on = (current & bit) != 0;
    bool want = mode < 0 ? !on : mode != 0;
    item->state = static_cast<uint16_t>((want ? current | bit : current & ~bit) & kStateBits);
    if (m_handle.Get()) {
        mii.fState = item->state | (m_default == item ? MFS_DEFAULT : 0u);
        SetMenuItemInfoW(m_handle.Get(), static_cast<UINT>(position), TRUE, &mii);
    }
    return Status::Ok;
}

Status UserMenu::Member(CallResult& result, int identity, int invokeKind, ValueToken** params, int paramCount) {
    Char buffers[4][kScratchChars];
    const Char* text[4];
    bool have[4];
    switch (identity) {
    case kAdd:
    case kInsert: {
        const bool insert = identity == kInsert;
        const int first = insert ? 1 : 0;
        if (insert) BRM_TRY(TextParam(params, paramCount, 0, buffers[0], text[0], have[0]));
        else text[0] = L"", have[0] = false;
        BRM_TRY(TextParam(params, paramCount, first, buffers[1], text[1], have[1]));
        BRM_TRY(TextParam(params, paramCount, first + 2, buffers[2], text[2], have[2]));
        const ValueToken* target = IsOmitted(params, paramCount, first + 1) ? nullptr : params[first + 1];
        return AddItem(text[1], have[1], target, text[2], have[2], text[0], insert);
    }
    case kAddStandard:
        AddStandard();
        return Status::Ok;
    case kDelete: {
        BRM_TRY(TextParam(params, paramCount, 0, buffers[0], text[0], have[0]));
        if (!have[0]) {
            RemoveAllItems();
            return Status::Ok;
        }
        if (!*text[0]) return RaiseParamError(0, *params[0]);
        size_t position;
        if (!FindItem(text[0], &position)) return RaiseMsg(ErrorClass::ValueError, Msg::NonexistentMenuItem, text[0]);
        RemoveItemAt(position);
        return Status::Ok;
    }
    case kRename: {
        BRM_TRY(TextParam(params, paramCount, 0, buffers[0], text[0], have[0]));
        BRM_TRY(TextParam(params, paramCount, 1, buffers[1], text[1], have[1]));
        size_t position;
        MenuItem* item = FindItem(text[0], &position);
        if (!item) return RaiseMsg(ErrorClass::ValueError, Msg::NonexistentMenuItem, text[0]);
        if (wcslen(text[1]) > kMaxItemName) return RaiseMsg(ErrorClass::ValueError, Msg::MenuRenameFailed);
        item->name = text[1];
        if (item->name.empty() && m_default == item) {
            m_default = nullptr;  // a separator cannot be the default
            ApplyDefault();
        }
        RefreshInHandle(position);
        return Status::Ok;
    }
    case kCheck:
    case kUncheck:
    case kToggleCheck:
    case kEnable:
    case kDisable:
    case kToggleEnable: {
        BRM_TRY(TextParam(params, paramCount, 0, buffers[0], text[0], have[0]));
        const bool check = identity == kCheck || identity == kUncheck || identity == kToggleCheck;
        int mode = identity == kCheck || identity == kDisable ? 1 : identity == kUncheck || identity == kEnable ? 0 : -1;
        return SetState(text[0], check ? MFS_CHECKED : MFS_DISABLED, mode);
    }
    case kClickCount: {
        if (invokeKind != InvokeSet) {
            result.value.SetInteger(m_clickCount);
            return Status::Ok;
        }
        ValueToken v = Deref(*params[0]);
        if (TokenIsNumeric(v) == NumericKind::None) return RaiseParamTypeError(0, L"Integer", v);
        int64_t n = TokenToInt64(v);
        if (n != 1 && n != 2) return RaiseParamError(0, v);
        m_clickCount = static_cast<uint8_t>(n);
        return Status::Ok;
    }
    case kDefault: {
        if (invokeKind != InvokeSet) return SetResultText(result, m_default ? m_default->name : std::wstring());
        BRM_TRY(TextParam(params, paramCount, 0, buffers[0], text[0], have[0]));
        MenuItem* item = nullptr;
        if (*text[0]) {
            size_t position;
            item = FindItem(text[0], &position);
            if (!item || item->name.empty())
                return RaiseMsg(ErrorClass::ValueError, Msg::NonexistentMenuItem, text[0]);
        }
        m_default = item;
        ApplyDefault();
        return Status::Ok;
    }
    case kHandle: {
        HMENU menu = EnsureHandle();
        if (!menu) return RaiseOSErrorCode(GetLastError());
        result.value.SetInteger(static_cast<int64_t>(reinterpret_cast<uintptr_t>(menu)));
        return Status::Ok;
    }
    case kSetColor: {
        COLORREF color = kDefaultMenuColor;
        if (!IsOmitted(params, paramCount, 0)) {
            ValueToken v = Deref(*params[0]);
            if (!ParseColor(v, buffers[0], color)) return RaiseParamError(0, v);
        }
        bool toSubmenus = IsOmitted(params, paramCount, 1) || TokenToBool(Deref(*params[1]));
        if (!SetBackground(color, toSubmenus)) return RaiseOSErrorCode(GetLastError());
        return Status::Ok;
    }
    case kSetIcon: {
        BRM_TRY(TextParam(params, paramCount, 0, buffers[0], text[0], have[0]));
        BRM_TRY(TextParam(params, paramCount, 1, buffers[1], text[1], have[1]));
        int64_t number = 0, width = GetSystemMetrics(SM_CXSMICON);
        for (int i = 2; i < 4; ++i) {
            if (IsOmitted(params, paramCount, i)) continue;
            ValueToken v = Deref(*params[i]);
            if (TokenIsNumeric(v) == NumericKind::None) return RaiseParamTypeError(i, L"Integer", v);
            (i == 2 ? number : width) = TokenToInt64(v);
        }
        if (width <= 0 || width > 256) width = GetSystemMetrics(SM_CXSMICON);
        size_t position;
        MenuItem* item = FindItem(text[0], &position);
        if (!item) return RaiseMsg(ErrorClass::ValueError, Msg::NonexistentMenuItem, text[0]);
        HBITMAP bitmap = nullptr;
        if (*text[1] && wcscmp(text[1], L"*") != 0) {
            bitmap = LoadItemBitmap(text[1], static_cast<int32_t>(number), static_cast<int>(width));
            if (!bitmap) return RaiseMsg(ErrorClass::Error, Msg::CantLoadIcon, text[1]);
        }
        GdiObject<HBITMAP> old;
        old.Adopt(item->icon.Detach());  // deleted once the handle shows the new picture
        item->icon.Adopt(bitmap);
        if (m_handle.Get()) {
            MENUITEMINFOW mii{};
            mii.cbSize = sizeof(mii);
            mii.fMask = MIIM_BITMAP;
            mii.hbmpItem = bitmap;
            SetMenuItemInfoW(m_handle.Get(), static_cast<UINT>(position), TRUE, &mii);
        }
        return Status::Ok;
    }
    case kShow: {
        if (m_kind == Kind::Bar) return RaiseMsg(ErrorClass::Error, Msg::InvalidMenuType);
        ValueToken coords[2];
        bool given[2];
        for (int i = 0; i < 2; ++i) {
            given[i] = !IsOmitted(params, paramCount, i);
            if (!given[i]) continue;
            coords[i] = Deref(*params[i]);
            if (TokenIsNumeric(coords[i]) == NumericKind::None) return RaiseParamTypeError(i, L"Integer", coords[i]);
        }
        if (m_items.empty()) return Status::Ok;
        if (!EnsureHandle()) return RaiseOSErrorCode(GetLastError());
        POINT at{};
        GetCursorPos(&at);
        if (given[0] || given[1]) {
            POINT origin{};
            int mode = (g_thread->settings.coordModes >> CoordMenu) & 3;
            HWND foreground = GetForegroundWindow();
            if (foreground && mode == 1) {
                RECT r;
                if (GetWindowRect(foreground, &r)) origin = {r.left, r.top};
            } else if (foreground && mode == 0) {
                ClientToScreen(foreground, &origin);
            }
            if (given[0]) at.x = origin.x + static_cast<LONG>(TokenToInt64(coords[0]));
            if (given[1]) at.y = origin.y + static_cast<LONG>(TokenToInt64(coords[1]));
        }
        TrackAt(at, ShownFrom::Script);
        return Status::Ok;
    }
    }
    return Status::NotHandled;
}

MenuItem* UserMenu::FindOwnId(uint32_t id, size_t* position) {
    for (size_t i = 0; i < m_items.size(); ++i)
        if (m_items[i]->id == id) {
            *position = i;
            return m_items[i].get();
        }
    return nullptr;
}

MenuItem* UserMenu::InsertStandardItem(const Char* name, uint32_t id, size_t position) {
    auto item = std::make_unique<MenuItem>();
    item->owner = this;
    item->name = name;
    item->id = id;
    ++s_idUse[id];  // standard ids are shared by every menu that shows the item
    m_items.insert(m_items.begin() + static_cast<ptrdiff_t>(position), std::move(item));
    if (m_handle.Get()) InsertIntoHandle(*m_items[position], position);
    return m_items[position].get();
}

void UserMenu::AddStandard() {
    const bool embedded = g_script.sourceKind == SourceKind::Resource;
    MenuItem* open = nullptr;
    size_t position;
    for (const StandardItem& s : kStandardItems) {
        if (embedded && !s.embedded) continue;
        // Without "&Open" an embedded script's menu would start with its separator.
        if (!g_script.allowMainWindow && (s.id == kTrayOpen || (embedded && s.id == kOpenSeparatorId))) continue;
        if (FindOwnId(s.id, &position)) continue;
        MenuItem* item = InsertStandardItem(s.name, s.id, m_items.size());
        if (s.id == kTrayOpen) open = item;
    }
    if (open && !m_default && this == TrayMenu()) {
        m_default = open;
        ApplyDefault();
    }
}

void UserMenu::SetStandardOpen(bool present) {
    const bool embedded = g_script.sourceKind == SourceKind::Resource;
    size_t position;
    if (!present) {
        if (!FindOwnId(kTrayOpen, &position)) return;
        RemoveItemAt(position);
        if (embedded && !m_items.empty() && m_items[0]->id == kOpenSeparatorId) RemoveItemAt(0);
        return;
    }
    if (FindOwnId(kTrayOpen, &position)) return;
    bool standard = false;
    for (const auto& item : m_items) standard = standard || (item->id > kTrayOpen && item->id <= kTrayExit);
    if (!standard) return;
    if (embedded && !FindOwnId(kOpenSeparatorId, &position)) InsertStandardItem(L"", kOpenSeparatorId, 0);
    MenuItem* open = InsertStandardItem(L"&Open", kTrayOpen, 0);
    if (!m_default && this == TrayMenu()) {
        m_default = open;
        ApplyDefault();
    }
}

void UserMenu::SetCheckedById(uint32_t id, bool checked) {
    for (size_t i = 0; i < m_items.size(); ++i) {
        MenuItem& item = *m_items[i];
        if (item.id != id) continue;
        item.state = static_cast<uint16_t>(checked ? item.state | MFS_CHECKED : item.state & ~MFS_CHECKED);
        if (!m_handle.Get()) continue;
        MENUITEMINFOW mii{};
        mii.cbSize = sizeof(mii);
        mii.fMask = MIIM_STATE;
        mii.fState = item.state | (m_default == &item ? MFS_DEFAULT : 0u);
        SetMenuItemInfoW(m_handle.Get(), static_cast<UINT>(i), TRUE, &mii);
    }
}

void UserMenu::TrackAt(POINT at, ShownFrom from) {
    if (m_items.empty()) return;
    HMENU menu = EnsureHandle();
    if (!menu || !g_mainWindow) return;
    const bool tray = this == TrayMenu();
    if (tray) {
        SetCheckedById(kTraySuspend, g_suspended);
        SetCheckedById(kTrayPause, g_thread->paused);
    }
    // A popup menu closes only if its owner is the foreground window (TrackPopupMenuEx).
    HWND foreground = GetForegroundWindow();
    if (!foreground || GetWindowThreadProcessId(foreground, nullptr) != GetCurrentThreadId())
        SetForegroundWindow(g_mainWindow);
    Ref<UserMenu> keep = Ref<UserMenu>::Borrow(this);  // a callback may release the last reference
    g_menuVisible = 1;
    TrackPopupMenuEx(menu, TPM_LEFTBUTTON, at.x, at.y, g_mainWindow, nullptr);
    g_menuVisible = 0;
    // A menu shown for a notification icon needs a message posted after it, or the next click on the
    // icon may not open it (TrackPopupMenuEx's documented quirk).
    if (tray) PostMessageW(g_mainWindow, WM_NULL, 0, 0);
    // A chosen item's thread runs before Show returns.
    PumpMessages(-1, from == ShownFrom::WindowProcedure ? PumpMode::Nested : PumpMode::Timed);
}

// MenuFromHandle Handle: the menu object, or "" for a handle that is not one of this script's menus.
FResult BifMenuFromHandle(int64_t handle, ValueRet ret) {
    UserMenu* menu = UserMenu::FromHandle(reinterpret_cast<HMENU>(static_cast<uintptr_t>(handle)));
    if (menu) {
        menu->AddRef();  // the result owns one reference
        ret.result->value.SetObject(menu);
    } else {
        ret.result->value.SetString(L"", 0);
    }
    return FrOk;
}

bool PostMenuItemCommand(uint32_t id) {
    UserMenu* menu;
    size_t position;
    MenuItem* item = UserMenu::FindById(id, &menu, &position);
    if (!item || !item->callback || !g_mainWindow) return false;
    PostMessageW(g_mainWindow, kMenuItemMessage, 0, static_cast<LPARAM>(id));
    return true;
}

void LaunchMenuItem(uint32_t id) {
    UserMenu* menu;
    size_t position;
    MenuItem* item = UserMenu::FindById(id, &menu, &position);
    if (!item || !item->callback) return;  // deleted since it was chosen
    if (g_threadCount >= MaxThreads() || (g_threadCount && item->priority < g_thread->priority)) return;
    // The callback may delete its own item or menu: everything it is passed is held here.
    Ref<IObject> callback = item->callback;
    Ref<UserMenu> owner = Ref<UserMenu>::Borrow(menu);
    std::wstring name = item->name;
    StartPseudoThread(item->priority);
    ValueToken args[3];
    args[0].SetString(name.c_str(), static_cast<int32_t>(name.size()));
    args[1].SetInteger(static_cast<int64_t>(position) + 1);
    args[2].SetObject(owner.get());
    ValueToken* params[] = {&args[0], &args[1], &args[2]};
    {
        Char scratch[kScratchChars];
        CallResult result(scratch);
        (void)CallFunction(callback.get(), result, params, 3);
    }
    ClearThrown(*g_thread);  // an error ended the callback's thread; the menu stays as it was
    EndPseudoThread();
}

}  // namespace brm
