// The filter's property-page list and the level property page on the portable
// user-interface stand-in: site and object rules, activation of the page
// dialog with its trackbar, trackbar and reset actions against a real filter,
// dirty state and apply, write-back on disconnect and on final release, page
// information from the module's resources, reference counting and aggregation.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "filter/audio_decoder_filter.h"
#include "filter/guids.h"
#include "filter/level_page_resource.h"
#include "filter/level_property_page.h"
#include "filter/level_page_resources.h"
#include "filter/module.h"
#include "stand_in_control.h"
#include "test_support.h"

namespace {

using namespace velkorix;

// A frame's site that counts its references and the status changes it hears.
class FakeSite final : public IPropertyPageSite {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown) {
            *object = this;
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override {
        --references;
        if (onRelease) onRelease();
        return references;
    }
    HRESULT STDMETHODCALLTYPE OnStatusChange(DWORD flags) override {
        statuses.push_back(flags);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetLocaleID(LCID *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPageContainer(IUnknown **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG *) override { return E_NOTIMPL; }

    ULONG references = 1;
    std::vector<DWORD> statuses;
    std::function<void()> onRelease;
};

// An object that answers only IUnknown.
class PlainObject final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown) {
            *object = this;
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    ULONG references = 1;
};

// Owns a decoding filter for the page to connect to.
struct Filter {
    Filter() {
        HRESULT hr = S_OK;
        object = static_cast<AudioDecoderFilter *>(AudioDecoderFilter::Create(nullptr, &hr));
        object->NonDelegatingAddRef();
    }
    ~Filter() { object->NonDelegatingRelease(); }
    int Level() {
        signed char value = 0;
        object->GetLevel(&value);
        return value;
    }
    IUnknown *Unknown() { return object->NonDelegatingUnknown(); }
    AudioDecoderFilter *object = nullptr;
};

// Loads the module as the platform does: DllMain records the instance and
// the platform identifier (2 selects the wide string loader).
void LoadModule(DWORD platform) {
    static char instance;
    standin::SetVersionInfo(true, platform);
    DllMain(reinterpret_cast<HINSTANCE>(&instance), DLL_PROCESS_ATTACH, nullptr);
}

HWND Trackbar(HWND dialog) { return FindWindowExA(dialog, nullptr, kTrackbarClass, nullptr); }
LONG Position(HWND bar) { return static_cast<LONG>(SendMessageA(bar, TBM_GETPOS, 0, 0)); }

std::wstring Text(const OLECHAR *s) { return s ? std::wstring(s) : std::wstring(); }

class LevelPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        LoadModule(2);
        NewPage();
        frame = CreateWindowExA(0, "STATIC", "frame", WS_VISIBLE, 10, 20, 400, 300, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(frame, nullptr);
    }
    void NewPage() {
        HRESULT hr = S_OK;
        UnknownBase *object = LevelPropertyPage::Create(nullptr, &hr);
        ASSERT_NE(object, nullptr);
        object->NonDelegatingAddRef();
        unknown = object;
        ASSERT_EQ(object->NonDelegatingQueryInterface(kIidPropertyPage, reinterpret_cast<void **>(&page)), S_OK);
    }
    void TearDown() override {
        portable::SetMessageObserver(nullptr);
        if (page) page->Release();
        if (unknown) unknown->NonDelegatingRelease();
        DestroyWindow(frame);
        EXPECT_EQ(portable::LiveWindowCount(), 0u);
    }
    // Connects the page to the filter, gives it the site and activates it.
    void Open(Filter &filter, bool withSite = true) {
        if (withSite) {
            ASSERT_EQ(page->SetPageSite(&site), S_OK);
        }
        IUnknown *objects[] = {filter.Unknown()};
        ASSERT_EQ(page->SetObjects(1, objects), S_OK);
        const RECT rect{5, 6, 305, 206};
        ASSERT_EQ(page->Activate(frame, &rect, FALSE), S_OK);
        dialog = FindWindowExA(frame, nullptr, "#32770", nullptr);
        ASSERT_NE(dialog, nullptr);
        bar = Trackbar(dialog);
    }
    void Release() {
        page->Release();
        page = nullptr;
        unknown->NonDelegatingRelease();
        unknown = nullptr;
    }

