// The Windows user-interface names that the filter host's property page uses,
// for builds without the platform: windows with styles, rectangles and extra
// bytes; dialogs made from registered templates and driven by a dialog
// procedure; the trackbar ("msctls_trackbar32") and button controls; string
// resources; and the messages between them. Values and message semantics
// follow the platform's documented behaviour. Windows belong to one user
// interface thread, as on the platform; nothing here is locked.
//
// platform.h comes first: it includes this header at its end, once its
// basic types exist, so the guard below must not be set before then.
#include "platform.h"

#ifndef VELKORIX_PORTABLE_UI_H
#define VELKORIX_PORTABLE_UI_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Basic names (UINT, WORD, WCHAR, the string pointers, HINSTANCE, WINAPI,
// CP_ACP, MultiByteToWideChar) come from win_api.h.
typedef intptr_t INT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t UINT_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;

typedef struct HWND__ *HWND;
typedef struct HMENU__ *HMENU;

#define CALLBACK

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
typedef RECT *LPRECT;
typedef const RECT *LPCRECT;

struct POINT {
    LONG x;
    LONG y;
};

struct SIZE {
    LONG cx;
    LONG cy;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
typedef MSG *LPMSG;

struct STYLESTRUCT {
    DWORD styleOld;
    DWORD styleNew;
};

typedef INT_PTR(CALLBACK *DLGPROC)(HWND, UINT, WPARAM, LPARAM);

#define LOWORD(l) ((WORD)(((ULONG_PTR)(l)) & 0xFFFF))
#define HIWORD(l) ((WORD)((((ULONG_PTR)(l)) >> 16) & 0xFFFF))
#define MAKELONG(a, b) ((LONG)(((WORD)(((ULONG_PTR)(a)) & 0xFFFF)) | ((DWORD)((WORD)(((ULONG_PTR)(b)) & 0xFFFF))) << 16))
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)MAKELONG(l, h))
#define MAKELPARAM(l, h) ((LPARAM)(DWORD)MAKELONG(l, h))
#define IS_INTRESOURCE(r) ((((ULONG_PTR)(r)) >> 16) == 0)
#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define MAKEINTRESOURCEW(i) ((LPWSTR)((ULONG_PTR)((WORD)(i))))

// Messages.
#define WM_DESTROY 0x0002
#define WM_MOVE 0x0003
#define WM_SIZE 0x0005
#define WM_SETTEXT 0x000C
#define WM_CLOSE 0x0010
#define WM_SHOWWINDOW 0x0018
#define WM_SETFONT 0x0030
#define WM_STYLECHANGING 0x007C
#define WM_STYLECHANGED 0x007D
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_HSCROLL 0x0114
#define WM_VSCROLL 0x0115
#define WM_USER 0x0400

// Window styles.
#define WS_POPUP 0x80000000u
#define WS_CHILD 0x40000000u
#define WS_VISIBLE 0x10000000u
#define WS_DISABLED 0x08000000u
#define WS_CAPTION 0x00C00000u
#define WS_BORDER 0x00800000u
#define WS_SYSMENU 0x00080000u
#define WS_GROUP 0x00020000u
#define WS_TABSTOP 0x00010000u
#define WS_EX_CONTROLPARENT 0x00010000u
#define DS_SETFONT 0x0040u
#define DS_CONTROL 0x0400u
#define BS_PUSHBUTTON 0x0000u
#define SS_LEFT 0x0000u

// Window data indices.
#define GWL_STYLE (-16)
#define GWL_EXSTYLE (-20)
#define GWLP_ID (-12)
#define GWLP_USERDATA (-21)
#define DWLP_MSGRESULT 0
#define DWLP_DLGPROC ((int)sizeof(LRESULT))
#define DWLP_USER ((int)(sizeof(LRESULT) + sizeof(DLGPROC)))

// Show commands.
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOWMINIMIZED 2
#define SW_MAXIMIZE 3
#define SW_SHOWNOACTIVATE 4
#define SW_SHOW 5
#define SW_MINIMIZE 6

// Button notification.
#define BN_CLICKED 0

