// Under wine, through the real COM run-time: the decoder's property-page list,
// the level property page created by the module's class factory and by
// CoCreateInstance, its rules, the page activated in a real window with the
// common controls' trackbar driven by real messages and keyboard input, a
// screenshot of the active page, and the write-back of an un-applied level.
//
// Usage: level-page [MODULE_PATH [SCREENSHOT]]
// (defaults: Velkorix.ax beside the program, level_page.png in the current
// directory). Needs a display (xvfb-run). Exit status 0 when every check passed.
#include "platform.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "filter/guids.h"
#include "filter/level_adjust.h"
#include "filter/level_page_resource.h"
#include "harness.h"
#include "png_writer.h"
#include "test_filters.h"

namespace {

using velkorix::kClsidLevelPropertyPage;
using velkorix::kClsidVelkorixDecoder;
using velkorix::kIidLevelAdjust;
using velkorix::kIidSpecifyPropertyPages;

// ---- Module and COM helpers ----

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE *)(REFCLSID, REFIID, void **);
using EntryFunction = HRESULT(STDAPICALLTYPE *)();

struct Module {
    HMODULE handle = nullptr;
    GetClassObjectFunction getClassObject = nullptr;
    EntryFunction registerServer = nullptr;
    EntryFunction unregisterServer = nullptr;
};

std::wstring Widen(const std::string &s) { return std::wstring(s.begin(), s.end()); }

std::string ProgramDirectory() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string p(path);
    const std::size_t slash = p.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : p.substr(0, slash);
}

// A frame's site: counts references and status changes.
class Site final : public IPropertyPageSite {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown || iid == IID_IPropertyPageSite) {
            *object = static_cast<IPropertyPageSite *>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references)); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&references)); }
    HRESULT STDMETHODCALLTYPE OnStatusChange(DWORD flags) override {
        statuses.push_back(flags);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID *locale) override {
        if (!locale) return E_POINTER;
        *locale = LOCALE_USER_DEFAULT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPageContainer(IUnknown **container) override {
        if (container) *container = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG *) override { return S_FALSE; }

    LONG references = 1;
    std::vector<DWORD> statuses;
};

// An object without the level interface.
class Plain final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown) {
            *object = this;
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references)); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&references)); }
    LONG references = 1;
};

// Makes task-memory allocations fail while armed (PreAlloc answering 0).
class FailingSpy final : public IMallocSpy {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown || iid == IID_IMallocSpy) {
            *object = static_cast<IMallocSpy *>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T request) override {
        if (armed) {
            ++refused;
            return 0;
        }
        return request;
    }
    void *STDMETHODCALLTYPE PostAlloc(void *actual) override { return actual; }
    void *STDMETHODCALLTYPE PreFree(void *request, BOOL) override { return request; }
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void *request, SIZE_T size, void **newRequest, BOOL) override {
        *newRequest = request;
        return size;
    }
    void *STDMETHODCALLTYPE PostRealloc(void *actual, BOOL) override { return actual; }
    void *STDMETHODCALLTYPE PreGetSize(void *request, BOOL) override { return request; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T actual, BOOL) override { return actual; }
    void *STDMETHODCALLTYPE PreDidAlloc(void *request, BOOL) override { return request; }
    int STDMETHODCALLTYPE PostDidAlloc(void *, BOOL, int actual) override { return actual; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}

    ULONG references = 1;
    bool armed = false;
    int refused = 0;
};

IBaseFilter *CreateDecoder() {
    IBaseFilter *filter = nullptr;
    const HRESULT hr = CoCreateInstance(kClsidVelkorixDecoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                        reinterpret_cast<void **>(&filter));
    CHECK_HR(hr, S_OK);
    return filter;
}

ILevelAdjust *LevelOf(IUnknown *filter) {
    ILevelAdjust *level = nullptr;
    CHECK_HR(filter->QueryInterface(kIidLevelAdjust, reinterpret_cast<void **>(&level)), S_OK);
    return level;
}

int Level(ILevelAdjust *level) {
    signed char value = 99;
    level->GetLevel(&value);
    return value;
}

IPropertyPage *CreatePageThroughCom() {
    IPropertyPage *page = nullptr;
    CHECK_HR(CoCreateInstance(kClsidLevelPropertyPage, nullptr, CLSCTX_INPROC_SERVER, IID_IPropertyPage,
                              reinterpret_cast<void **>(&page)),
             S_OK);
    return page;
}