    UnknownBase *unknown = nullptr;
    IPropertyPage *page = nullptr;
    FakeSite site;
    HWND frame = nullptr;
    HWND dialog = nullptr;
    HWND bar = nullptr;
};

TEST(FilterPages, GetPagesNamesTheLevelPage) {
    Filter filter;
    ISpecifyPropertyPages *pages = nullptr;
    ASSERT_EQ(filter.object->NonDelegatingQueryInterface(kIidSpecifyPropertyPages, reinterpret_cast<void **>(&pages)),
              S_OK);
    CAUUID list{99, nullptr};
    ASSERT_EQ(pages->GetPages(&list), S_OK);
    ASSERT_EQ(list.cElems, 1u);
    ASSERT_NE(list.pElems, nullptr);
    EXPECT_EQ(list.pElems[0], kClsidLevelPropertyPage);
    CoTaskMemFree(list.pElems);
    EXPECT_EQ(pages->GetPages(nullptr), E_POINTER);

    // The two interfaces are one object: each reaches the other.
    ILevelAdjust *level = nullptr;
    ASSERT_EQ(pages->QueryInterface(kIidLevelAdjust, reinterpret_cast<void **>(&level)), S_OK);
    ISpecifyPropertyPages *again = nullptr;
    ASSERT_EQ(level->QueryInterface(kIidSpecifyPropertyPages, reinterpret_cast<void **>(&again)), S_OK);
    EXPECT_EQ(again, pages);
    again->Release();
    level->Release();
    pages->Release();
    EXPECT_EQ(filter.object->NonDelegatingQueryInterface(kIidSpecifyPropertyPages, nullptr), E_POINTER);
}

TEST(LevelPageObject, CreationRegistersCommonControlsAndAnswersItsInterfaces) {
    portable::ResetCommonControls();
    const LONG before = activeObjectCount;
    HRESULT hr = S_OK;
    UnknownBase *object = LevelPropertyPage::Create(nullptr, &hr);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_TRUE(portable::CommonControlsInitialized());
    EXPECT_EQ(activeObjectCount, before + 1);
    EXPECT_EQ(object->NonDelegatingAddRef(), 1u);

    IPropertyPage *page = nullptr;
    ASSERT_EQ(object->NonDelegatingQueryInterface(kIidPropertyPage, reinterpret_cast<void **>(&page)), S_OK);
    IUnknown *own = nullptr;
    ASSERT_EQ(page->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&own)), S_OK);
    EXPECT_EQ(own, object->NonDelegatingUnknown());
    own->Release();
    for (const IID &other : {kIidLevelAdjust, kIidSpecifyPropertyPages, IID_IPersist}) {
        void *p = reinterpret_cast<void *>(1);
        EXPECT_EQ(object->NonDelegatingQueryInterface(other, &p), E_NOINTERFACE);
        EXPECT_EQ(p, nullptr);
    }
    EXPECT_EQ(object->NonDelegatingQueryInterface(kIidPropertyPage, nullptr), E_POINTER);
    EXPECT_EQ(page->Help(nullptr), E_NOTIMPL);
    EXPECT_EQ(page->TranslateAccelerator(nullptr), E_NOTIMPL);

    // Counts as the page sees them: the destroying release answers 0.
    EXPECT_EQ(page->AddRef(), 3u);
    EXPECT_EQ(page->Release(), 2u);
    EXPECT_EQ(page->Release(), 1u);
    EXPECT_EQ(object->NonDelegatingRelease(), 0u);
    EXPECT_EQ(activeObjectCount, before);
}

TEST(LevelPageObject, AllocationFailure) {
    HRESULT hr = S_OK;
    velkorix::test::failingNothrowAllocations = 1;
    EXPECT_EQ(LevelPropertyPage::Create(nullptr, &hr), nullptr);
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    velkorix::test::failingNothrowAllocations = 1;
    EXPECT_EQ(LevelPropertyPage::Create(nullptr, nullptr), nullptr);
    velkorix::test::failingNothrowAllocations = 1;
    hr = S_OK;
    EXPECT_EQ(AudioDecoderFilter::Create(nullptr, &hr), nullptr);
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    velkorix::test::failingNothrowAllocations = 0;
}

