// IMediaSeeking for a pin that cannot seek by itself: every call goes to the
// pin upstream of one of the filter's input pins (a transform filter's output
// pin seeks through its input). Without an upstream pin that seeks, every call
// answers E_NOTIMPL.
#pragma once

#include "platform.h"

namespace velkorix {

class SeekingPassThrough final : public IMediaSeeking {
public:
    // Lives inside the object that hands it out, whose IUnknown `owner` is
    // also this interface's. `input` is the input pin whose upstream peer
    // answers; it must outlive this object.
    SeekingPassThrough(IUnknown *owner, IPin *input) : owner_(owner), input_(input) {}
    SeekingPassThrough(const SeekingPassThrough &) = delete;
    SeekingPassThrough &operator=(const SeekingPassThrough &) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override {
        return owner_->QueryInterface(iid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }

    HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD *capabilities) override;
    HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD *capabilities) override;
    HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID *format) override;
    HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID *format) override;
    HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID *format) override;
    HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID *format) override;
    HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID *format) override;
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG *duration) override;
    HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG *stop) override;
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG *current) override;
    HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG *target, const GUID *targetFormat, LONGLONG source,
                                                const GUID *sourceFormat) override;
    HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG *current, DWORD currentFlags, LONGLONG *stop,
                                           DWORD stopFlags) override;
    HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG *current, LONGLONG *stop) override;
    HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG *earliest, LONGLONG *latest) override;
    HRESULT STDMETHODCALLTYPE SetRate(double rate) override;
    HRESULT STDMETHODCALLTYPE GetRate(double *rate) override;
    HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG *preroll) override;

private:
    // The upstream pin's seeking interface, referenced; null when the input
    // is unconnected or its peer does not seek.
    IMediaSeeking *Upstream();
    // Runs `call` on the upstream seeking interface.
    template <typename Call>
    HRESULT Forward(Call call) {
        IMediaSeeking *upstream = Upstream();
        if (!upstream) return E_NOTIMPL;
        const HRESULT hr = call(upstream);
        upstream->Release();
        return hr;
    }

    IUnknown *owner_;
    IPin *input_;
};

}  // namespace velkorix