void Pump(DWORD milliseconds) {
    const DWORD until = GetTickCount() + milliseconds;
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(10);
    } while (static_cast<LONG>(until - GetTickCount()) > 0);
}

RECT RectIn(HWND window, HWND reference) {
    RECT r{};
    GetWindowRect(window, &r);
    MapWindowPoints(nullptr, reference, reinterpret_cast<POINT *>(&r), 2);
    return r;
}

bool Overlap(const RECT &a, const RECT &b) {
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// Captures the window's screen area and writes it as PNG.
bool Screenshot(HWND window, const std::string &path) {
    RECT r{};
    GetWindowRect(window, &r);
    const int width = r.right - r.left, height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap && bits) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY) != FALSE;
        GdiFlush();
        SelectObject(memory, old);
        std::vector<uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
        const auto *bgra = static_cast<const uint8_t *>(bits);
        for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height; ++i) {
            rgb[3 * i] = bgra[4 * i + 2];
            rgb[3 * i + 1] = bgra[4 * i + 1];
            rgb[3 * i + 2] = bgra[4 * i];
        }
        ok = ok && velkorix::wintest::WritePng(path, width, height, rgb);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

// The dialog class, #32770.
const LPCWSTR kDialogClass = reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(0x8002));

// ---- The parts ----

void FilterPagesAndLevel(FailingSpy &spy) {
    IBaseFilter *filter = CreateDecoder();
    if (!filter) return;
    ISpecifyPropertyPages *pages = nullptr;
    CHECK_HR(filter->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void **>(&pages)), S_OK);
    if (pages) {
        CAUUID list{0, nullptr};
        CHECK_HR(pages->GetPages(&list), S_OK);
        CHECK_EQ(list.cElems, 1u);
        CHECK(list.pElems && list.pElems[0] == kClsidLevelPropertyPage);
        CoTaskMemFree(list.pElems);
        CHECK_HR(pages->GetPages(nullptr), E_POINTER);

        // Task memory refused: E_OUTOFMEMORY, the count says 1, no array.
        spy.armed = true;
        list = CAUUID{7, reinterpret_cast<GUID *>(1)};
        const HRESULT hr = pages->GetPages(&list);
        spy.armed = false;
        CHECK_HR(hr, E_OUTOFMEMORY);
        CHECK_EQ(list.cElems, 1u);
        CHECK(list.pElems == nullptr);
        CHECK(spy.refused > 0);
        pages->Release();
    }

    ILevelAdjust *level = LevelOf(filter);
    if (level) {
        CHECK_EQ(Level(level), 0);
        CHECK_HR(level->SetLevel(-127, 0), S_OK);
        CHECK_EQ(Level(level), -127);
        CHECK_HR(level->SetLevel(200, 0), S_OK);
        CHECK_EQ(Level(level), -56);
        CHECK_HR(level->ResetLevel(), S_OK);
        CHECK_EQ(Level(level), 0);
        CHECK_HR(level->GetLevel(nullptr), E_POINTER);
        level->Release();
    }
    filter->Release();
}

void PageCreation(const Module &module) {
    IClassFactory *factory = nullptr;
    CHECK_HR(module.getClassObject(kClsidLevelPropertyPage, IID_IClassFactory, reinterpret_cast<void **>(&factory)),
             S_OK);
    if (!factory) return;
    IPropertyPage *page = nullptr;
    CHECK_HR(factory->CreateInstance(nullptr, IID_IPropertyPage, reinterpret_cast<void **>(&page)), S_OK);
    if (page) {
        void *other = reinterpret_cast<void *>(1);
        CHECK_HR(page->QueryInterface(IID_ISpecifyPropertyPages, &other), E_NOINTERFACE);
        CHECK(other == nullptr);
        CHECK_EQ(page->Release(), 0u);
    }
    factory->Release();

    page = CreatePageThroughCom();
    if (page) CHECK_EQ(page->Release(), 0u);
}