TEST(LevelPageObject, Aggregation) {
    struct Outer : IUnknown {
        int queries = 0, addRefs = 0, releases = 0;
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **object) override {
            ++queries;
            *object = nullptr;
            return E_NOINTERFACE;
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return ++addRefs, 2; }
        ULONG STDMETHODCALLTYPE Release() override { return ++releases, 1; }
    } outer;
    HRESULT hr = S_OK;
    UnknownBase *object = LevelPropertyPage::Create(&outer, &hr);
    ASSERT_NE(object, nullptr);
    object->NonDelegatingAddRef();
    IPropertyPage *page = nullptr;
    ASSERT_EQ(object->NonDelegatingQueryInterface(kIidPropertyPage, reinterpret_cast<void **>(&page)), S_OK);
    EXPECT_EQ(outer.addRefs, 1);  // the reference handed out is the outer object's
    void *anything = nullptr;
    page->QueryInterface(kIidLevelAdjust, &anything);
    page->AddRef();
    page->Release();
    page->Release();
    EXPECT_EQ(outer.queries, 1);
    EXPECT_EQ(outer.addRefs, 2);
    EXPECT_EQ(outer.releases, 2);
    IUnknown *inner = nullptr;
    ASSERT_EQ(object->NonDelegatingQueryInterface(IID_IUnknown, reinterpret_cast<void **>(&inner)), S_OK);
    EXPECT_EQ(inner, object->NonDelegatingUnknown());
    EXPECT_NE(inner, static_cast<IUnknown *>(&outer));
    inner->Release();
    EXPECT_EQ(object->NonDelegatingRelease(), 0u);
}

TEST_F(LevelPageTest, PageSiteRules) {
    EXPECT_EQ(page->SetPageSite(nullptr), E_UNEXPECTED);  // none held
    EXPECT_EQ(page->SetPageSite(&site), S_OK);
    EXPECT_EQ(site.references, 2u);
    FakeSite other;
    EXPECT_EQ(page->SetPageSite(&other), E_UNEXPECTED);
    EXPECT_EQ(other.references, 1u);
    EXPECT_EQ(page->SetPageSite(nullptr), S_OK);
    EXPECT_EQ(site.references, 1u);
    EXPECT_EQ(page->SetPageSite(nullptr), E_UNEXPECTED);
    EXPECT_EQ(page->SetPageSite(&other), S_OK);
    EXPECT_EQ(page->SetPageSite(nullptr), S_OK);
}

TEST_F(LevelPageTest, SetObjectsRules) {
    Filter filter;
    IUnknown *none[] = {nullptr};
    EXPECT_EQ(page->SetObjects(1, nullptr), E_POINTER);
    EXPECT_EQ(page->SetObjects(1, none), E_POINTER);
    IUnknown *two[] = {filter.Unknown(), filter.Unknown()};
    EXPECT_EQ(page->SetObjects(2, two), E_UNEXPECTED);
    EXPECT_EQ(page->SetObjects(0, nullptr), E_UNEXPECTED);  // nothing connected

    // An object without the level interface is refused, and the page stays
    // unconnected: it cannot be activated.
    PlainObject plain;
    IUnknown *objects[] = {&plain};
    EXPECT_EQ(page->SetObjects(1, objects), E_NOINTERFACE);
    EXPECT_EQ(plain.references, 1u);
    const RECT rect{0, 0, 100, 100};
    EXPECT_EQ(page->Activate(frame, &rect, FALSE), E_UNEXPECTED);

    IUnknown *filters[] = {filter.Unknown()};
    ASSERT_EQ(page->SetObjects(1, filters), S_OK);
    EXPECT_EQ(page->IsPageDirty(), S_FALSE);
    EXPECT_EQ(page->SetObjects(0, nullptr), S_OK);
    EXPECT_EQ(page->SetObjects(0, nullptr), E_UNEXPECTED);
}

TEST_F(LevelPageTest, ReconnectingGivesThePreviousFilterItsLevelBack) {
    Filter first, second;
    first.object->SetLevel(10, 0);
    second.object->SetLevel(-20, 0);
    IUnknown *a[] = {first.Unknown()};
    ASSERT_EQ(page->SetObjects(1, a), S_OK);
    first.object->SetLevel(33, 0);
    IUnknown *b[] = {second.Unknown()};
    ASSERT_EQ(page->SetObjects(1, b), S_OK);
    EXPECT_EQ(first.Level(), 10);
    second.object->SetLevel(44, 0);
    EXPECT_EQ(page->SetObjects(0, nullptr), S_OK);
    EXPECT_EQ(second.Level(), -20);
}

