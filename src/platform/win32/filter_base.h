// The filter half that every filter over real DirectShow shares, whatever
// its pins: the filter object (IBaseFilter, IMediaFilter, IPersist), its
// state (stopped, paused, running) with the reference clock and the stream's
// start time, its membership of a graph with the graph's event sink, and its
// pins as PinOwner sees them (EnumPins, FindPin by name). The transform
// filter base and the stream source filter derive from it; a derived filter
// names its pins (PinAt) and says what a state change does to them.
#pragma once

#include "pins.h"
#include "platform/com_base.h"
#include "platform.h"

namespace velkorix {

class FilterBase : public UnknownBase, public IBaseFilter, public PinOwner {
public:
    FilterBase(IUnknown *outer, REFCLSID clsid);
    ~FilterBase() override;

    VELKORIX_DECLARE_IUNKNOWN
    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void **object) override;

    const CLSID &ClassId() const { return clsid_; }

    // IPersist
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *clsid) override;
    // IMediaFilter: Pause and Run from the stopped state activate the pins
    // (OnActivate) first; Stop deactivates them (OnStop).
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD timeout, FILTER_STATE *state) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock *clock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock **clock) override;
    // IBaseFilter
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins **pins) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin **pin) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO *info) override;
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph *graph, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR *info) override;

    // PinOwner
    IBaseFilter *AsBaseFilter() override { return this; }
    CRITICAL_SECTION &FilterLock() override { return filterLock_; }
    bool IsStopped() override { return state_ == State_Stopped; }

protected:
    // The filter leaves the stopped state (Pause or Run): make the pins ready
    // to stream. Called under the filter lock; a failure leaves the filter
    // stopped and is the answer of Pause or Run.
    virtual HRESULT OnActivate() { return S_OK; }
    // The filter stops: end streaming and release what waits for buffers.
    // Called under the filter lock while the filter is not stopped; the
    // filter is stopped once it returns (a derived filter that must order
    // the change against its streaming thread calls MarkStopped itself).
    virtual void OnStop() {}

    FILTER_STATE State() const { return state_; }
    void MarkStopped() { state_ = State_Stopped; }

    // Sends an event to the graph's event sink, when the filter is in a
    // graph: E_NOTIMPL otherwise.
    HRESULT NotifyEvent(LONG code, LONG_PTR first, LONG_PTR second);

private:
    CLSID clsid_;
    CRITICAL_SECTION filterLock_;  // state, connections, graph membership
    volatile FILTER_STATE state_ = State_Stopped;
    REFERENCE_TIME startTime_ = 0;
    IReferenceClock *clock_ = nullptr;
    IFilterGraph *graph_ = nullptr;         // not referenced: the graph holds the filter
    IMediaEventSink *eventSink_ = nullptr;  // not referenced, for the same reason
    WCHAR name_[MAX_FILTER_NAME] = {};
};

}  // namespace velkorix