void PageRulesWithoutAWindow(Site &site) {
    IPropertyPage *page = CreatePageThroughCom();
    if (!page) return;
    const RECT rect{0, 0, 100, 100};
    CHECK_HR(page->Activate(nullptr, nullptr, FALSE), E_POINTER);
    CHECK_HR(page->Activate(nullptr, &rect, FALSE), E_UNEXPECTED);
    CHECK_HR(page->Deactivate(), E_UNEXPECTED);
    CHECK_HR(page->Show(SW_SHOW), E_UNEXPECTED);
    CHECK_HR(page->Move(&rect), E_UNEXPECTED);
    CHECK_HR(page->Move(nullptr), E_POINTER);
    CHECK_HR(page->Apply(), E_UNEXPECTED);
    CHECK_HR(page->GetPageInfo(nullptr), E_POINTER);
    CHECK_HR(page->Help(nullptr), E_NOTIMPL);
    CHECK_HR(page->TranslateAccelerator(nullptr), E_NOTIMPL);
    CHECK_HR(page->IsPageDirty(), S_FALSE);

    CHECK_HR(page->SetPageSite(nullptr), E_UNEXPECTED);
    CHECK_HR(page->SetPageSite(&site), S_OK);
    CHECK_EQ(site.references, 2);
    CHECK_HR(page->SetPageSite(&site), E_UNEXPECTED);

    CHECK_HR(page->SetObjects(1, nullptr), E_POINTER);
    IUnknown *none[] = {nullptr};
    CHECK_HR(page->SetObjects(1, none), E_POINTER);
    CHECK_HR(page->SetObjects(0, nullptr), E_UNEXPECTED);
    Plain plain;
    IUnknown *plainObjects[] = {&plain, &plain};
    CHECK_HR(page->SetObjects(2, plainObjects), E_UNEXPECTED);
    CHECK_HR(page->SetObjects(1, plainObjects), E_NOINTERFACE);
    CHECK_EQ(plain.references, 1);

    // Connected to a filter at level 10, a change made while connected is
    // undone by the disconnect.
    IBaseFilter *filter = CreateDecoder();
    ILevelAdjust *level = filter ? LevelOf(filter) : nullptr;
    if (level) {
        level->SetLevel(10, 0);
        IUnknown *objects[] = {filter};
        CHECK_HR(page->SetObjects(1, objects), S_OK);
        CHECK_HR(page->IsPageDirty(), S_FALSE);
        CHECK_HR(page->Apply(), S_OK);  // nothing to apply
        level->SetLevel(50, 0);
        CHECK_HR(page->SetObjects(0, nullptr), S_OK);
        CHECK_EQ(Level(level), 10);
        CHECK_HR(page->SetObjects(0, nullptr), E_UNEXPECTED);
        level->Release();
    }
    if (filter) filter->Release();

    CHECK_HR(page->SetPageSite(nullptr), S_OK);
    CHECK_EQ(site.references, 1);
    CHECK_EQ(page->Release(), 0u);
}

LRESULT CALLBACK FrameProcedure(HWND window, UINT message, WPARAM first, LPARAM second) {
    return DefWindowProcW(window, message, first, second);
}

