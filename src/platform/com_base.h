// Reference-counted, aggregatable object base, over real COM on Windows and
// over the stand-in elsewhere ("platform.h" is the platform's own header).
#pragma once

#include "platform.h"

// The object's own IUnknown, distinct from the delegating one that an outer
// object sees.
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
    // The object's own IUnknown, which an aggregating outer object holds.
    IUnknown *NonDelegatingUnknown() { return &inner_; }

protected:
    // Hands out `iface` with one reference added through it.
    static HRESULT GetInterface(IUnknown *iface, void **object);

private:
    // A real IUnknown whose methods are the non-delegating ones: the object's
    // own unknown, handed to an aggregating outer object.
    class Inner final : public IUnknown {
    public:
        explicit Inner(UnknownBase *self) : self_(self) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override {
            return self_->NonDelegatingQueryInterface(iid, object);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return self_->NonDelegatingAddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return self_->NonDelegatingRelease(); }

    private:
        UnknownBase *self_;
    };

    Inner inner_{this};
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
