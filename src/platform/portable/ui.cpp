#include "ui.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <utility>

namespace {

using velkorix::portable::DialogTemplate;
using velkorix::portable::WindowRecord;

enum class Kind { Desktop, Dialog, Trackbar, Button, Static };

struct Window {
    Kind kind = Kind::Static;
    HWND self = nullptr;
    HWND parent = nullptr;
    std::vector<HWND> children;
    std::string className;
    std::string text;
    DWORD style = 0;
    DWORD exStyle = 0;
    int id = 0;
    RECT rect{};  // relative to the parent's origin
    bool visible = false;
    LONG_PTR userData = 0;
    // Dialogs.
    DLGPROC procedure = nullptr;
    LONG_PTR messageResult = 0;
    LONG_PTR dialogUser = 0;
    int baseX = 0, baseY = 0;
    // Trackbars.
    LONG rangeMin = 0, rangeMax = 100, position = 0, pageSize = 20;
    std::vector<LONG> tics;
    WindowRecord record;
};

struct State {
    std::map<uintptr_t, std::unique_ptr<Window>> windows;
    uintptr_t nextHandle = 0x10000;
    HWND desktop = nullptr;
    std::map<std::pair<HINSTANCE, int>, DialogTemplate> dialogs;
    std::map<std::pair<HINSTANCE, UINT>, std::wstring> strings;
    velkorix::portable::MessageObserver observer;
    std::map<std::string, int> failures;
    bool commonControls = false;
};

State &GetState() {
    static State state;
    return state;
}

std::string Lower(std::string s) {
    for (auto &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

Window *Find(HWND handle) {
    auto &windows = GetState().windows;
    const auto it = windows.find(reinterpret_cast<uintptr_t>(handle));
    return it == windows.end() ? nullptr : it->second.get();
}

HWND Desktop() {
    State &s = GetState();
    if (!s.desktop) {
        auto w = std::make_unique<Window>();
        w->kind = Kind::Desktop;
        w->className = "#32769";
        w->rect = {0, 0, 1024, 768};
        w->visible = true;
        w->self = reinterpret_cast<HWND>(s.nextHandle);
        s.nextHandle += 4;
        s.desktop = w->self;
        s.windows.emplace(reinterpret_cast<uintptr_t>(w->self), std::move(w));
    }
    return s.desktop;
}

// Handles are never reused, so a destroyed window's handle stays invalid.
Window *NewWindow(Kind kind, HWND parent) {
    State &s = GetState();
    auto w = std::make_unique<Window>();
    Window *raw = w.get();
    raw->kind = kind;
    raw->self = reinterpret_cast<HWND>(s.nextHandle);
    s.nextHandle += 4;
    raw->parent = parent;
    s.windows.emplace(reinterpret_cast<uintptr_t>(raw->self), std::move(w));
    if (Window *p = Find(parent)) p->children.push_back(raw->self);
    return raw;
}

bool TakeFailure(const std::string &className) {
    auto &failures = GetState().failures;
    const auto it = failures.find(Lower(className));
    if (it == failures.end() || it->second <= 0) return false;
    --it->second;
    return true;
}

void Observe(HWND window, UINT message, WPARAM first, LPARAM second) {
    // A copy, so that an observer may replace itself.
    auto observer = GetState().observer;
    if (observer) observer(window, message, first, second);
}

LONG Clamp(LONG value, LONG low, LONG high) { return value < low ? low : (value > high ? high : value); }

LRESULT TrackbarProcedure(Window *bar, UINT message, WPARAM first, LPARAM second) {
    switch (message) {
        case TBM_GETPOS: return bar->position;
        case TBM_GETRANGEMIN: return bar->rangeMin;
        case TBM_GETRANGEMAX: return bar->rangeMax;
        case TBM_GETTIC:
            if (first >= bar->tics.size()) return -1;
            return bar->tics[first];
        case TBM_SETTIC: {
            const LONG at = static_cast<LONG>(second);
            if (at < bar->rangeMin || at > bar->rangeMax) return FALSE;
            bar->tics.push_back(at);
            return TRUE;
        }
        case TBM_SETPOS: bar->position = Clamp(static_cast<LONG>(second), bar->rangeMin, bar->rangeMax); return 0;
        case TBM_SETRANGE:
            bar->rangeMin = static_cast<int16_t>(LOWORD(second));
            bar->rangeMax = static_cast<int16_t>(HIWORD(second));
            bar->position = Clamp(bar->position, bar->rangeMin, bar->rangeMax);
            return 0;
        case TBM_SETRANGEMIN:
            bar->rangeMin = static_cast<LONG>(second);
            bar->position = Clamp(bar->position, bar->rangeMin, bar->rangeMax);
            return 0;
        case TBM_SETRANGEMAX:
            bar->rangeMax = static_cast<LONG>(second);
            bar->position = Clamp(bar->position, bar->rangeMin, bar->rangeMax);
            return 0;
        case TBM_CLEARTICS: bar->tics.clear(); return 0;
        case TBM_GETNUMTICS:
            if (bar->style & TBS_NOTICKS) return 0;
            return static_cast<LRESULT>(bar->tics.size() + 2);  // with the first and the last
        case TBM_SETPAGESIZE: {
            const LONG old = bar->pageSize;
            bar->pageSize = static_cast<LONG>(second);
            return old;
        }
        case TBM_GETPAGESIZE: return bar->pageSize;
        default: return DefWindowProcA(bar->self, message, first, second);
    }
}

// The dialog manager's handling: the dialog procedure first; what it leaves
// (FALSE) gets the default handling, what it handles answers the message
// result it stored, except for WM_INITDIALOG whose answer is the procedure's.
LRESULT DialogManager(HWND handle, UINT message, WPARAM first, LPARAM second) {
    Window *dialog = Find(handle);
    const DLGPROC procedure = dialog->procedure;
    const INT_PTR handled = procedure ? procedure(handle, message, first, second) : FALSE;
    dialog = Find(handle);  // the procedure may have destroyed the dialog
    if (!dialog) return handled;
    if (!handled) return DefWindowProcA(handle, message, first, second);
    if (message == WM_INITDIALOG) return handled;
    return dialog->messageResult;
}

LRESULT Deliver(HWND handle, UINT message, WPARAM first, LPARAM second) {
    Window *w = Find(handle);
    if (!w) return 0;
    Observe(handle, message, first, second);
    w = Find(handle);
    if (!w) return 0;
    switch (w->kind) {
        case Kind::Dialog: return DialogManager(handle, message, first, second);
        case Kind::Trackbar: return TrackbarProcedure(w, message, first, second);
        default: return DefWindowProcA(handle, message, first, second);
    }
}

void Destroy(HWND handle) {
    if (!Find(handle)) return;
    // The window hears WM_DESTROY before its children are destroyed.
    Deliver(handle, WM_DESTROY, 0, 0);
    Window *w = Find(handle);
    if (!w) return;
    const std::vector<HWND> children = w->children;
    for (HWND child : children) Destroy(child);
    w = Find(handle);
    if (!w) return;
    if (Window *p = Find(w->parent)) {
        auto &siblings = p->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), handle), siblings.end());
    }
    GetState().windows.erase(reinterpret_cast<uintptr_t>(handle));
}