TEST_F(LevelPageTest, ActivationBuildsTheDialogAndTrackbar) {
    Filter filter;
    filter.object->SetLevel(-40, 0);
    const RECT rect{5, 6, 305, 206};
    EXPECT_EQ(page->Activate(frame, nullptr, FALSE), E_POINTER);
    EXPECT_EQ(page->Activate(frame, &rect, FALSE), E_UNEXPECTED);  // no object yet
    Open(filter);

    // The dialog: a child of the frame, at the rectangle, visible, holding
    // the page in its user slot.
    EXPECT_TRUE(IsWindowVisible(dialog));
    RECT r{};
    GetWindowRect(dialog, &r);
    EXPECT_EQ(r.left, 15);
    EXPECT_EQ(r.top, 26);
    EXPECT_EQ(r.right, 315);
    EXPECT_EQ(r.bottom, 226);
    auto *self = static_cast<PropertyPageBase *>(static_cast<LevelPropertyPage *>(unknown));
    EXPECT_EQ(GetWindowLongPtrA(dialog, DWLP_USER), reinterpret_cast<LONG_PTR>(self));
    EXPECT_EQ(portable::Inspect(dialog).lastShowCommand, SW_SHOWNORMAL);
    EXPECT_TRUE(portable::Inspect(dialog).lastMoveRepainted);

    // The trackbar: style, place, range, the tick at 0, the filter's level.
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(bar, GWL_STYLE)), 0x5003000Au);
    EXPECT_EQ(GetDlgCtrlID(bar), 0);
    GetWindowRect(bar, &r);
    EXPECT_EQ(r.left, 15 + 62);
    EXPECT_EQ(r.top, 26 + 35);
    EXPECT_EQ(r.right - r.left, 39);
    EXPECT_EQ(r.bottom - r.top, 100);
    EXPECT_EQ(SendMessageA(bar, TBM_GETRANGEMIN, 0, 0), -127);
    EXPECT_EQ(SendMessageA(bar, TBM_GETRANGEMAX, 0, 0), 127);
    EXPECT_EQ(SendMessageA(bar, TBM_GETNUMTICS, 0, 0), 3);
    EXPECT_EQ(SendMessageA(bar, TBM_GETTIC, 0, 0), 0);
    EXPECT_EQ(Position(bar), -40);

    // The Reset button of the module's template.
    const HWND reset = GetDlgItem(dialog, IDC_LEVEL_RESET);
    ASSERT_NE(reset, nullptr);
    char text[16] = {};
    GetWindowTextA(reset, text, sizeof text);
    EXPECT_STREQ(text, "Reset");

    EXPECT_EQ(page->Activate(frame, &rect, FALSE), E_UNEXPECTED);  // already active
    EXPECT_EQ(page->Deactivate(), S_OK);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_FALSE(IsWindow(bar));
    EXPECT_EQ(page->Deactivate(), E_UNEXPECTED);
    EXPECT_EQ(page->SetObjects(0, nullptr), S_OK);
}

TEST_F(LevelPageTest, ShowAndMove) {
    Filter filter;
    const RECT moved{1, 2, 51, 82};
    EXPECT_EQ(page->Show(SW_SHOW), E_UNEXPECTED);
    EXPECT_EQ(page->Move(&moved), E_UNEXPECTED);
    EXPECT_EQ(page->Move(nullptr), E_POINTER);
    Open(filter);
    const int invalidations = portable::Inspect(dialog).invalidations;
    EXPECT_EQ(page->Show(SW_HIDE), S_OK);
    EXPECT_FALSE(IsWindowVisible(dialog));
    EXPECT_EQ(portable::Inspect(dialog).invalidations, invalidations + 1);
    EXPECT_TRUE(portable::Inspect(dialog).lastInvalidationErased);
    EXPECT_EQ(page->Show(SW_SHOW), S_OK);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(page->Show(SW_SHOWNORMAL), S_OK);
    for (UINT command : {SW_MINIMIZE, SW_SHOWMINIMIZED, SW_MAXIMIZE, SW_SHOWNOACTIVATE, 11}) {
        EXPECT_EQ(page->Show(command), E_INVALIDARG) << command;
        EXPECT_EQ(portable::Inspect(dialog).lastShowCommand, SW_SHOWNORMAL);
    }
    EXPECT_EQ(page->Move(&moved), S_OK);
    RECT r{};
    GetWindowRect(dialog, &r);
    EXPECT_EQ(r.left, 11);
    EXPECT_EQ(r.top, 22);
    EXPECT_EQ(r.right, 61);
    EXPECT_EQ(r.bottom, 102);
    EXPECT_EQ(page->Move(nullptr), E_POINTER);
    page->Deactivate();
    page->SetObjects(0, nullptr);
}

