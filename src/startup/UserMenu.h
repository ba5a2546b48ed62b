// UserMenu: the native layout of Menu (a popup menu) and MenuBar (a window's menu bar). Items live in the
// object's own list; the Win32 menu mirrors them once it exists, which is only when first shown or asked for.
#pragma once
#include <windows.h>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>
#include "objects/Object.h"

namespace brm {

class UserMenu;

// Owns one Win32 menu. Submenus are detached before it is destroyed, because DestroyMenu destroys a
// menu's submenus too, and a submenu may be shared by several menus.
class MenuHandle {
public:
    MenuHandle() = default;
    ~MenuHandle() { Reset(); }
    MenuHandle(const MenuHandle&) = delete;
    MenuHandle& operator=(const MenuHandle&) = delete;
    HMENU Get() const { return m_menu; }
    void Adopt(HMENU menu) { Reset(); m_menu = menu; }
    void Reset();

private:
    HMENU m_menu = nullptr;
};

// Owns a GDI object: a menu's background brush, an item's bitmap.
template <class H>
class GdiObject {
public:
    GdiObject() = default;
    ~GdiObject() { Reset(); }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    H Get() const { return m_object; }
    void Adopt(H object) { Reset(); m_object = object; }
    H Detach() {
        H o = m_object;
        m_object = nullptr;
        return o;
    }
    void Reset() {
        if (m_object) DeleteObject(m_object);
        m_object = nullptr;
    }

private:
    H m_object = nullptr;
};
using MenuBrush = GdiObject<HBRUSH>;

struct MenuItem {
    std::wstring name;      // empty for a separator
    Ref<IObject> callback;  // null for a separator, a submenu item or a standard item without one
    Ref<UserMenu> submenu;
    UserMenu* owner = nullptr;
    uint32_t id = 0;
    int32_t priority = 0;
    uint16_t state = 0;     // MFS_CHECKED, MFS_DISABLED
    GdiObject<HBITMAP> icon;  // shown beside the item
    uint16_t type = 0;      // MFT_RADIOCHECK, MFT_MENUBREAK, MFT_MENUBARBREAK, MFT_RIGHTJUSTIFY (never SEPARATOR)
};

class UserMenu : public Object {
public:
    static constexpr COLORREF kDefaultMenuColor = 0xFF000000;  // the system's menu colour

    enum class Kind : uint8_t { Popup = 1, Bar = 2 };

    static UserMenu* Create(Kind kind);

    Status Member(CallResult& result, int identity, int invokeKind, ValueToken** params, int paramCount);

    Kind GetKind() const { return m_kind; }
    // The menu's handle, created (with the handles of its submenus) when it does not exist yet.
    HMENU EnsureHandle();
    // The item with this command id, in any menu; its menu and 0-based position through the outputs.
    static MenuItem* FindById(uint32_t id, UserMenu** menu, size_t* position);
    static UserMenu* FromHandle(HMENU menu);

    // Appends the standard items the menu lacks. An embedded script has no script file to help with,
    // reload or edit, so those items are left out; "&Open" is left out while the main window is not
    // allowed. In the tray menu "&Open" becomes the default when it is added and nothing else is.
    void AddStandard();
    // Adds "&Open" back at the top or removes it, as A_AllowMainWindow says; only a menu that shows the
    // other standard items gets it back.
    void SetStandardOpen(bool present);
    MenuItem* DefaultItem() const { return m_default; }
    uint8_t ClickCount() const { return m_clickCount; }
    // Tracks the popup menu at a screen position until an item is chosen or the menu is cancelled, then
    // lets a chosen item's thread start. From a window procedure the message loop is entered nested.
    enum class ShownFrom { Script, WindowProcedure };
    void TrackAt(POINT at, ShownFrom from);

protected:
    explicit UserMenu(IObject* base, Kind kind);
    ~UserMenu() override;

private:
    MenuItem* FindItem(const Char* ref, size_t* position);
    MenuItem* FindOwnId(uint32_t id, size_t* position);
    MenuItem* InsertStandardItem(const Char* name, uint32_t id, size_t position);
    void SetCheckedById(uint32_t id, bool checked);
    bool Contains(const UserMenu* other) const;
    bool InsertIntoHandle(MenuItem& item, size_t position);
    void RefreshInHandle(size_t position);
    void RemoveItemAt(size_t position);
    void RemoveAllItems();
    Status AddItem(const Char* name, bool haveName, const ValueToken* target, const Char* options, bool haveOptions,
                   const Char* before, bool haveBefore);
    Status SetState(const Char* ref, uint16_t bit, int mode);
    void ApplyDefault();
    void ApplyBackground();
    bool SetBackground(COLORREF color, bool toSubmenus);

    std::vector<std::unique_ptr<MenuItem>> m_items;
    MenuBrush m_brush;  // declared before the handle, so that the menu goes before the brush it paints with
    MenuHandle m_handle;
    COLORREF m_color = kDefaultMenuColor;
    MenuItem* m_default = nullptr;
    Kind m_kind;
    uint8_t m_clickCount = 2;
};

// Registers Menu and MenuBar with their members; start-up calls it before the class tree is built.
void RegisterMenuClasses();

// WM_COMMAND on the main window for an id no standard command handles: true when a script menu item has
// this id and a callback, whose thread is then launched from the message loop (kMenuItemMessage, with the
// id in lParam; wParam is the Gui window whose menu bar holds the item, or 0).
bool PostMenuItemCommand(uint32_t id);
// Starts the callback of the item with this id as a new pseudo-thread, if the item still exists.
void LaunchMenuItem(uint32_t id);
constexpr UINT kMenuItemMessage = WM_USER + 2;

}  // namespace brm