int ScaleX(int units, int base) { return units * base / 4; }
int ScaleY(int units, int base) { return units * base / 8; }

Kind KindOfClass(const std::string &className, bool *known) {
    const std::string c = Lower(className);
    *known = true;
    if (c == "button") return Kind::Button;
    if (c == "static") return Kind::Static;
    if (c == TRACKBAR_CLASSA) {
        *known = GetState().commonControls;
        return Kind::Trackbar;
    }
    *known = false;
    return Kind::Static;
}

Window *CreateControl(DWORD exStyle, const std::string &className, const std::string &text, DWORD style, int x, int y,
                      int width, int height, HWND parent, int id) {
    bool known = false;
    const Kind kind = KindOfClass(className, &known);
    if (!known || TakeFailure(className)) return nullptr;
    if (parent && !Find(parent)) return nullptr;
    Window *w = NewWindow(kind, parent ? parent : Desktop());
    w->className = className;
    w->text = text;
    w->style = style;
    w->exStyle = exStyle;
    w->id = id;
    w->rect = {x, y, x + width, y + height};
    w->visible = (style & WS_VISIBLE) != 0;
    return w;
}

int CopyOut(const std::string &text, LPSTR buffer, int size) {
    if (!buffer || size <= 0) return 0;
    const int n = std::min(static_cast<int>(text.size()), size - 1);
    std::memcpy(buffer, text.data(), static_cast<std::size_t>(n));
    buffer[n] = '\0';
    return n;
}

}  // namespace