// With a filter at level 10, a trackbar move to 50 reaches the filter at
// once; a disconnect without Apply puts 10 back, one after Apply keeps 50.
TEST_F(LevelPageTest, UnappliedChangeIsUndoneAppliedChangeStays) {
    for (const bool apply : {false, true}) {
        if (apply) {
            Release();
            NewPage();
        }
        Filter filter;
        filter.object->SetLevel(10, 0);
        Open(filter);
        EXPECT_EQ(page->IsPageDirty(), S_FALSE);
        ASSERT_NE(bar, nullptr);
        portable::DragTrackbarThumb(bar, 50);
        EXPECT_EQ(filter.Level(), 50);
        EXPECT_EQ(page->IsPageDirty(), S_OK);
        if (apply) {
            EXPECT_EQ(page->Apply(), S_OK);
            EXPECT_EQ(page->IsPageDirty(), S_FALSE);
        }
        EXPECT_EQ(page->Deactivate(), S_OK);
        EXPECT_EQ(page->SetObjects(0, nullptr), S_OK);
        EXPECT_EQ(filter.Level(), apply ? 50 : 10) << "apply " << apply;
        EXPECT_EQ(page->SetPageSite(nullptr), S_OK);
    }
}

TEST_F(LevelPageTest, TrackbarNotifications) {
    Filter filter;
    filter.object->SetLevel(5, 0);
    Open(filter);
    ASSERT_NE(bar, nullptr);

    // Codes that only track do nothing.
    for (int code : {TB_LINEUP, TB_LINEDOWN, TB_PAGEUP, TB_PAGEDOWN, TB_THUMBTRACK}) {
        SendMessageA(bar, TBM_SETPOS, TRUE, 77);
        EXPECT_EQ(PropertyPageBase::DialogProcedure(dialog, WM_VSCROLL, MAKEWPARAM(code, 0),
                                                    reinterpret_cast<LPARAM>(bar)),
                  TRUE);
        EXPECT_EQ(filter.Level(), 5) << code;
        EXPECT_EQ(page->IsPageDirty(), S_FALSE) << code;
    }
    EXPECT_TRUE(site.statuses.empty());

    // TB_THUMBPOSITION writes the trackbar's position, whatever the message says.
    SendMessageA(dialog, WM_VSCROLL, MAKEWPARAM(TB_THUMBPOSITION, 3), reinterpret_cast<LPARAM>(bar));
    EXPECT_EQ(filter.Level(), 77);
    EXPECT_EQ(page->IsPageDirty(), S_OK);
    ASSERT_EQ(site.statuses.size(), 1u);
    EXPECT_EQ(site.statuses[0], static_cast<DWORD>(PROPPAGESTATUS_DIRTY));

    // TB_TOP puts the trackbar at 127 and the level follows at TB_ENDTRACK.
    SendMessageA(dialog, WM_VSCROLL, MAKEWPARAM(TB_TOP, 0), reinterpret_cast<LPARAM>(bar));
    EXPECT_EQ(Position(bar), 127);
    EXPECT_EQ(filter.Level(), 77);
    SendMessageA(dialog, WM_VSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(bar));
    EXPECT_EQ(filter.Level(), 127);

    // TB_BOTTOM likewise to -127; through the control's own notification pair.
    portable::ScrollTrackbar(bar, TB_BOTTOM);
    EXPECT_EQ(Position(bar), -127);
    EXPECT_EQ(filter.Level(), -127);
    EXPECT_EQ(site.statuses.size(), 5u);

    // Keyboard steps end with TB_ENDTRACK, which writes the level.
    portable::ScrollTrackbar(bar, TB_LINEDOWN);
    EXPECT_EQ(filter.Level(), -126);

    // Apply commits the filter's level, and the next disconnect keeps it.
    EXPECT_EQ(page->Apply(), S_OK);
    EXPECT_EQ(page->IsPageDirty(), S_FALSE);
    filter.object->SetLevel(1, 0);
    page->Deactivate();
    page->SetObjects(0, nullptr);
    EXPECT_EQ(filter.Level(), -126);
}