HWND CreateFrame() {
    WNDCLASSW frameClass{};
    frameClass.lpfnWndProc = FrameProcedure;
    frameClass.hInstance = GetModuleHandleW(nullptr);
    frameClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    frameClass.lpszClassName = L"VelkorixLevelPageFrame";
    frameClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    RegisterClassW(&frameClass);
    HWND frame = CreateWindowExW(0, L"VelkorixLevelPageFrame", L"Velkorix level page",
                                 WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE, 40, 40, 420, 260, nullptr,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
    CHECK(frame != nullptr);
    Pump(100);
    return frame;
}

struct ActivePage {
    IPropertyPage *page = nullptr;
    HWND dialog = nullptr;
    HWND trackbar = nullptr;
    HWND reset = nullptr;
};

ActivePage Activate(HWND frame, IPropertyPage *page, const SIZE &size) {
    ActivePage active;
    active.page = page;
    const RECT rect{8, 8, 8 + size.cx, 8 + size.cy};
    CHECK_HR(page->Activate(frame, &rect, FALSE), S_OK);
    active.dialog = FindWindowExW(frame, nullptr, kDialogClass, nullptr);
    CHECK(active.dialog != nullptr);
    if (active.dialog) {
        active.trackbar = FindWindowExW(active.dialog, nullptr, TRACKBAR_CLASSW, nullptr);
        active.reset = GetDlgItem(active.dialog, IDC_LEVEL_RESET);
    }
    CHECK(active.trackbar != nullptr);
    CHECK(active.reset != nullptr);
    return active;
}

LRESULT Position(HWND trackbar) { return SendMessageW(trackbar, TBM_GETPOS, 0, 0); }

// Presses and releases a key on the focused trackbar, as a user would.
void Key(HWND trackbar, WPARAM key) {
    SetFocus(trackbar);
    SendMessageW(trackbar, WM_KEYDOWN, key, 1);
    SendMessageW(trackbar, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
    Pump(20);
}

void PageInARealWindow(Site &site, const std::string &screenshotPath) {
    HWND frame = CreateFrame();
    if (!frame) return;
    IBaseFilter *filter = CreateDecoder();
    ILevelAdjust *level = filter ? LevelOf(filter) : nullptr;
    IPropertyPage *page = CreatePageThroughCom();
    if (!level || !page) return;

    // Page information: the title string and the size of the dialog.
    PROPPAGEINFO info{};
    CHECK_HR(page->GetPageInfo(&info), S_OK);
    CHECK_EQ(info.cb, static_cast<ULONG>(sizeof(PROPPAGEINFO)));
    CHECK(info.pszTitle && std::wstring(info.pszTitle) == Widen(LEVEL_PAGE_TITLE));
    CHECK(info.pszDocString == nullptr && info.pszHelpFile == nullptr && info.dwHelpContext == 0);
    CHECK(info.size.cx > 0 && info.size.cy > 0);
    std::printf("page info: size %ld x %ld\n", static_cast<long>(info.size.cx), static_cast<long>(info.size.cy));
    CoTaskMemFree(info.pszTitle);

    level->SetLevel(10, 0);
    CHECK_HR(page->SetPageSite(&site), S_OK);
    IUnknown *objects[] = {filter};
    CHECK_HR(page->SetObjects(1, objects), S_OK);
    ActivePage active = Activate(frame, page, info.size);
    if (!active.trackbar || !active.reset) return;
    Pump(100);

    // The dialog: visible, holding the page, in the frame's tab order, the
    // size the page information gave.
    CHECK(IsWindowVisible(active.dialog));
    CHECK(GetWindowLongPtrW(active.dialog, DWLP_USER) != 0);
    CHECK((GetWindowLongW(active.dialog, GWL_EXSTYLE) & WS_EX_CONTROLPARENT) != 0);
    RECT d = RectIn(active.dialog, frame);
    CHECK_EQ(d.right - d.left, info.size.cx);
    CHECK_EQ(d.bottom - d.top, info.size.cy);

    // The trackbar of the common controls, at its place, with its range,
    // tick and the filter's level.
    CHECK_EQ(static_cast<DWORD>(GetWindowLongW(active.trackbar, GWL_STYLE)) & 0x5003000Au, 0x5003000Au);
    const RECT bar = RectIn(active.trackbar, active.dialog);
    CHECK_EQ(bar.left, 62);
    CHECK_EQ(bar.top, 35);
    CHECK_EQ(bar.right - bar.left, 39);
    CHECK_EQ(bar.bottom - bar.top, 100);
    CHECK_EQ(SendMessageW(active.trackbar, TBM_GETRANGEMIN, 0, 0), -127);
    CHECK_EQ(SendMessageW(active.trackbar, TBM_GETRANGEMAX, 0, 0), 127);
    CHECK_EQ(SendMessageW(active.trackbar, TBM_GETNUMTICS, 0, 0), 3);
    CHECK_EQ(SendMessageW(active.trackbar, TBM_GETTIC, 0, 0), 0);
    CHECK_EQ(Position(active.trackbar), 10);

    // The Reset button and every other control leave the trackbar's place free.
    for (HWND child = GetWindow(active.dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (child == active.trackbar) continue;
        const RECT c = RectIn(child, active.dialog);
        CHECK(!Overlap(c, bar));
        CHECK(c.right <= d.right - d.left && c.bottom <= d.bottom - d.top);
    }
    wchar_t text[16] = {};
    GetWindowTextW(active.reset, text, 16);
    CHECK(std::wstring(text) == Widen(LEVEL_RESET_TEXT));

    // Real messages: the trackbar moved to 50 and its end of track.
    site.statuses.clear();
    SendMessageW(active.trackbar, TBM_SETPOS, TRUE, 50);
    SendMessageW(active.dialog, WM_VSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(active.trackbar));
    CHECK_EQ(Level(level), 50);
    CHECK_HR(page->IsPageDirty(), S_OK);
    CHECK(!site.statuses.empty() && site.statuses.back() == PROPPAGESTATUS_DIRTY);

    // Keyboard input on the control. Home moves the control to its minimum
    // and reports TB_TOP, which the page turns into 127; an arrow steps by
    // one; End moves it to its maximum and reports TB_BOTTOM, which the page
    // turns into -127. Each key's release ends the track and writes the level.
    // (At an end of its range the control ignores the key leading there.)
    Key(active.trackbar, VK_HOME);
    CHECK_EQ(Position(active.trackbar), 127);
    CHECK_EQ(Level(level), 127);
    Key(active.trackbar, VK_UP);
    CHECK_EQ(Position(active.trackbar), 126);
    CHECK_EQ(Level(level), 126);
    SendMessageW(active.trackbar, TBM_SETPOS, TRUE, 0);
    Key(active.trackbar, VK_END);
    CHECK_EQ(Position(active.trackbar), -127);
    CHECK_EQ(Level(level), -127);

    // The Reset button.
    SendMessageW(active.reset, BM_CLICK, 0, 0);
    Pump(20);
    CHECK_EQ(Level(level), 0);
    CHECK_EQ(Position(active.trackbar), 0);

    // Back to 50 for the picture.
    SendMessageW(active.trackbar, TBM_SETPOS, TRUE, 50);
    SendMessageW(active.dialog, WM_VSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(active.trackbar));
    CHECK_EQ(Level(level), 50);
    RedrawWindow(frame, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Pump(300);
    const bool saved = Screenshot(frame, screenshotPath);
    CHECK(saved);
    if (saved) std::printf("screenshot: %s\n", screenshotPath.c_str());

    // Show and Move.
    CHECK_HR(page->Show(SW_MINIMIZE), E_INVALIDARG);
    CHECK_HR(page->Show(SW_MAXIMIZE), E_INVALIDARG);
    CHECK_HR(page->Show(SW_HIDE), S_OK);
    CHECK(!IsWindowVisible(active.dialog));
    CHECK_HR(page->Show(SW_SHOW), S_OK);
    CHECK(IsWindowVisible(active.dialog));
    const RECT moved{20, 12, 20 + info.size.cx, 12 + info.size.cy};
    CHECK_HR(page->Move(&moved), S_OK);
    d = RectIn(active.dialog, frame);  // in the frame's client area
    CHECK_EQ(d.left, 20);
    CHECK_EQ(d.top, 12);
    CHECK_HR(page->Move(nullptr), E_POINTER);

    // The page keeps itself in the tab order while active.
    SetWindowLongW(active.dialog, GWL_EXSTYLE, 0);
    CHECK((GetWindowLongW(active.dialog, GWL_EXSTYLE) & WS_EX_CONTROLPARENT) != 0);

    CHECK_HR(page->Activate(frame, &moved, FALSE), E_UNEXPECTED);
    CHECK_HR(page->Deactivate(), S_OK);
    CHECK(!IsWindow(active.dialog));
    CHECK(!IsWindow(active.trackbar));
    CHECK_HR(page->Deactivate(), E_UNEXPECTED);

    // Not applied: the disconnect gives the filter its 10 back.
    CHECK_HR(page->SetObjects(0, nullptr), S_OK);
    CHECK_EQ(Level(level), 10);
    CHECK_HR(page->SetPageSite(nullptr), S_OK);
    CHECK_EQ(page->Release(), 0u);

    // Applied: 50 stays.
    page = CreatePageThroughCom();
    if (page) {
        CHECK_HR(page->SetPageSite(&site), S_OK);
        CHECK_HR(page->SetObjects(1, objects), S_OK);
        active = Activate(frame, page, info.size);
        if (active.trackbar) {
            CHECK_EQ(Position(active.trackbar), 10);
            SendMessageW(active.trackbar, TBM_SETPOS, TRUE, 50);
            SendMessageW(active.dialog, WM_VSCROLL, MAKEWPARAM(TB_THUMBPOSITION, 50),
                         reinterpret_cast<LPARAM>(active.trackbar));
            CHECK_EQ(Level(level), 50);
            CHECK_HR(page->Apply(), S_OK);
            CHECK_HR(page->IsPageDirty(), S_FALSE);
        }
        CHECK_HR(page->Deactivate(), S_OK);
        CHECK_HR(page->SetObjects(0, nullptr), S_OK);
        CHECK_EQ(Level(level), 50);
        CHECK_HR(page->SetPageSite(nullptr), S_OK);
        CHECK_EQ(page->Release(), 0u);
    }

    // Released by the frame while connected: the page's final release puts
    // the level it found back and lets go of the site.
    page = CreatePageThroughCom();
    if (page) {
        CHECK_HR(page->SetPageSite(&site), S_OK);
        CHECK_HR(page->SetObjects(1, objects), S_OK);
        active = Activate(frame, page, info.size);
        if (active.trackbar) {
            SendMessageW(active.trackbar, TBM_SETPOS, TRUE, -30);
            SendMessageW(active.dialog, WM_VSCROLL, MAKEWPARAM(TB_ENDTRACK, 0),
                         reinterpret_cast<LPARAM>(active.trackbar));
            CHECK_EQ(Level(level), -30);
        }
        CHECK_HR(page->Deactivate(), S_OK);
        CHECK_EQ(page->Release(), 0u);
        CHECK_EQ(Level(level), 50);
        CHECK_EQ(site.references, 1);
    }

    level->Release();
    CHECK_EQ(filter->Release(), 0u);
    DestroyWindow(frame);
}

// ---- The platform's property frame ----

struct FrameDriver {
    ILevelAdjust *level = nullptr;
    LONG position = 0;
    std::string screenshotPath;
    int levelWhileOpen = 1000;
    bool found = false;
};

BOOL CALLBACK FindFrame(HWND window, LPARAM found) {
    wchar_t title[128] = {};
    GetWindowTextW(window, title, 128);
    if (!IsWindowVisible(window) || !std::wcsstr(title, L"Velkorix Decoder")) return TRUE;
    *reinterpret_cast<HWND *>(found) = window;
    return FALSE;
}

BOOL CALLBACK FindTrackbar(HWND window, LPARAM found) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (lstrcmpiW(name, TRACKBAR_CLASSW) != 0) return TRUE;
    *reinterpret_cast<HWND *>(found) = window;
    return FALSE;
}

// Runs beside the modal frame: finds it, moves the page's trackbar, reads the
// filter's level, takes a picture and closes the frame with Cancel.
DWORD WINAPI DriveFrame(void *parameter) {
    auto *driver = static_cast<FrameDriver *>(parameter);
    // The frame's caption names the object ("Velkorix Decoder Properties",
    // or "Properties for Velkorix Decoder" in wine).
    HWND frame = nullptr;
    for (int i = 0; i < 500 && !frame; ++i) {
        EnumWindows(FindFrame, reinterpret_cast<LPARAM>(&frame));
        if (!frame) Sleep(10);
    }
    if (!frame) return 1;
    HWND dialog = nullptr, trackbar = nullptr;
    for (int i = 0; i < 500 && !trackbar; ++i) {
        // The page's trackbar, wherever the frame put the page.
        EnumChildWindows(frame, FindTrackbar, reinterpret_cast<LPARAM>(&trackbar));
        if (!trackbar) Sleep(10);
    }
    if (trackbar) dialog = GetParent(trackbar);
    driver->found = trackbar != nullptr;
    if (trackbar) {
        SendMessageW(trackbar, TBM_SETPOS, TRUE, driver->position);
        SendMessageW(dialog, WM_VSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(trackbar));
        driver->levelWhileOpen = Level(driver->level);
        if (!driver->screenshotPath.empty()) {
            Sleep(300);
            Screenshot(frame, driver->screenshotPath);
        }
    }
    PostMessageW(frame, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return 0;
}

// The page in OleCreatePropertyFrame, the frame applications show property
// pages in: the level follows the trackbar while the frame is open, and is
// back where it was after Cancel. (Wine's frame lets its pages go with a
// final release and no SetObjects(0), so this also runs the page's own
// write-back on final release; it never applies, not even for OK, so OK is
// not checked here.)
void PageInThePlatformFrame(const std::string &screenshotPath) {
    IBaseFilter *filter = CreateDecoder();
    ILevelAdjust *level = filter ? LevelOf(filter) : nullptr;
    REQUIRE_VOID(level);
    ISpecifyPropertyPages *pages = nullptr;
    CHECK_HR(filter->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void **>(&pages)), S_OK);
    REQUIRE_VOID(pages);
    CAUUID list{0, nullptr};
    CHECK_HR(pages->GetPages(&list), S_OK);
    level->SetLevel(10, 0);

    FrameDriver driver;
    driver.level = level;
    driver.position = 70;
    driver.screenshotPath = screenshotPath;
    HANDLE thread = CreateThread(nullptr, 0, DriveFrame, &driver, 0, nullptr);
    IUnknown *objects[] = {filter};
    const HRESULT hr = OleCreatePropertyFrame(nullptr, 30, 30, L"Velkorix Decoder", 1, objects, list.cElems,
                                              list.pElems, LOCALE_USER_DEFAULT, 0, nullptr);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    CHECK_HR(hr, S_OK);
    CHECK(driver.found);
    CHECK_EQ(driver.levelWhileOpen, 70);
    CHECK_EQ(Level(level), 10);
    CoTaskMemFree(list.pElems);
    pages->Release();
    level->Release();
    filter->Release();
}

// ---- The level step in a running graph ----

// A G.726 record: 120 payload bytes of varied codes, 640 bytes of PCM out.
std::vector<BYTE> Record(uint32_t seed) {
    std::vector<BYTE> record(18 + 120, 0);
    record[14] = 120;
    uint32_t state = seed * 2654435761u + 1;
    for (size_t i = 18; i < record.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        record[i] = static_cast<BYTE>(state >> 24);
    }
    return record;
}

// source (samples pushed by the test) -> Velkorix Decoder -> sink, running.
struct LevelGraph {
    IGraphBuilder *builder = nullptr;
    IMediaControl *control = nullptr;
    vtest::StreamSource *source = nullptr;
    IBaseFilter *decoder = nullptr;
    vtest::CollectSink *sink = nullptr;
    IPin *decoderIn = nullptr;
    IPin *decoderOut = nullptr;
    IMemInputPin *input = nullptr;

    bool Start() {
        if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                    reinterpret_cast<void **>(&builder))))
            return false;
        builder->QueryInterface(IID_IMediaControl, reinterpret_cast<void **>(&control));
        source = new vtest::StreamSource({}, 400000, 8000, 1);
        source->SetStreaming(false);
        sink = new vtest::CollectSink(true);
        decoder = CreateDecoder();
        if (!decoder || !control) return false;
        if (FAILED(builder->AddFilter(source, L"Source")) || FAILED(builder->AddFilter(decoder, L"Velkorix Decoder")) ||
            FAILED(builder->AddFilter(sink, L"Sink")))
            return false;
        if (FAILED(decoder->FindPin(L"XForm In", &decoderIn)) || FAILED(decoder->FindPin(L"XForm Out", &decoderOut)))
            return false;
        if (FAILED(builder->ConnectDirect(source->OutputPin(), decoderIn, &source->OutputType())) ||
            FAILED(builder->ConnectDirect(decoderOut, sink->InputPin(), nullptr)))
            return false;
        if (FAILED(decoderIn->QueryInterface(IID_IMemInputPin, reinterpret_cast<void **>(&input)))) return false;
        return SUCCEEDED(control->Run());
    }
    HRESULT Push(const std::vector<BYTE> &record) {
        vtest::TestSample *sample = new vtest::TestSample(record);
        const HRESULT hr = input->Receive(sample);
        sample->Release();
        return hr;
    }
    ~LevelGraph() {
        if (control) control->Stop();
        if (input) input->Release();
        if (decoderIn) decoderIn->Release();
        if (decoderOut) decoderOut->Release();
        if (control) control->Release();
        if (builder) builder->Release();
        if (decoder) decoder->Release();
        if (source) source->Release();
        if (sink) sink->Release();
    }
};