HWND CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE, LPVOID) {
    if (!className) return nullptr;
    const int id = (style & WS_CHILD) ? static_cast<int>(reinterpret_cast<uintptr_t>(menu)) : 0;
    Window *w = CreateControl(exStyle, className, windowName ? windowName : "", style, x, y, width, height, parent, id);
    return w ? w->self : nullptr;
}

HWND CreateDialogParamA(HINSTANCE instance, LPCSTR name, HWND parent, DLGPROC procedure, LPARAM parameter) {
    if (!IS_INTRESOURCE(name)) return nullptr;
    DialogTemplate t;
    if (!velkorix::portable::FindDialogTemplate(instance, static_cast<int>(reinterpret_cast<uintptr_t>(name)), &t))
        return nullptr;
    if (parent && !Find(parent)) return nullptr;
    if (TakeFailure("#32770")) return nullptr;

    Window *dialog = NewWindow(Kind::Dialog, parent ? parent : Desktop());
    const HWND handle = dialog->self;
    dialog->className = "#32770";
    dialog->style = t.style & ~WS_VISIBLE;
    dialog->exStyle = t.exStyle;
    // A control dialog lives inside another window: no caption, and tab
    // navigation enters it.
    if (t.style & DS_CONTROL) {
        dialog->style &= ~(WS_CAPTION | WS_SYSMENU);
        dialog->exStyle |= WS_EX_CONTROLPARENT;
    }
    const bool font = (t.style & DS_SETFONT) != 0;
    dialog->baseX = font ? velkorix::portable::kDialogBaseUnitX : velkorix::portable::kSystemBaseUnitX;
    dialog->baseY = font ? velkorix::portable::kDialogBaseUnitY : velkorix::portable::kSystemBaseUnitY;
    const int bx = dialog->baseX, by = dialog->baseY;
    dialog->rect = {ScaleX(t.x, bx), ScaleY(t.y, by), ScaleX(t.x + t.cx, bx), ScaleY(t.y + t.cy, by)};
    dialog->procedure = procedure;

    for (const auto &item : t.items) {
        Window *control = CreateControl(item.exStyle, item.className, item.text, item.style | WS_CHILD,
                                        ScaleX(item.x, bx), ScaleY(item.y, by), ScaleX(item.cx, bx),
                                        ScaleY(item.cy, by), handle, item.id);
        if (!control) {
            // A control that cannot be made fails the dialog.
            Destroy(handle);
            return nullptr;
        }
    }
    Window *d = Find(handle);
    const HWND first = d->children.empty() ? nullptr : d->children.front();
    Deliver(handle, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), parameter);
    if (!Find(handle)) return nullptr;
    if (t.style & WS_VISIBLE) ShowWindow(handle, SW_SHOWNORMAL);
    return handle;
}

BOOL DestroyWindow(HWND window) {
    Window *w = Find(window);
    if (!w || w->kind == Kind::Desktop) return FALSE;
    Destroy(window);
    return TRUE;
}