TEST_F(LevelPageTest, ResetCommand) {
    Filter filter;
    filter.object->SetLevel(30, 0);
    Open(filter);
    portable::DragTrackbarThumb(bar, 90);
    EXPECT_EQ(filter.Level(), 90);
    ASSERT_EQ(page->Apply(), S_OK);
    site.statuses.clear();

    // Any other command is answered and ignored.
    EXPECT_EQ(PropertyPageBase::DialogProcedure(dialog, WM_COMMAND, MAKEWPARAM(1002, BN_CLICKED), 0), TRUE);
    EXPECT_EQ(filter.Level(), 90);
    EXPECT_EQ(page->IsPageDirty(), S_FALSE);

    portable::ClickButton(GetDlgItem(dialog, IDC_LEVEL_RESET));
    EXPECT_EQ(filter.Level(), 0);
    EXPECT_EQ(Position(bar), 0);
    EXPECT_EQ(page->IsPageDirty(), S_OK);
    EXPECT_EQ(site.statuses, std::vector<DWORD>{PROPPAGESTATUS_DIRTY});
    page->Deactivate();
    page->SetObjects(0, nullptr);
    EXPECT_EQ(filter.Level(), 90);  // the reset was not applied
}

TEST_F(LevelPageTest, DirtyMarkingWithoutASiteAndApplyRules) {
    Filter filter;
    filter.object->SetLevel(12, 0);
    EXPECT_EQ(page->Apply(), E_UNEXPECTED);  // no object
    Open(filter, /*withSite=*/false);
    portable::DragTrackbarThumb(bar, -3);
    EXPECT_EQ(page->IsPageDirty(), S_OK);
    EXPECT_EQ(page->Apply(), E_UNEXPECTED);  // no site
    EXPECT_EQ(page->IsPageDirty(), S_OK);
    ASSERT_EQ(page->SetPageSite(&site), S_OK);
    EXPECT_EQ(page->Apply(), S_OK);
    EXPECT_EQ(page->Apply(), S_OK);  // clean: nothing to do
    page->Deactivate();
    page->SetObjects(0, nullptr);
    EXPECT_EQ(filter.Level(), -3);
}

TEST_F(LevelPageTest, DeactivateKeepsTheFiltersLevelForTheNextActivation) {
    Filter filter;
    filter.object->SetLevel(10, 0);
    Open(filter);
    std::vector<LONG> stylesAtDestroy;
    portable::SetMessageObserver([&](HWND window, UINT message, WPARAM, LPARAM) {
        if (window == dialog && message == WM_DESTROY) {
            stylesAtDestroy.push_back(GetWindowLongA(window, GWL_EXSTYLE));
            EXPECT_TRUE(IsWindow(bar));  // the page destroys its trackbar at WM_DESTROY
        }
    });
    portable::DragTrackbarThumb(bar, 50);
    ASSERT_EQ(page->Deactivate(), S_OK);
    portable::SetMessageObserver(nullptr);
    ASSERT_EQ(stylesAtDestroy.size(), 1u);
    EXPECT_EQ(static_cast<DWORD>(stylesAtDestroy[0]) & WS_EX_CONTROLPARENT, 0u);
    EXPECT_FALSE(IsWindow(bar));

    filter.object->SetLevel(-60, 0);  // changed elsewhere while the page is hidden
    const RECT rect{0, 0, 300, 200};
    ASSERT_EQ(page->Activate(frame, &rect, FALSE), S_OK);
    dialog = FindWindowExA(frame, nullptr, "#32770", nullptr);
    EXPECT_EQ(Position(Trackbar(dialog)), 50);  // the level read at deactivation
    page->Deactivate();
    page->SetObjects(0, nullptr);
    EXPECT_EQ(filter.Level(), 10);
}

TEST_F(LevelPageTest, ActivePageKeepsItsDialogInTheTabOrder) {
    Filter filter;
    Open(filter);
    EXPECT_NE(static_cast<DWORD>(GetWindowLongA(dialog, GWL_EXSTYLE)) & WS_EX_CONTROLPARENT, 0u);
    SetWindowLongA(dialog, GWL_EXSTYLE, 0);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(dialog, GWL_EXSTYLE)), WS_EX_CONTROLPARENT);
    // The window style is not the extended style: WS_TABSTOP shares the bit.
    SetWindowLongA(dialog, GWL_STYLE, static_cast<LONG>(WS_CHILD | WS_VISIBLE));
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE)), WS_CHILD | WS_VISIBLE);
    page->Deactivate();
    page->SetObjects(0, nullptr);
}