// The level moved on the page while the graph runs: the next output sample,
// and only that one, carries the input connection type; the PCM of every
// sample is exactly what a decoder whose level never moved delivers.
void LevelStepInARunningGraph(Site &site) {
    std::vector<std::vector<BYTE>> records;
    for (uint32_t i = 0; i < 9; ++i) records.push_back(Record(i));

    std::vector<std::vector<BYTE>> expected;
    {
        LevelGraph plain;
        REQUIRE_VOID(plain.Start());
        for (const auto &record : records) CHECK_HR(plain.Push(record), S_OK);
        for (const auto &s : plain.sink->samples) {
            CHECK(!s.typeAttached);
            expected.push_back(s.bytes);
        }
        CHECK_EQ(expected.size(), records.size());
    }

    LevelGraph graph;
    REQUIRE_VOID(graph.Start());
    ILevelAdjust *level = LevelOf(graph.decoder);
    HWND frame = CreateFrame();
    IPropertyPage *page = CreatePageThroughCom();
    REQUIRE_VOID(level && frame && page);
    CHECK_HR(page->SetPageSite(&site), S_OK);
    IUnknown *objects[] = {graph.decoder};
    CHECK_HR(page->SetObjects(1, objects), S_OK);
    const SIZE size{300, 160};
    ActivePage active = Activate(frame, page, size);
    REQUIRE_VOID(active.trackbar && active.reset);

    for (size_t i = 0; i < 3; ++i) CHECK_HR(graph.Push(records[i]), S_OK);
    SendMessageW(active.trackbar, TBM_SETPOS, TRUE, 40);
    SendMessageW(active.dialog, WM_VSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(active.trackbar));
    CHECK_EQ(Level(level), 40);
    for (size_t i = 3; i < 6; ++i) CHECK_HR(graph.Push(records[i]), S_OK);
    SendMessageW(active.reset, BM_CLICK, 0, 0);
    Pump(20);
    CHECK_EQ(Level(level), 0);
    for (size_t i = 6; i < 9; ++i) CHECK_HR(graph.Push(records[i]), S_OK);

    AM_MEDIA_TYPE inputType{};
    CHECK_HR(graph.decoderIn->ConnectionMediaType(&inputType), S_OK);
    const auto &samples = graph.sink->samples;
    CHECK_EQ(samples.size(), records.size());
    for (size_t i = 0; i < samples.size() && i < expected.size(); ++i) {
        const vtest::ReceivedSample &s = samples[i];
        if (s.bytes != expected[i]) vtest::Fail(__FILE__, __LINE__, "PCM of sample " + std::to_string(i) + " changed");
        const bool changed = i == 3 || i == 6;
        if (s.typeAttached != changed) {
            vtest::Fail(__FILE__, __LINE__, "sample " + std::to_string(i) + (changed ? " lacks" : " carries") +
                                                " an attached type");
            continue;
        }
        if (!changed) continue;
        // The input's type, format block untouched (an audio block holds no palette).
        CHECK(IsEqualGUID(s.type.majortype, velkorix::kMediaTypeAudio));
        CHECK(IsEqualGUID(s.type.subtype, velkorix::kSubtypeWave));
        CHECK(IsEqualGUID(s.type.formattype, inputType.formattype));
        CHECK(s.type.cbFormat == inputType.cbFormat && s.type.cbFormat > 0 &&
              std::memcmp(s.type.pbFormat, inputType.pbFormat, inputType.cbFormat) == 0);
    }
    vtest::FreeType(inputType);

    CHECK_HR(page->Deactivate(), S_OK);
    CHECK_HR(page->SetObjects(0, nullptr), S_OK);
    CHECK_HR(page->SetPageSite(nullptr), S_OK);
    CHECK_EQ(page->Release(), 0u);
    level->Release();
    DestroyWindow(frame);
}

