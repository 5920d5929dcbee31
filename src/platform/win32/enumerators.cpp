#include "enumerators.h"

#include <new>

#include "platform/media_type.h"

namespace velkorix {

// ---- PinEnumerator ----

PinEnumerator::PinEnumerator(PinOwner *filter, ULONG position)
    : UnknownBase(nullptr), filter_(filter), position_(position) {
    filter_->AsBaseFilter()->AddRef();
}

PinEnumerator::~PinEnumerator() { filter_->AsBaseFilter()->Release(); }

HRESULT STDMETHODCALLTYPE PinEnumerator::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (!object) return E_POINTER;
    if (iid == IID_IEnumPins) return GetInterface(static_cast<IEnumPins *>(this), object);
    return UnknownBase::NonDelegatingQueryInterface(iid, object);
}

HRESULT STDMETHODCALLTYPE PinEnumerator::Next(ULONG count, IPin **pins, ULONG *fetched) {
    if (!pins) return E_POINTER;
    if (count > 1 && !fetched) return E_INVALIDARG;
    ULONG n = 0;
    while (n < count) {
        PinBase *pin = filter_->PinAt(static_cast<int>(position_));
        if (!pin) break;
        pins[n] = pin;
        pin->AddRef();
        ++n;
        ++position_;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE PinEnumerator::Skip(ULONG count) {
    while (count > 0 && filter_->PinAt(static_cast<int>(position_))) {
        ++position_;
        --count;
    }
    return count == 0 ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE PinEnumerator::Reset() {
    position_ = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PinEnumerator::Clone(IEnumPins **copy) {
    if (!copy) return E_POINTER;
    auto *clone = new (std::nothrow) PinEnumerator(filter_, position_);
    *copy = clone;
    if (!clone) return E_OUTOFMEMORY;
    clone->AddRef();
    return S_OK;
}

// ---- MediaTypeEnumerator ----

MediaTypeEnumerator::MediaTypeEnumerator(PinBase *pin, int position)
    : UnknownBase(nullptr), pin_(pin), position_(position) {
    pin_->AddRef();
}

MediaTypeEnumerator::~MediaTypeEnumerator() { pin_->Release(); }

HRESULT STDMETHODCALLTYPE MediaTypeEnumerator::NonDelegatingQueryInterface(REFIID iid, void **object) {
    if (!object) return E_POINTER;
    if (iid == IID_IEnumMediaTypes) return GetInterface(static_cast<IEnumMediaTypes *>(this), object);
    return UnknownBase::NonDelegatingQueryInterface(iid, object);
}

HRESULT STDMETHODCALLTYPE MediaTypeEnumerator::Next(ULONG count, AM_MEDIA_TYPE **types, ULONG *fetched) {
    if (!types) return E_POINTER;
    if (count > 1 && !fetched) return E_INVALIDARG;
    ULONG n = 0;
    while (n < count) {
        auto *type = static_cast<AM_MEDIA_TYPE *>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        if (!type) break;
        std::memset(type, 0, sizeof(*type));
        if (pin_->GetMediaTypeAt(position_, type) != S_OK) {
            DeleteMediaType(type);
            break;
        }
        types[n++] = type;
        ++position_;
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE MediaTypeEnumerator::Skip(ULONG count) {
    while (count > 0) {
        AM_MEDIA_TYPE probe{};
        const HRESULT hr = pin_->GetMediaTypeAt(position_, &probe);
        FreeMediaType(probe);
        if (hr != S_OK) return S_FALSE;
        ++position_;
        --count;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MediaTypeEnumerator::Reset() {
    position_ = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE MediaTypeEnumerator::Clone(IEnumMediaTypes **copy) {
    if (!copy) return E_POINTER;
    auto *clone = new (std::nothrow) MediaTypeEnumerator(pin_, position_);
    *copy = clone;
    if (!clone) return E_OUTOFMEMORY;
    clone->AddRef();
    return S_OK;
}

}  // namespace velkorix
