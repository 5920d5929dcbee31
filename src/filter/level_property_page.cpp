#include "filter/level_property_page.h"

#include <new>

#include "filter/guids.h"
#include "filter/level_page_resources.h"
#include "filter/module.h"

#if defined(_WIN32)
#include <commctrl.h>
#endif

namespace velkorix {

LevelPropertyPage::LevelPropertyPage(IUnknown *outer) : PropertyPageBase(outer, IDD_LEVEL_PAGE, IDS_LEVEL_PAGE_TITLE) {}

LevelPropertyPage::~LevelPropertyPage() { ReleaseSiteAndObjects(); }

UnknownBase *LevelPropertyPage::Create(IUnknown *outer, HRESULT *result) {
    auto *page = new (std::nothrow) LevelPropertyPage(outer);
    if (!page) {
        if (result) *result = E_OUTOFMEMORY;
        return nullptr;
    }
    InitCommonControls();
    EnsureLevelPageResources();
    return page;
}

HRESULT LevelPropertyPage::OnConnect(IUnknown *object) {
    if (!object) return E_POINTER;
    // A second connection first gives the previous object its level back.
    if (levelControl) OnDisconnect();
    ILevelAdjust *control = nullptr;
    if (FAILED(object->QueryInterface(kIidLevelAdjust, reinterpret_cast<void **>(&control))) || !control)
        return E_NOINTERFACE;
    levelControl = control;
    levelControl->GetLevel(&currentLevel);
    savedLevel = currentLevel;
    return S_OK;
}

HRESULT LevelPropertyPage::OnDisconnect() {
    if (!levelControl) return E_UNEXPECTED;
    ILevelAdjust *control = levelControl;
    levelControl = nullptr;
    control->SetLevel(savedLevel, 0);
    control->Release();
    return S_OK;
}

HRESULT LevelPropertyPage::OnActivate() { return S_OK; }

HRESULT LevelPropertyPage::OnDeactivate() {
    if (levelControl) levelControl->GetLevel(&currentLevel);
    return S_OK;
}

HRESULT LevelPropertyPage::OnApplyChanges() {
    if (levelControl) levelControl->GetLevel(&savedLevel);
    dirty = false;
    return S_OK;
}

void LevelPropertyPage::SetTrackbarPosition(LONG position) {
    if (trackbar) SendMessageA(trackbar, TBM_SETPOS, TRUE, static_cast<LPARAM>(position));
}

INT_PTR LevelPropertyPage::OnReceiveMessage(HWND window, UINT message, WPARAM first, LPARAM second) {
    switch (message) {
        case WM_INITDIALOG: {
            trackbar = CreateWindowExA(0, kTrackbarClass, "", kTrackbarStyle, kTrackbarX, kTrackbarY, kTrackbarWidth,
                                       kTrackbarHeight, window, nullptr, ModuleInstance(), nullptr);
            if (!trackbar) return TRUE;  // no slider; the reset command still works
            // Low word -127, high word 127: 0x007FFF81.
            const LPARAM range = static_cast<LPARAM>(static_cast<DWORD>(static_cast<WORD>(kLevelMinimum)) |
                                                     static_cast<DWORD>(kLevelMaximum) << 16);
            SendMessageA(trackbar, TBM_SETRANGE, TRUE, range);
            SendMessageA(trackbar, TBM_SETTIC, 0, 0);
            SetTrackbarPosition(currentLevel);
            return TRUE;
        }
        case WM_VSCROLL:
            switch (LOWORD(first)) {
                case TB_THUMBPOSITION:
                case TB_ENDTRACK: {
                    SetDirty();
                    const LRESULT position = trackbar ? SendMessageA(trackbar, TBM_GETPOS, 0, 0) : 0;
                    if (levelControl) levelControl->SetLevel(static_cast<int8_t>(position & 0xFF), 0);
                    break;
                }
                case TB_TOP:
                    // The level follows at the TB_ENDTRACK that ends the action.
                    SetDirty();
                    SetTrackbarPosition(kLevelMaximum);
                    break;
                case TB_BOTTOM:
                    SetDirty();
                    SetTrackbarPosition(kLevelMinimum);
                    break;
                default: break;
            }
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(first) == IDC_LEVEL_RESET) {
                if (levelControl) levelControl->ResetLevel();
                SetTrackbarPosition(0);
                SetDirty();
            }
            return TRUE;
        case WM_DESTROY:
            if (trackbar) DestroyWindow(trackbar);
            trackbar = nullptr;
            return TRUE;
        default: return PropertyPageBase::OnReceiveMessage(window, message, first, second);
    }
}

}  // namespace velkorix
