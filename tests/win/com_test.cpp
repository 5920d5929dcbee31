// The module's COM entry points through the real COM run-time (after
// registration) and called directly through GetProcAddress.
//   com MODULE_PATH
#include <cstring>
#include <string>

#include "filter/guids.h"
#include "harness.h"

namespace {

using velkorix::kClsidLevelPropertyPage;
using velkorix::kClsidVelkorixDecoder;
using velkorix::kIidLevelAdjust;

constexpr CLSID kUnknownClass = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};

using GetClassObjectFunction = HRESULT(STDAPICALLTYPE *)(REFCLSID, REFIID, LPVOID *);
using CanUnloadNowFunction = HRESULT(STDAPICALLTYPE *)();

std::wstring PinName(IPin *pin) {
    PIN_INFO info{};
    if (FAILED(pin->QueryPinInfo(&info))) return L"<no info>";
    if (info.pFilter) info.pFilter->Release();
    return info.achName;
}

// An outer object for aggregation: hands what it does not know to the inner one.
struct Outer : public IUnknown {
    LONG references = 1;
    IUnknown *inner = nullptr;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override {
        if (IsEqualIID(iid, IID_IUnknown)) {
            *object = this;
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(iid, object) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references); }
    ULONG STDMETHODCALLTYPE Release() override { return InterlockedDecrement(&references); }
    virtual ~Outer() = default;
};

void ThroughComRuntime() {
    // The factory the run-time finds from the registered server.
    IClassFactory *factory = nullptr;
    CHECK_HR(CoGetClassObject(kClsidVelkorixDecoder, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                              reinterpret_cast<void **>(&factory)),
             S_OK);
    if (factory) {
        void *object = reinterpret_cast<void *>(1);
        Outer outer;
        CHECK_HR(factory->CreateInstance(&outer, IID_IClassFactory, &object), E_NOINTERFACE);
        CHECK_HR(factory->CreateInstance(&outer, IID_IBaseFilter, &object), E_NOINTERFACE);
        CHECK_HR(factory->CreateInstance(nullptr, IID_IBaseFilter, nullptr), E_POINTER);

        // Aggregation: the inner unknown, whose interfaces count on the outer object.
        IUnknown *inner = nullptr;
        CHECK_HR(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void **>(&inner)), S_OK);
        if (inner) {
            outer.inner = inner;
            IBaseFilter *filter = nullptr;
            CHECK_HR(outer.QueryInterface(IID_IBaseFilter, reinterpret_cast<void **>(&filter)), S_OK);
            if (filter) {
                const LONG before = outer.references;
                filter->AddRef();
                CHECK_EQ(outer.references, before + 1);
                filter->Release();
                filter->Release();
            }
            CHECK_EQ(inner->Release(), 0ul);
        }
        CHECK_HR(factory->LockServer(TRUE), S_OK);
        CHECK_HR(factory->LockServer(FALSE), S_OK);
        factory->Release();
    }

    // A filter created by class identifier, as a graph would.
    IBaseFilter *filter = nullptr;
    CHECK_HR(CoCreateInstance(kClsidVelkorixDecoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              reinterpret_cast<void **>(&filter)),
             S_OK);
    if (filter) {
        CLSID clsid{};
        CHECK_HR(filter->GetClassID(&clsid), S_OK);
        CHECK(IsEqualCLSID(clsid, kClsidVelkorixDecoder));
        IEnumPins *pins = nullptr;
        CHECK_HR(filter->EnumPins(&pins), S_OK);
        if (pins) {
            IPin *found[3] = {};
            ULONG fetched = 0;
            CHECK_HR(pins->Next(3, found, &fetched), S_FALSE);
            CHECK_EQ(fetched, 2ul);
            if (fetched == 2) {
                CHECK(PinName(found[0]) == L"XForm In");
                CHECK(PinName(found[1]) == L"XForm Out");
                PIN_DIRECTION direction;
                CHECK(SUCCEEDED(found[0]->QueryDirection(&direction)) && direction == PINDIR_INPUT);
                CHECK(SUCCEEDED(found[1]->QueryDirection(&direction)) && direction == PINDIR_OUTPUT);
                // Before the input is connected the output offers no type.
                IEnumMediaTypes *types = nullptr;
                CHECK_HR(found[1]->EnumMediaTypes(&types), S_OK);
                if (types) {
                    AM_MEDIA_TYPE *type = nullptr;
                    CHECK_HR(types->Next(1, &type, nullptr), S_FALSE);
                    types->Release();
                }
                IMemInputPin *memInput = nullptr;
                CHECK_HR(found[0]->QueryInterface(IID_IMemInputPin, reinterpret_cast<void **>(&memInput)), S_OK);
                if (memInput) memInput->Release();
                IMediaSeeking *seeking = nullptr;
                CHECK_HR(found[1]->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void **>(&seeking)), S_OK);
                if (seeking) seeking->Release();
            }
            for (IPin *pin : found)
                if (pin) pin->Release();
            pins->Release();
        }
        IPin *pin = nullptr;
        CHECK_HR(filter->FindPin(L"XForm Out", &pin), S_OK);
        if (pin) pin->Release();
        CHECK_HR(filter->FindPin(L"Output", &pin), VFW_E_NOT_FOUND);
        void *level = nullptr;
        CHECK_HR(filter->QueryInterface(kIidLevelAdjust, &level), S_OK);
        if (level) static_cast<IUnknown *>(level)->Release();
        filter->Release();
    }

    // The property page class is registered and has a factory; the page
    // itself is not part of the module yet.
    IClassFactory *pageFactory = nullptr;
    CHECK_HR(CoGetClassObject(kClsidLevelPropertyPage, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                              reinterpret_cast<void **>(&pageFactory)),
             S_OK);
    if (pageFactory) pageFactory->Release();
}