// The trackbar control.
#define TRACKBAR_CLASSA "msctls_trackbar32"
#define TBS_AUTOTICKS 0x0001u
#define TBS_VERT 0x0002u
#define TBS_BOTH 0x0008u
#define TBS_NOTICKS 0x0010u
#define TBM_GETPOS (WM_USER)
#define TBM_GETRANGEMIN (WM_USER + 1)
#define TBM_GETRANGEMAX (WM_USER + 2)
#define TBM_GETTIC (WM_USER + 3)
#define TBM_SETTIC (WM_USER + 4)
#define TBM_SETPOS (WM_USER + 5)
#define TBM_SETRANGE (WM_USER + 6)
#define TBM_SETRANGEMIN (WM_USER + 7)
#define TBM_SETRANGEMAX (WM_USER + 8)
#define TBM_CLEARTICS (WM_USER + 9)
#define TBM_SETPAGESIZE (WM_USER + 21)
#define TBM_GETPAGESIZE (WM_USER + 22)
#define TBM_GETNUMTICS (WM_USER + 16)
#define TB_LINEUP 0
#define TB_LINEDOWN 1
#define TB_PAGEUP 2
#define TB_PAGEDOWN 3
#define TB_THUMBPOSITION 4
#define TB_THUMBTRACK 5
#define TB_TOP 6
#define TB_BOTTOM 7
#define TB_ENDTRACK 8

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID parameter);
// Creates a modeless dialog from the template `name` registered for
// `instance`, sends it WM_INITDIALOG with `parameter` and returns it; null
// when the template is absent, the parent is not a window or a control of the
// template cannot be created.
HWND CreateDialogParamA(HINSTANCE instance, LPCSTR name, HWND parent, DLGPROC procedure, LPARAM parameter);
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
BOOL IsWindowVisible(HWND window);
HWND GetParent(HWND window);
HWND GetDesktopWindow();
HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND window);
// Children of `parent` in creation order, from the one after `after`, whose
// class (case-insensitive) and text match where given.
HWND FindWindowExA(HWND parent, HWND after, LPCSTR className, LPCSTR windowName);
int GetClassNameA(HWND window, LPSTR buffer, int size);
int GetWindowTextA(HWND window, LPSTR buffer, int size);
LRESULT SendMessageA(HWND window, UINT message, WPARAM first, LPARAM second);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM first, LPARAM second);
LONG GetWindowLongA(HWND window, int index);
// Style changes are announced with WM_STYLECHANGING, which may amend the new
// style, and confirmed with WM_STYLECHANGED.
LONG SetWindowLongA(HWND window, int index, LONG value);
LONG_PTR GetWindowLongPtrA(HWND window, int index);
LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value);
BOOL ShowWindow(HWND window, int command);
BOOL InvalidateRect(HWND window, const RECT *rect, BOOL erase);
BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
// Screen coordinates.
BOOL GetWindowRect(HWND window, LPRECT rect);
BOOL GetClientRect(HWND window, LPRECT rect);
// Dialog units of `dialog` to pixels.
BOOL MapDialogRect(HWND dialog, LPRECT rect);
int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size);
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int size);
// Registers the common controls' window classes (the trackbar among them).
void InitCommonControls();

namespace velkorix::portable {

// Base units of the default dialog font (8-point "MS Shell Dlg" at 96 dots
// per inch), used by templates with DS_SETFONT: a dialog unit is a quarter of
// the average character width across and an eighth of the character height
// down. Templates without a font use the system font's 8 x 16.
inline constexpr int kDialogBaseUnitX = 6;
inline constexpr int kDialogBaseUnitY = 13;
inline constexpr int kSystemBaseUnitX = 8;
inline constexpr int kSystemBaseUnitY = 16;

// One control of a dialog template; position and size in dialog units.
struct DialogItemTemplate {
    std::string className;
    std::string text;
    int id = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
};

// A dialog template as the resource compiler would store it.
struct DialogTemplate {
    DWORD style = 0;
    DWORD exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::string font;
    int pointSize = 0;
    std::vector<DialogItemTemplate> items;
};

// Resources of a module instance.
void RegisterDialogTemplate(HINSTANCE instance, int id, DialogTemplate dialog);
// Removes a template; returns it through `removed` when given. False when absent.
bool RemoveDialogTemplate(HINSTANCE instance, int id, DialogTemplate *removed = nullptr);
bool FindDialogTemplate(HINSTANCE instance, int id, DialogTemplate *found);
// String resources are held as wide strings, as in a string table.
void RegisterString(HINSTANCE instance, UINT id, std::wstring text);
bool RemoveString(HINSTANCE instance, UINT id, std::wstring *removed = nullptr);

// Sees every message sent to a window, before the window receives it.
using MessageObserver = std::function<void(HWND, UINT, WPARAM, LPARAM)>;
void SetMessageObserver(MessageObserver observer);

// Makes the next `count` creations of windows of `className` fail.
void FailWindowCreation(const std::string &className, int count);
// Forgets the common controls' classes until InitCommonControls runs again.
void ResetCommonControls();
bool CommonControlsInitialized();

// What happened to a window, for tests.
struct WindowRecord {
    int lastShowCommand = -1;
    int invalidations = 0;
    bool lastInvalidationErased = false;
    int moves = 0;
    bool lastMoveRepainted = false;
};
WindowRecord Inspect(HWND window);
std::size_t LiveWindowCount();

// User actions. A trackbar moves as the control does for the action (TB_TOP
// to its minimum, TB_BOTTOM to its maximum, TB_THUMBTRACK and
// TB_THUMBPOSITION to `position`, the line and page steps by 1 and by a fifth
// of the range), then notifies its parent with WM_VSCROLL (WM_HSCROLL when
// horizontal) carrying `code`, followed by TB_ENDTRACK when the action ends
// the tracking (every code except TB_THUMBTRACK and TB_ENDTRACK itself).
void ScrollTrackbar(HWND trackbar, int code, LONG position = 0);
// A drag of the thumb to `position`: TB_THUMBTRACK, TB_THUMBPOSITION, TB_ENDTRACK.
void DragTrackbarThumb(HWND trackbar, LONG position);
// A click on a button: WM_COMMAND with its identifier and BN_CLICKED to its parent.
void ClickButton(HWND button);

}  // namespace velkorix::portable

#endif  // VELKORIX_PORTABLE_UI_H