// "x.png" -> "x-frame.png"
std::string FrameScreenshotPath(const std::string &path) {
    const std::size_t dot = path.rfind('.');
    return dot == std::string::npos ? path + "-frame" : path.substr(0, dot) + "-frame" + path.substr(dot);
}

}  // namespace

VTEST_COMMAND(LevelPageCommand, "level-page", "level-page [MODULE_PATH [SCREENSHOT]]") {
    const std::string modulePath = argc > 1 ? argv[1] : ProgramDirectory() + "\\Velkorix.ax";
    const std::string screenshotPath = argc > 2 ? argv[2] : "level_page.png";

    CHECK_HR(CoInitialize(nullptr), S_OK);
    InitCommonControls();
    Module module;
    module.handle = LoadLibraryA(modulePath.c_str());
    REQUIRE(module.handle != nullptr);
    module.getClassObject = reinterpret_cast<GetClassObjectFunction>(
        reinterpret_cast<void *>(GetProcAddress(module.handle, "DllGetClassObject")));
    module.registerServer =
        reinterpret_cast<EntryFunction>(reinterpret_cast<void *>(GetProcAddress(module.handle, "DllRegisterServer")));
    module.unregisterServer = reinterpret_cast<EntryFunction>(
        reinterpret_cast<void *>(GetProcAddress(module.handle, "DllUnregisterServer")));
    REQUIRE(module.getClassObject && module.registerServer && module.unregisterServer);
    // CoCreateInstance and the graph find the classes through the registry.
    CHECK_HR(module.registerServer(), S_OK);

    FailingSpy spy;
    CHECK_HR(CoRegisterMallocSpy(&spy), S_OK);
    FilterPagesAndLevel(spy);
    CHECK_HR(CoRevokeMallocSpy(), S_OK);

    Site site;
    PageCreation(module);
    PageRulesWithoutAWindow(site);
    PageInARealWindow(site, screenshotPath);
    PageInThePlatformFrame(FrameScreenshotPath(screenshotPath));
    LevelStepInARunningGraph(site);

    CHECK_HR(module.unregisterServer(), S_OK);
    CoUninitialize();
    return vtest::Finish(argv[0]);
}