void DirectlyThroughTheExports(const char *modulePath) {
    HMODULE module = LoadLibraryA(modulePath);
    REQUIRE_VOID(module != nullptr);
    auto getClassObject =
        reinterpret_cast<GetClassObjectFunction>(reinterpret_cast<void *>(GetProcAddress(module, "DllGetClassObject")));
    auto canUnloadNow =
        reinterpret_cast<CanUnloadNowFunction>(reinterpret_cast<void *>(GetProcAddress(module, "DllCanUnloadNow")));
    REQUIRE_VOID(getClassObject && canUnloadNow);
    for (const char *name : {"DllMain", "DllRegisterServer", "DllUnregisterServer"})
        CHECK(GetProcAddress(module, name) != nullptr);

    CHECK_HR(canUnloadNow(), S_OK);

    // The interface is checked before the class.
    void *object = reinterpret_cast<void *>(0x5A5A);
    CHECK_HR(getClassObject(kClsidVelkorixDecoder, IID_IPersist, &object), E_NOINTERFACE);
    CHECK_HR(getClassObject(kUnknownClass, IID_IPersist, &object), E_NOINTERFACE);
    CHECK(object == reinterpret_cast<void *>(0x5A5A));
    CHECK_HR(getClassObject(kUnknownClass, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);

    // A held factory keeps the module; so does a server lock.
    IClassFactory *factory = nullptr;
    CHECK_HR(getClassObject(kClsidLevelPropertyPage, IID_IClassFactory, reinterpret_cast<void **>(&factory)), S_OK);
    REQUIRE_VOID(factory != nullptr);
    CHECK_HR(canUnloadNow(), S_FALSE);
    CHECK_HR(factory->LockServer(TRUE), S_OK);
    CHECK_EQ(factory->Release(), 0ul);
    CHECK_HR(canUnloadNow(), S_FALSE);
    CHECK_HR(getClassObject(kClsidVelkorixDecoder, IID_IUnknown, reinterpret_cast<void **>(&factory)), S_OK);
    REQUIRE_VOID(factory != nullptr);
    CHECK_HR(factory->LockServer(FALSE), S_OK);
    factory->Release();
    CHECK_HR(canUnloadNow(), S_OK);

    // Counts stay exact with callers on several threads at once. A thread
    // that has done its 200000 rounds goes on until every thread has, so the
    // threads' rounds overlap even where one alone takes less than a time
    // slice.
    CHECK_HR(getClassObject(kClsidVelkorixDecoder, IID_IClassFactory, reinterpret_cast<void **>(&factory)), S_OK);
    REQUIRE_VOID(factory != nullptr);
    constexpr int kThreads = 4;
    volatile LONG doneRounds = 0;
    vtest::RunConcurrently(kThreads, [factory, &doneRounds](int) {
        for (int i = 0; i < 200000 || doneRounds < kThreads; ++i) {
            if (i == 200000) InterlockedIncrement(&doneRounds);
            factory->AddRef();
            factory->LockServer(TRUE);
            if (i % 256 == 0) {
                IBaseFilter *filter = nullptr;
                if (SUCCEEDED(factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void **>(&filter))))
                    filter->Release();
            }
            factory->LockServer(FALSE);
            factory->Release();
        }
    });
    CHECK_EQ(factory->AddRef(), 2ul);
    factory->Release();
    CHECK_EQ(factory->Release(), 0ul);
    CHECK_HR(canUnloadNow(), S_OK);
    FreeLibrary(module);
}

}  // namespace

VTEST_COMMAND(ComCommand, "com", "com MODULE_PATH") {
    if (argc < 2) {
        std::printf("usage: com MODULE_PATH\n");
        return 2;
    }
    CHECK(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    DirectlyThroughTheExports(argv[1]);
    ThroughComRuntime();
    CoUninitialize();
    return vtest::Finish(argv[0]);
}