TEST_F(LevelPageTest, MissingTemplateFailsActivation) {
    Filter filter;
    portable::DialogTemplate saved;
    ASSERT_TRUE(portable::RemoveDialogTemplate(ModuleInstance(), IDD_LEVEL_PAGE, &saved));
    IUnknown *objects[] = {filter.Unknown()};
    ASSERT_EQ(page->SetObjects(1, objects), S_OK);
    const RECT rect{0, 0, 300, 200};
    EXPECT_EQ(page->Activate(frame, &rect, FALSE), E_OUTOFMEMORY);
    EXPECT_EQ(page->Show(SW_SHOW), E_UNEXPECTED);
    EXPECT_EQ(page->Deactivate(), E_UNEXPECTED);
    portable::RegisterDialogTemplate(ModuleInstance(), IDD_LEVEL_PAGE, saved);
    EXPECT_EQ(page->Activate(frame, &rect, FALSE), S_OK);
    page->Deactivate();
    page->SetObjects(0, nullptr);
}

TEST_F(LevelPageTest, WithoutATrackbarTheResetCommandStillWorks) {
    Filter filter;
    filter.object->SetLevel(30, 0);
    portable::FailWindowCreation(kTrackbarClass, 1);
    Open(filter);
    EXPECT_EQ(bar, nullptr);
    portable::ClickButton(GetDlgItem(dialog, IDC_LEVEL_RESET));
    EXPECT_EQ(filter.Level(), 0);
    EXPECT_EQ(page->IsPageDirty(), S_OK);
    EXPECT_EQ(page->Deactivate(), S_OK);
    page->SetObjects(0, nullptr);
    EXPECT_EQ(filter.Level(), 30);
}

TEST_F(LevelPageTest, PageInfo) {
    EXPECT_EQ(page->GetPageInfo(nullptr), E_POINTER);
    const std::size_t windows = portable::LiveWindowCount();
    for (DWORD platform : {2u, 1u}) {  // the wide loader and the ANSI one
        LoadModule(platform);
        PROPPAGEINFO info{};
        ASSERT_EQ(page->GetPageInfo(&info), S_OK);
        EXPECT_EQ(info.cb, sizeof(PROPPAGEINFO));
        EXPECT_EQ(Text(info.pszTitle), L"Level");
        // The template's size in pixels at the default dialog font.
        EXPECT_EQ(info.size.cx, LEVEL_PAGE_WIDTH * portable::kDialogBaseUnitX / 4);
        EXPECT_EQ(info.size.cy, LEVEL_PAGE_HEIGHT * portable::kDialogBaseUnitY / 8);
        EXPECT_EQ(info.pszDocString, nullptr);
        EXPECT_EQ(info.pszHelpFile, nullptr);
        EXPECT_EQ(info.dwHelpContext, 0u);
        CoTaskMemFree(info.pszTitle);
        EXPECT_EQ(portable::LiveWindowCount(), windows);  // the measured dialog is gone
    }
    LoadModule(2);
}

TEST_F(LevelPageTest, PageInfoWithoutResourcesAndWithALongTitle) {
    portable::DialogTemplate savedDialog;
    std::wstring savedTitle;
    ASSERT_TRUE(portable::RemoveDialogTemplate(ModuleInstance(), IDD_LEVEL_PAGE, &savedDialog));
    ASSERT_TRUE(portable::RemoveString(ModuleInstance(), IDS_LEVEL_PAGE_TITLE, &savedTitle));
    PROPPAGEINFO info{};
    ASSERT_EQ(page->GetPageInfo(&info), S_OK);
    ASSERT_NE(info.pszTitle, nullptr);
    EXPECT_EQ(Text(info.pszTitle), L"");
    EXPECT_EQ(info.size.cx, 340);
    EXPECT_EQ(info.size.cy, 150);
    CoTaskMemFree(info.pszTitle);

    portable::RegisterString(ModuleInstance(), IDS_LEVEL_PAGE_TITLE, std::wstring(300, L'x'));
    for (DWORD platform : {2u, 1u}) {
        LoadModule(platform);
        ASSERT_EQ(page->GetPageInfo(&info), S_OK);
        EXPECT_EQ(Text(info.pszTitle), std::wstring(255, L'x'));
        CoTaskMemFree(info.pszTitle);
    }
    LoadModule(2);
    portable::RegisterDialogTemplate(ModuleInstance(), IDD_LEVEL_PAGE, savedDialog);
    portable::RegisterString(ModuleInstance(), IDS_LEVEL_PAGE_TITLE, savedTitle);
}