BOOL IsWindow(HWND window) { return Find(window) ? TRUE : FALSE; }

BOOL IsWindowVisible(HWND window) {
    for (Window *w = Find(window); w; w = Find(w->parent))
        if (!w->visible) return FALSE;
    return Find(window) ? TRUE : FALSE;
}

HWND GetParent(HWND window) {
    Window *w = Find(window);
    if (!w || !(w->style & WS_CHILD)) return nullptr;
    return w->parent;
}

HWND GetDesktopWindow() { return Desktop(); }

HWND GetDlgItem(HWND dialog, int id) {
    Window *d = Find(dialog);
    if (!d) return nullptr;
    for (HWND child : d->children)
        if (Find(child)->id == id) return child;
    return nullptr;
}

int GetDlgCtrlID(HWND window) {
    Window *w = Find(window);
    return w ? w->id : 0;
}

HWND FindWindowExA(HWND parent, HWND after, LPCSTR className, LPCSTR windowName) {
    Window *p = Find(parent ? parent : Desktop());
    if (!p) return nullptr;
    bool started = after == nullptr;
    for (HWND child : p->children) {
        if (!started) {
            started = child == after;
            continue;
        }
        Window *c = Find(child);
        if (className && Lower(c->className) != Lower(className)) continue;
        if (windowName && c->text != windowName) continue;
        return child;
    }
    return nullptr;
}

int GetClassNameA(HWND window, LPSTR buffer, int size) {
    Window *w = Find(window);
    return w ? CopyOut(w->className, buffer, size) : 0;
}

int GetWindowTextA(HWND window, LPSTR buffer, int size) {
    Window *w = Find(window);
    return w ? CopyOut(w->text, buffer, size) : 0;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM first, LPARAM second) {
    return Deliver(window, message, first, second);
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM second) {
    Window *w = Find(window);
    if (!w) return 0;
    switch (message) {
        case WM_SETTEXT:
            w->text = second ? reinterpret_cast<const char *>(second) : "";
            return TRUE;
        case WM_CLOSE: DestroyWindow(window); return 0;
        default: return 0;
    }
}

LONG GetWindowLongA(HWND window, int index) {
    Window *w = Find(window);
    if (!w) return 0;
    switch (index) {
        case GWL_STYLE: return static_cast<LONG>(w->style);
        case GWL_EXSTYLE: return static_cast<LONG>(w->exStyle);
        case GWLP_ID: return w->id;
        default: return static_cast<LONG>(GetWindowLongPtrA(window, index));
    }
}

LONG SetWindowLongA(HWND window, int index, LONG value) {
    Window *w = Find(window);
    if (!w) return 0;
    if (index == GWL_STYLE || index == GWL_EXSTYLE) {
        DWORD &field = index == GWL_STYLE ? w->style : w->exStyle;
        const DWORD old = field;
        STYLESTRUCT change{old, static_cast<DWORD>(value)};
        Deliver(window, WM_STYLECHANGING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&change));
        w = Find(window);
        if (!w) return 0;
        (index == GWL_STYLE ? w->style : w->exStyle) = change.styleNew;
        STYLESTRUCT done{old, change.styleNew};
        Deliver(window, WM_STYLECHANGED, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&done));
        return static_cast<LONG>(old);
    }
    if (index == GWLP_ID) {
        const int old = w->id;
        w->id = value;
        return old;
    }
    return static_cast<LONG>(SetWindowLongPtrA(window, index, value));
}

LONG_PTR GetWindowLongPtrA(HWND window, int index) {
    Window *w = Find(window);
    if (!w) return 0;
    if (index == GWLP_USERDATA) return w->userData;
    if (index < 0) return GetWindowLongA(window, index);
    if (w->kind != Kind::Dialog) return 0;
    if (index == DWLP_MSGRESULT) return w->messageResult;
    if (index == DWLP_DLGPROC) return reinterpret_cast<LONG_PTR>(w->procedure);
    if (index == DWLP_USER) return w->dialogUser;
    return 0;
}

