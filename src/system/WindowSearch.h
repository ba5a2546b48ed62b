// Window search: the WinTitle criteria (title, brm_ keywords, window text and exclusions), the match modes,
// the hidden-window rules, the last found window, window groups and the identification of a control.
#pragma once
#include <windows.h>
#include <vector>
#include "objects/MdFunc.h"

namespace brm {

enum class FindLast { No, Yes };
enum class Remember { No, Yes };

// The four criteria strings of a window function; null pieces count as empty.
struct Criteria {
    const Char* title = L"";
    const Char* text = L"";
    const Char* excludeTitle = L"";
    const Char* excludeText = L"";
    bool AllEmpty() const { return !*title && !*text && !*excludeTitle && !*excludeText; }
};

// A WinTitle argument: a handle (an integer, or an object's Hwnd) or criteria text. The broadcast handle
// 0xFFFF is never a window of its own: as a target it would reach every top-level window.
struct WinTitleArg {
    bool isHandle = false;
    HWND hwnd = nullptr;
    const Char* text = L"";
    Char buffer[kScratchChars];
};
Status LoadWinTitle(const Opt<ValueToken*>& value, WinTitleArg& out);
Criteria MakeCriteria(const WinTitleArg& title, const Opt<const Char*>& text, const Opt<const Char*>& excludeTitle,
                      const Opt<const Char*>& excludeText);

// Visible and not cloaked, unless hidden windows are detected.
bool WindowIsDetectable(HWND hwnd);
bool WindowIsCloaked(HWND hwnd);
bool WindowIsHung(HWND hwnd);

HWND SearchWindow(const Criteria& c, FindLast findLast, Remember remember);
HWND SearchActiveWindow(const Criteria& c, Remember remember);
// Every match in Z-order: counted, and appended to the array when one is given.
class Array;
int32_t CountWindows(const Criteria& c, Array* collector, HWND* lastMatch);
// Whether one window meets the criteria.
bool WindowMatches(HWND hwnd, const Criteria& c);

// The window of a window function: "Target window not found." (a TargetError) when there is none.
FResult TargetWindow(const Opt<ValueToken*>& winTitle, const Opt<const Char*>& text,
                     const Opt<const Char*>& excludeTitle, const Opt<const Char*>& excludeText, FindLast findLast,
                     HWND& out);
FResult RaiseWindowNotFound(const Char* extra);

// The control of a Control function (or the window itself when no control is named). Required: a missing
// control raises "Target control not found.".
enum class ControlRequired { No, Yes };
FResult TargetControl(const Opt<ValueToken*>& control, const Opt<ValueToken*>& winTitle, const Opt<const Char*>& text,
                      const Opt<const Char*>& excludeTitle, const Opt<const Char*>& excludeText,
                      ControlRequired required, HWND& out);
// The control's class name and its position among the same-class descendants of its top-level window.
bool ControlClassNN(HWND control, Char* out, size_t size);

// Brings a window to the front, restoring it when minimized unless kept so; the window that came to the
// front (the window or one it owns), or null.
enum class KeepMinimized { No, Yes };
HWND ActivateWindow(HWND hwnd, KeepMinimized keep);

// The last found window of the running thread.
HWND LastFoundWindow();
void SetLastFoundWindow(HWND hwnd);

// Waits the window delay (or the control delay) of the running thread, pumping messages.
void WindowDelay();
void ControlDelay();

// A group named by brm_group, or null.
struct WindowGroup;
WindowGroup* FindGroup(const Char* name);
bool WindowMatchesGroup(HWND hwnd, WindowGroup* group);
// Applies an action to every window of a group (the group form of the show and close functions).
// False when the text is not "brm_group <name>" of an existing group.
bool GroupFormWindows(const Char* title, bool seeHidden, std::vector<HWND>& out);

// The process of a window: its image path, and the name (the part after the last backslash).
bool WindowProcessPath(HWND hwnd, Char* out, DWORD size);

FResult BifGroupAdd(const Char* name, Opt<const Char*> winTitle, Opt<const Char*> winText,
                    Opt<const Char*> excludeTitle, Opt<const Char*> excludeText);
FResult BifGroupActivate(const Char* name, Opt<const Char*> mode, ValueRet ret);
FResult BifGroupDeactivate(const Char* name, Opt<const Char*> mode);
FResult BifGroupClose(const Char* name, Opt<const Char*> mode);

}  // namespace brm
