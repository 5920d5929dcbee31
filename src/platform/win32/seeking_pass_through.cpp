#include "seeking_pass_through.h"

namespace velkorix {

IMediaSeeking *SeekingPassThrough::Upstream() {
    IPin *upstream = nullptr;
    if (FAILED(input_->ConnectedTo(&upstream)) || !upstream) return nullptr;
    IMediaSeeking *seeking = nullptr;
    if (FAILED(upstream->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void **>(&seeking)))) seeking = nullptr;
    upstream->Release();
    return seeking;
}

HRESULT STDMETHODCALLTYPE SeekingPassThrough::GetCapabilities(DWORD *capabilities) {
    return Forward([&](IMediaSeeking *s) { return s->GetCapabilities(capabilities); });
}
HRESULT STDMETHODCALLTYPE SeekingPassThrough::CheckCapabilities(DWORD *capabilities) {
    return Forward([&](IMediaSeeking *s) { return s->CheckCapabilities(capabilities); });
}
HRESULT STDMETHODCALLTYPE SeekingPassThrough::IsFormatSupported(const GUID *format) {
    return Forward([&](IMediaSeeking *s) { return s->IsFormatSupported(format); });
}
HRESULT STDMETHODCALLTYPE SeekingPassThrough::QueryPreferredFormat(GUID *format) {
    return Forward([&](IMediaSeeking *s) { return s->QueryPreferredFormat(format); });
}
HRESULT STDMETHODCALLTYPE SeekingPassThrough::GetTimeFormat(GUID *format) {
    return Forward([&](IMediaSeeking *s) { return s->GetTimeFormat(format); });
}
HRESULT STDMETHODCALLTYPE SeekingPassThrough::IsUsingTimeFormat(const GUID *format) {
    return Forward([&](IMediaSeeking *s) { return s->IsUsingTimeFormat(format); });
}
HRESULT STDMETHODCALLTYPE SeekingPassThrough::SetTimeFormat(const GUID *format) {
    return Forward([&](IMediaSeeking *s) { return s->SetTimeFormat(format); });
}
HRESULT STDMETHODCALLTYPE SeekingPassThrough::GetDuration(LONGLONG *duration) {
    return Forward([&](IMediaSeeking *s) { return s->GetDuration(duration); });
}
HRESULT STDMETHODCALLTYPE SeekingPassThrough::GetStopPosition(LONGLONG *stop) {
    return Forward([&](IMediaSeeking *s) { return s->GetStopPosition(stop); });
}
HRESULT STDMETHODCALLTYPE SeekingPassThrough::GetCurrentPosition(LONGLONG *current) {
    return Forward([&](IMediaSeeking *s) { return s->GetCurrentPosition(current); });
}
HRESULT STDMETHODCALLTYPE SeekingPassThrough::ConvertTimeFormat(LONGLONG *target, const GUID *targetFormat,
                                                                 LONGLONG source, const GUID *sourceFormat) {
    return Forward([&](IMediaSeeking *s) { return s->ConvertTimeFormat(target, targetFormat, source, sourceFormat); });
}
HRESULT STDMETHODCALLTYPE SeekingPassThrough::SetPositions(LONGLONG *current, DWORD currentFlags, LONGLONG *stop,
                                                            DWORD stopFlags) {
    return Forward([&](IMediaSeeking *s) { return s->SetPositions(current, currentFlags, stop, stopFlags); });
}
HRESULT STDMETHODCALLTYPE SeekingPassThrough::GetPositions(LONGLONG *current, LONGLONG *stop) {
    return Forward([&](IMediaSeeking *s) { return s->GetPositions(current, stop); });
}
HRESULT STDMETHODCALLTYPE SeekingPassThrough::GetAvailable(LONGLONG *earliest, LONGLONG *latest) {
    return Forward([&](IMediaSeeking *s) { return s->GetAvailable(earliest, latest); });
}
HRESULT STDMETHODCALLTYPE SeekingPassThrough::SetRate(double rate) {
    return Forward([&](IMediaSeeking *s) { return s->SetRate(rate); });
}
HRESULT STDMETHODCALLTYPE SeekingPassThrough::GetRate(double *rate) {
    return Forward([&](IMediaSeeking *s) { return s->GetRate(rate); });
}
HRESULT STDMETHODCALLTYPE SeekingPassThrough::GetPreroll(LONGLONG *preroll) {
    return Forward([&](IMediaSeeking *s) { return s->GetPreroll(preroll); });
}

}  // namespace velkorix
