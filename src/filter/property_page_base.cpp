#include "filter/property_page_base.h"

#include <cstring>

#include "filter/guids.h"
#include "filter/module.h"

namespace velkorix {

#if defined(_WIN32) && !defined(_WIN64)
// What the page reports as the structure size to 32-bit frames.
static_assert(sizeof(PROPPAGEINFO) == 28, "PROPPAGEINFO of the 32-bit platform");
#endif

PropertyPageBase::PropertyPageBase(IUnknown *outer, int dialogResource, int titleResource)
    : UnknownBase(outer), titleId(titleResource), dialogId(dialogResource) {}

PropertyPageBase::~PropertyPageBase() = default;

HRESULT STDMETHODCALLTYPE PropertyPageBase::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (!object) return E_POINTER;
    if (iid == kIidPropertyPage) return GetInterface(static_cast<IPropertyPage *>(this), object);
    return UnknownBase::NonDelegatingQueryInterface(iid, object);
}

HRESULT STDMETHODCALLTYPE PropertyPageBase::SetPageSite(IPropertyPageSite *site) {
    if (site) {
        if (pageSite) return E_UNEXPECTED;
        pageSite = site;
        pageSite->AddRef();
        return S_OK;
    }
    if (!pageSite) return E_UNEXPECTED;
    IPropertyPageSite *held = pageSite;
    pageSite = nullptr;
    held->Release();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PropertyPageBase::Activate(HWND parent, LPCRECT rect, BOOL) {
    if (!rect) return E_POINTER;
    if (!objectsSet || pageWindow) return E_UNEXPECTED;
    const HWND window = CreateDialogParamA(ModuleInstance(), MAKEINTRESOURCEA(dialogId), parent, DialogProcedure,
                                           reinterpret_cast<LPARAM>(this));
    if (!window) return E_OUTOFMEMORY;
    pageWindow = window;
    OnActivate();
    Move(rect);
    return Show(SW_SHOWNORMAL);
}

HRESULT STDMETHODCALLTYPE PropertyPageBase::Deactivate() {
    if (!pageWindow) return E_UNEXPECTED;
    // The page leaves the frame's tab order. With pageWindow cleared the
    // style hook in OnReceiveMessage lets the change through.
    const HWND window = pageWindow;
    pageWindow = nullptr;
    const LONG style = GetWindowLongA(window, GWL_EXSTYLE);
    SetWindowLongA(window, GWL_EXSTYLE, static_cast<LONG>(static_cast<DWORD>(style) & ~static_cast<DWORD>(WS_EX_CONTROLPARENT)));
    pageWindow = window;
    OnDeactivate();
    DestroyWindow(window);
    pageWindow = nullptr;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PropertyPageBase::GetPageInfo(PROPPAGEINFO *info) {
    if (!info) return E_POINTER;
    const HINSTANCE module = ModuleInstance();

    // The title, empty when the string resource is absent.
    WCHAR title[kPageTitleCapacity] = {};
    if (PlatformId() == 2) {
        LoadStringW(module, static_cast<UINT>(titleId), title, kPageTitleCapacity);
    } else {
        char ansi[kPageTitleCapacity] = {};
        if (LoadStringA(module, static_cast<UINT>(titleId), ansi, kPageTitleCapacity) > 0)
            MultiByteToWideChar(CP_ACP, 0, ansi, -1, title, kPageTitleCapacity);
    }
    title[kPageTitleCapacity - 1] = 0;
    std::size_t length = 0;
    while (title[length]) ++length;
    auto *copy = static_cast<LPOLESTR>(CoTaskMemAlloc((length + 1) * sizeof(OLECHAR)));
    if (!copy) return E_OUTOFMEMORY;
    std::memcpy(copy, title, (length + 1) * sizeof(OLECHAR));

    // The size of the page dialog, measured on a throw-away instance.
    SIZE size{kDefaultPageWidth, kDefaultPageHeight};
    const HWND probe = CreateDialogParamA(module, MAKEINTRESOURCEA(dialogId), GetDesktopWindow(), DialogProcedure, 0);
    if (probe) {
        RECT r{};
        GetWindowRect(probe, &r);
        size.cx = r.right - r.left;
        size.cy = r.bottom - r.top;
        DestroyWindow(probe);
    }

    info->cb = sizeof(PROPPAGEINFO);
    info->pszTitle = copy;
    info->size = size;
    info->pszDocString = nullptr;
    info->pszHelpFile = nullptr;
    info->dwHelpContext = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PropertyPageBase::SetObjects(ULONG count, IUnknown **objects) {
    if (count == 1) {
        if (!objects || !objects[0]) return E_POINTER;
        objectsSet = true;
        const HRESULT hr = OnConnect(objects[0]);
        // An object the page cannot work with leaves the page unconnected,
        // so it cannot be activated with nothing behind its controls.
        if (FAILED(hr)) objectsSet = false;
        return hr;
    }
    if (count == 0) {
        objectsSet = false;
        return OnDisconnect();
    }
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE PropertyPageBase::Show(UINT command) {
    if (!pageWindow) return E_UNEXPECTED;
    if (command != SW_HIDE && command != SW_SHOWNORMAL && command != SW_SHOW) return E_INVALIDARG;
    ShowWindow(pageWindow, static_cast<int>(command));
    InvalidateRect(pageWindow, nullptr, TRUE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PropertyPageBase::Move(LPCRECT rect) {
    if (!rect) return E_POINTER;
    if (!pageWindow) return E_UNEXPECTED;
    MoveWindow(pageWindow, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PropertyPageBase::IsPageDirty() { return dirty ? S_OK : S_FALSE; }

HRESULT STDMETHODCALLTYPE PropertyPageBase::Apply() {
    if (!objectsSet || !pageSite) return E_UNEXPECTED;
    if (!dirty) return S_OK;
    const HRESULT hr = OnApplyChanges();
    if (SUCCEEDED(hr)) dirty = false;
    return hr;
}

HRESULT STDMETHODCALLTYPE PropertyPageBase::Help(LPCOLESTR) { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE PropertyPageBase::TranslateAccelerator(MSG *) { return E_NOTIMPL; }

INT_PTR CALLBACK PropertyPageBase::DialogProcedure(HWND window, UINT message, WPARAM first, LPARAM second) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(window, DWLP_USER, second);
        auto *page = reinterpret_cast<PropertyPageBase *>(second);
        if (!page) return TRUE;
        page->dialogWindow = window;
    }
    auto *page = reinterpret_cast<PropertyPageBase *>(GetWindowLongPtrA(window, DWLP_USER));
    if (!page) return TRUE;
    return page->OnReceiveMessage(window, message, first, second);
}

INT_PTR PropertyPageBase::OnReceiveMessage(HWND window, UINT message, WPARAM first, LPARAM second) {
    if (!pageWindow) return 0;
    if (message == WM_STYLECHANGING && static_cast<int>(first) == GWL_EXSTYLE) {
        if (auto *change = reinterpret_cast<STYLESTRUCT *>(second)) change->styleNew |= WS_EX_CONTROLPARENT;
        return 0;
    }
    return DefWindowProcA(window, message, first, second);
}

void PropertyPageBase::SetDirty() {
    dirty = true;
    if (pageSite) pageSite->OnStatusChange(PROPPAGESTATUS_DIRTY);
}

void PropertyPageBase::ReleaseSiteAndObjects() {
    if (pageWindow) Deactivate();
    SetPageSite(nullptr);
    SetObjects(0, nullptr);
}

}  // namespace velkorix
