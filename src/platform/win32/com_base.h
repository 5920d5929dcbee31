// Reference-counted, aggregatable object base over real COM.
#pragma once

#include "platform.h"

// The object's own IUnknown, distinct from the delegating one that an outer
// object sees; its vtable has the same shape as IUnknown's, so a pointer to it
// serves as the controlling unknown of an object that is not aggregated.
struct INonDelegatingUnknown {
    virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void **object) = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;

protected:
    ~INonDelegatingUnknown() = default;
};

namespace velkorix {

// Number of live reference-counted objects of the module (class factories,
// filters with their pins, enumerators, ...). Changed with interlocked
// operations only.
extern volatile LONG activeObjectCount;

class UnknownBase : public INonDelegatingUnknown {
public:
    explicit UnknownBase(IUnknown *outer);
    virtual ~UnknownBase();
    UnknownBase(const UnknownBase &) = delete;
    UnknownBase &operator=(const UnknownBase &) = delete;

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void **object) override;
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    // The controlling unknown: the outer object when aggregated, else our own.
    IUnknown *GetOwner() const { return owner_; }

protected:
    // Hands out `iface` with one reference added through it.
    static HRESULT GetInterface(IUnknown *iface, void **object);

private:
    IUnknown *owner_;
    volatile LONG references_ = 0;  // creators take their first reference explicitly
};

}  // namespace velkorix

// The three IUnknown methods of an interface implemented by an object built on
// UnknownBase: they forward to the controlling unknown.
#define VELKORIX_DECLARE_IUNKNOWN                                                              \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override {             \
        return GetOwner()->QueryInterface(iid, object);                                         \
    }                                                                                           \
    ULONG STDMETHODCALLTYPE AddRef() override { return GetOwner()->AddRef(); }                  \
    ULONG STDMETHODCALLTYPE Release() override { return GetOwner()->Release(); }
