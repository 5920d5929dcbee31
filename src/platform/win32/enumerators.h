// The enumerators a filter hands out: of its pins (IEnumPins) and of a pin's
// preferred media types (IEnumMediaTypes). Both ask their source afresh at
// every step, so a pin added or a type changed shows in an enumeration under
// way, and both keep their source alive with a reference.
#pragma once

#include "pins.h"
#include "platform/com_base.h"
#include "platform.h"

namespace velkorix {

// IEnumPins over a filter's pins, by their positions (PinOwner::PinAt).
class PinEnumerator final : public UnknownBase, public IEnumPins {
public:
    // Starts at `position`; holds a reference on the filter.
    PinEnumerator(PinOwner *filter, ULONG position);
    ~PinEnumerator() override;

    VELKORIX_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void **object) override;

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin **pins, ULONG *fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins **copy) override;

private:
    PinOwner *filter_;
    ULONG position_;
};

// IEnumMediaTypes over a pin's preferred types (PinBase::GetMediaTypeAt).
// The types handed out are the caller's to delete.
class MediaTypeEnumerator final : public UnknownBase, public IEnumMediaTypes {
public:
    // Starts at `position`; holds a reference on the pin.
    MediaTypeEnumerator(PinBase *pin, int position);
    ~MediaTypeEnumerator() override;

    VELKORIX_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void **object) override;

    HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE **types, ULONG *fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes **copy) override;

private:
    PinBase *pin_;
    int position_;
};

}  // namespace velkorix