LONG_PTR SetWindowLongPtrA(HWND window, int index, LONG_PTR value) {
    Window *w = Find(window);
    if (!w) return 0;
    LONG_PTR old = 0;
    if (index == GWLP_USERDATA) {
        old = w->userData;
        w->userData = value;
    } else if (index < 0) {
        old = SetWindowLongA(window, index, static_cast<LONG>(value));
    } else if (w->kind == Kind::Dialog && index == DWLP_MSGRESULT) {
        old = w->messageResult;
        w->messageResult = value;
    } else if (w->kind == Kind::Dialog && index == DWLP_DLGPROC) {
        old = reinterpret_cast<LONG_PTR>(w->procedure);
        w->procedure = reinterpret_cast<DLGPROC>(value);
    } else if (w->kind == Kind::Dialog && index == DWLP_USER) {
        old = w->dialogUser;
        w->dialogUser = value;
    }
    return old;
}

BOOL ShowWindow(HWND window, int command) {
    Window *w = Find(window);
    if (!w) return FALSE;
    const BOOL was = w->visible ? TRUE : FALSE;
    w->record.lastShowCommand = command;
    w->visible = command != SW_HIDE;
    if (w->visible) w->style |= WS_VISIBLE;
    else w->style &= ~WS_VISIBLE;
    return was;
}

BOOL InvalidateRect(HWND window, const RECT *, BOOL erase) {
    Window *w = Find(window);
    if (!w) return FALSE;
    ++w->record.invalidations;
    w->record.lastInvalidationErased = erase != FALSE;
    return TRUE;
}

BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint) {
    Window *w = Find(window);
    if (!w) return FALSE;
    w->rect = {x, y, x + width, y + height};
    ++w->record.moves;
    w->record.lastMoveRepainted = repaint != FALSE;
    return TRUE;
}

BOOL GetWindowRect(HWND window, LPRECT rect) {
    Window *w = Find(window);
    if (!w || !rect) return FALSE;
    RECT r = w->rect;
    for (Window *p = Find(w->parent); p; p = Find(p->parent)) {
        r.left += p->rect.left;
        r.right += p->rect.left;
        r.top += p->rect.top;
        r.bottom += p->rect.top;
    }
    *rect = r;
    return TRUE;
}

BOOL GetClientRect(HWND window, LPRECT rect) {
    Window *w = Find(window);
    if (!w || !rect) return FALSE;
    *rect = {0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
    return TRUE;
}

BOOL MapDialogRect(HWND dialog, LPRECT rect) {
    Window *d = Find(dialog);
    if (!d || d->kind != Kind::Dialog || !rect) return FALSE;
    rect->left = ScaleX(rect->left, d->baseX);
    rect->right = ScaleX(rect->right, d->baseX);
    rect->top = ScaleY(rect->top, d->baseY);
    rect->bottom = ScaleY(rect->bottom, d->baseY);
    return TRUE;
}

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int size) {
    if (!buffer || size <= 0) return 0;
    buffer[0] = 0;
    const auto &strings = GetState().strings;
    const auto it = strings.find({instance, id});
    if (it == strings.end()) return 0;
    const int n = std::min(static_cast<int>(it->second.size()), size - 1);
    std::copy_n(it->second.data(), n, buffer);
    buffer[n] = 0;
    return n;
}

int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size) {
    if (!buffer || size <= 0) return 0;
    buffer[0] = '\0';
    const auto &strings = GetState().strings;
    const auto it = strings.find({instance, id});
    if (it == strings.end()) return 0;
    const int n = std::min(static_cast<int>(it->second.size()), size - 1);
    for (int i = 0; i < n; ++i) {
        const wchar_t c = it->second[static_cast<std::size_t>(i)];
        buffer[i] = c < 0x100 ? static_cast<char>(c) : '?';
    }
    buffer[n] = '\0';
    return n;
}

