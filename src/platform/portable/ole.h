// The OLE property-page interfaces for builds without the platform: a frame's
// site, the page itself, and the object's list of its pages. Method order is
// the platform's vtable order.
//
// platform.h comes first: it includes this header at its end, once its
// basic types exist, so the guard below must not be set before then.
#include "platform.h"

#ifndef VELKORIX_PORTABLE_OLE_H
#define VELKORIX_PORTABLE_OLE_H

#include "ui.h"

typedef DWORD LCID;

// Status flags a page reports to its site.
#define PROPPAGESTATUS_DIRTY 0x1
#define PROPPAGESTATUS_VALIDATE 0x2
#define PROPPAGESTATUS_CLEAN 0x4

// A counted array of identifiers in task memory; the receiver frees it.
struct CAUUID {
    ULONG cElems;
    GUID *pElems;
};

struct PROPPAGEINFO {
    ULONG cb;
    LPOLESTR pszTitle;
    SIZE size;
    LPOLESTR pszDocString;
    LPOLESTR pszHelpFile;
    DWORD dwHelpContext;
};

struct IPropertyPageSite : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OnStatusChange(DWORD flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetLocaleID(LCID *locale) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPageContainer(IUnknown **container) = 0;
    virtual HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG *message) = 0;

protected:
    ~IPropertyPageSite() = default;
};

struct IPropertyPage : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetPageSite(IPropertyPageSite *site) = 0;
    virtual HRESULT STDMETHODCALLTYPE Activate(HWND parent, LPCRECT rect, BOOL modal) = 0;
    virtual HRESULT STDMETHODCALLTYPE Deactivate() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPageInfo(PROPPAGEINFO *info) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetObjects(ULONG count, IUnknown **objects) = 0;
    virtual HRESULT STDMETHODCALLTYPE Show(UINT command) = 0;
    virtual HRESULT STDMETHODCALLTYPE Move(LPCRECT rect) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsPageDirty() = 0;
    virtual HRESULT STDMETHODCALLTYPE Apply() = 0;
    virtual HRESULT STDMETHODCALLTYPE Help(LPCOLESTR helpDirectory) = 0;
    virtual HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG *message) = 0;

protected:
    ~IPropertyPage() = default;
};

struct ISpecifyPropertyPages : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetPages(CAUUID *pages) = 0;

protected:
    ~ISpecifyPropertyPages() = default;
};

#endif  // VELKORIX_PORTABLE_OLE_H
