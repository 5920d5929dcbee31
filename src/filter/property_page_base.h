// The generic part of a property page: the frame's site, the page dialog's
// activation, showing and moving, the page information, the connection to
// the object the page edits, and the dirty state with its apply. A concrete
// page supplies the hooks, in this order: OnConnect, OnDisconnect,
// OnActivate, OnDeactivate, OnApplyChanges, OnReceiveMessage.
#pragma once

#include "platform/com_base.h"
#include "platform.h"

namespace velkorix {

// Page size reported when the page's dialog template cannot be created.
inline constexpr LONG kDefaultPageWidth = 340;
inline constexpr LONG kDefaultPageHeight = 150;
// Longest page title taken from the string resource, terminator included.
inline constexpr int kPageTitleCapacity = 256;

class PropertyPageBase : public UnknownBase, public IPropertyPage {
public:
    VELKORIX_DECLARE_IUNKNOWN
    // Answers IPropertyPage and IUnknown, nothing else.
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void **object) override;

    // IPropertyPage
    HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite *site) override;
    HRESULT STDMETHODCALLTYPE Activate(HWND parent, LPCRECT rect, BOOL modal) override;
    HRESULT STDMETHODCALLTYPE Deactivate() override;
    HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO *info) override;
    HRESULT STDMETHODCALLTYPE SetObjects(ULONG count, IUnknown **objects) override;
    HRESULT STDMETHODCALLTYPE Show(UINT command) override;
    HRESULT STDMETHODCALLTYPE Move(LPCRECT rect) override;
    HRESULT STDMETHODCALLTYPE IsPageDirty() override;
    HRESULT STDMETHODCALLTYPE Apply() override;
    HRESULT STDMETHODCALLTYPE Help(LPCOLESTR helpDirectory) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG *message) override;

    // The page dialog's procedure. WM_INITDIALOG's parameter is the page (or
    // null for a dialog made only to be measured); it is kept in the dialog's
    // DWLP_USER slot, and every message then goes to that page's
    // OnReceiveMessage. Without a page every message is answered TRUE.
    static INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM first, LPARAM second);

protected:
    PropertyPageBase(IUnknown *outer, int dialogResource, int titleResource);
    ~PropertyPageBase() override;

    virtual HRESULT OnConnect(IUnknown *object) = 0;
    virtual HRESULT OnDisconnect() = 0;
    virtual HRESULT OnActivate() = 0;
    virtual HRESULT OnDeactivate() = 0;
    virtual HRESULT OnApplyChanges() = 0;
    // The generic handling of a dialog message: nothing (0) while the page
    // is not active; otherwise keeps WS_EX_CONTROLPARENT on the dialog, so
    // that tab navigation of the frame enters the page, and hands everything
    // else to DefWindowProcA.
    virtual INT_PTR OnReceiveMessage(HWND window, UINT message, WPARAM first, LPARAM second);

    // Marks un-applied changes and tells the site.
    void SetDirty();

    // The final release of a page: takes down the dialog if the page is
    // still active (it must not outlive the page it calls into), drops the
    // site and disconnects the object, so the object gets back what the page
    // found in it unless the change was applied. The most derived page's
    // destructor runs it, while its own hooks are still in place.
    void ReleaseSiteAndObjects();

    IPropertyPageSite *pageSite = nullptr;
    HWND pageWindow = nullptr;
    HWND dialogWindow = nullptr;
    bool dirty = false;
    int titleId;
    int dialogId;
    bool objectsSet = false;
};

}  // namespace velkorix