void InitCommonControls() { GetState().commonControls = true; }

namespace velkorix::portable {

void RegisterDialogTemplate(HINSTANCE instance, int id, DialogTemplate dialog) {
    GetState().dialogs[{instance, id}] = std::move(dialog);
}

bool RemoveDialogTemplate(HINSTANCE instance, int id, DialogTemplate *removed) {
    auto &dialogs = GetState().dialogs;
    const auto it = dialogs.find({instance, id});
    if (it == dialogs.end()) return false;
    if (removed) *removed = std::move(it->second);
    dialogs.erase(it);
    return true;
}

bool FindDialogTemplate(HINSTANCE instance, int id, DialogTemplate *found) {
    const auto &dialogs = GetState().dialogs;
    const auto it = dialogs.find({instance, id});
    if (it == dialogs.end()) return false;
    if (found) *found = it->second;
    return true;
}

void RegisterString(HINSTANCE instance, UINT id, std::wstring text) {
    GetState().strings[{instance, id}] = std::move(text);
}

bool RemoveString(HINSTANCE instance, UINT id, std::wstring *removed) {
    auto &strings = GetState().strings;
    const auto it = strings.find({instance, id});
    if (it == strings.end()) return false;
    if (removed) *removed = std::move(it->second);
    strings.erase(it);
    return true;
}

void SetMessageObserver(MessageObserver observer) { GetState().observer = std::move(observer); }

void FailWindowCreation(const std::string &className, int count) { GetState().failures[Lower(className)] = count; }

void ResetCommonControls() { GetState().commonControls = false; }

bool CommonControlsInitialized() { return GetState().commonControls; }

WindowRecord Inspect(HWND window) {
    Window *w = Find(window);
    return w ? w->record : WindowRecord{};
}

std::size_t LiveWindowCount() {
    const State &s = GetState();
    return s.windows.size() - (s.desktop ? 1 : 0);
}

void ScrollTrackbar(HWND trackbar, int code, LONG position) {
    Window *bar = Find(trackbar);
    if (!bar || bar->kind != Kind::Trackbar) return;
    switch (code) {
        case TB_LINEUP: bar->position -= 1; break;
        case TB_LINEDOWN: bar->position += 1; break;
        case TB_PAGEUP: bar->position -= (bar->rangeMax - bar->rangeMin) / 5; break;
        case TB_PAGEDOWN: bar->position += (bar->rangeMax - bar->rangeMin) / 5; break;
        case TB_THUMBTRACK:
        case TB_THUMBPOSITION: bar->position = position; break;
        case TB_TOP: bar->position = bar->rangeMin; break;
        case TB_BOTTOM: bar->position = bar->rangeMax; break;
        default: break;
    }
    bar->position = Clamp(bar->position, bar->rangeMin, bar->rangeMax);
    const UINT message = (bar->style & TBS_VERT) ? WM_VSCROLL : WM_HSCROLL;
    const bool thumb = code == TB_THUMBTRACK || code == TB_THUMBPOSITION;
    const HWND parent = bar->parent;
    SendMessageA(parent, message, MAKEWPARAM(code, thumb ? bar->position : 0), reinterpret_cast<LPARAM>(trackbar));
    if (code != TB_THUMBTRACK && code != TB_ENDTRACK && Find(trackbar))
        SendMessageA(parent, message, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(trackbar));
}

void DragTrackbarThumb(HWND trackbar, LONG position) {
    Window *bar = Find(trackbar);
    if (!bar || bar->kind != Kind::Trackbar) return;
    ScrollTrackbar(trackbar, TB_THUMBTRACK, position);
    ScrollTrackbar(trackbar, TB_THUMBPOSITION, position);
}

void ClickButton(HWND button) {
    Window *b = Find(button);
    if (!b) return;
    SendMessageA(b->parent, WM_COMMAND, MAKEWPARAM(b->id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

}  // namespace velkorix::portable