TEST_F(LevelPageTest, DialogProcedureWithoutAPage) {
    // A dialog made only to be measured has no page: every message is
    // answered TRUE and nothing is built in it.
    const HWND probe = CreateDialogParamA(ModuleInstance(), MAKEINTRESOURCEA(IDD_LEVEL_PAGE), GetDesktopWindow(),
                                          PropertyPageBase::DialogProcedure, 0);
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(Trackbar(probe), nullptr);
    EXPECT_EQ(GetWindowLongPtrA(probe, DWLP_USER), 0);
    for (UINT message : {static_cast<UINT>(WM_COMMAND), static_cast<UINT>(WM_VSCROLL), static_cast<UINT>(WM_USER)})
        EXPECT_EQ(PropertyPageBase::DialogProcedure(probe, message, IDC_LEVEL_RESET, 0), TRUE);
    DestroyWindow(probe);
}

TEST_F(LevelPageTest, FinalReleaseWritesTheSavedLevelBack) {
    Filter filter;
    filter.object->SetLevel(10, 0);
    Open(filter);
    portable::DragTrackbarThumb(bar, 50);
    EXPECT_EQ(filter.Level(), 50);
    // The frame lets go of the page while it is still active and connected;
    // the site's release re-enters the page, which is still alive.
    std::vector<ULONG> counts;
    IPropertyPage *self = page;
    site.onRelease = [&] {
        counts.push_back(self->AddRef());
        counts.push_back(self->Release());
    };
    Release();
    site.onRelease = nullptr;
    EXPECT_EQ(filter.Level(), 10);
    EXPECT_EQ(site.references, 1u);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_FALSE(IsWindow(bar));
    ASSERT_EQ(counts.size(), 2u);
    EXPECT_GE(counts[0], 1u);
    EXPECT_GE(counts[1], 1u);  // never below 1 while the page lives
}

TEST_F(LevelPageTest, FinalReleaseAfterApplyKeepsTheLevel) {
    Filter filter;
    filter.object->SetLevel(10, 0);
    Open(filter);
    portable::DragTrackbarThumb(bar, -50);
    ASSERT_EQ(page->Apply(), S_OK);
    page->Deactivate();
    Release();
    EXPECT_EQ(filter.Level(), -50);
}

// The template leaves the trackbar's pixel box (62, 35, 39 x 100) free and
// holds it whole, at the default font and at other plausible base units.
TEST(LevelPageTemplate, TrackbarPlaceIsFreeAtEveryPlausibleFont) {
    LoadModule(2);
    EnsureLevelPageResources();
    portable::DialogTemplate t;
    ASSERT_TRUE(portable::FindDialogTemplate(ModuleInstance(), IDD_LEVEL_PAGE, &t));
    EXPECT_NE(t.style & DS_CONTROL, 0u);
    EXPECT_NE(t.style & WS_CHILD, 0u);
    EXPECT_EQ(t.style & WS_VISIBLE, 0u);  // shown by the page
    bool hasReset = false;
    for (const auto &item : t.items) hasReset |= item.id == IDC_LEVEL_RESET && item.text == "Reset";
    EXPECT_TRUE(hasReset);
    const RECT box{kTrackbarX, kTrackbarY, kTrackbarX + kTrackbarWidth, kTrackbarY + kTrackbarHeight};
    for (int bx = 5; bx <= 8; ++bx) {
        for (int by = 11; by <= 16; ++by) {
            EXPECT_GE(t.cx * bx / 4, box.right) << bx << "x" << by;
            EXPECT_GE(t.cy * by / 8, box.bottom) << bx << "x" << by;
            for (const auto &item : t.items) {
                const RECT r{item.x * bx / 4, item.y * by / 8, (item.x + item.cx) * bx / 4,
                             (item.y + item.cy) * by / 8};
                const bool overlaps = r.left < box.right && box.left < r.right && r.top < box.bottom &&
                                      box.top < r.bottom;
                EXPECT_FALSE(overlaps) << item.text << " at " << bx << "x" << by;
                EXPECT_LE(r.right, t.cx * bx / 4) << item.text;
                EXPECT_LE(r.bottom, t.cy * by / 8) << item.text;
            }
        }
    }
    std::wstring title(64, L'\0');
    const int n = LoadStringW(ModuleInstance(), IDS_LEVEL_PAGE_TITLE, title.data(), 64);
    EXPECT_EQ(title.substr(0, static_cast<std::size_t>(n)), L"Level");
}

}  // namespace
