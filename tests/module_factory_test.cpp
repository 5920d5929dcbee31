// The module's COM entry points on the portable stand-in: DllMain,
// DllGetClassObject, the class factory and the unload rule.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "filter/audio_decoder_filter.h"
#include "filter/guids.h"
#include "filter/module.h"
#include "stand_in_control.h"

namespace velkorix {
namespace {

// {0000010C-0000-0000-C000-000000000046}
constexpr IID kIidPersist = {0x0000010C, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
constexpr CLSID kUnknownClass = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr HRESULT kAccessDenied = static_cast<HRESULT>(0x80070005u);
void *const kUntouched = reinterpret_cast<void *>(0x5A5A5A5A);

class ModuleFactoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        standin::Reset();
        baseline_ = activeObjectCount;
        ASSERT_EQ(serverLockCount, 0);
    }
    void TearDown() override {
        EXPECT_EQ(activeObjectCount, baseline_) << "an object of the module outlived the test";
        EXPECT_EQ(serverLockCount, 0);
    }

    IClassFactory *Factory(const CLSID &clsid) {
        void *object = nullptr;
        EXPECT_EQ(DllGetClassObject(clsid, kIidClassFactory, &object), S_OK);
        return static_cast<IClassFactory *>(object);
    }

    LONG baseline_ = 0;
};

// An outer object that aggregates an inner one: counts its references and
// hands unknown interfaces to the inner object.
struct Outer : public IUnknown {
    LONG references = 1;
    IUnknown *inner = nullptr;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override {
        if (iid == kIidUnknown) {
            *object = this;
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(iid, object) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
};

// A reference-counted object whose class entry the tests control.
class Probe : public UnknownBase {
public:
    explicit Probe(IUnknown *outer) : UnknownBase(outer) { ++alive; }
    ~Probe() override { --alive; }
    static inline int alive = 0;
};

int probeCreations = 0;
HRESULT probeResult = S_OK;
bool probeReturnsObject = true;

UnknownBase *CreateProbe(IUnknown *outer, HRESULT *result) {
    ++probeCreations;
    *result = probeResult;
    return probeReturnsObject ? new Probe(outer) : nullptr;
}

const ServerClassEntry kProbeEntry = {L"Probe", kUnknownClass, &CreateProbe, nullptr, nullptr};

TEST_F(ModuleFactoryTest, ClassObjectIsRefusedForOtherInterfacesBeforeTheClassIsLookedUp) {
    void *object = kUntouched;
    EXPECT_EQ(DllGetClassObject(kClsidVelkorixDecoder, kIidPersist, &object), E_NOINTERFACE);
    EXPECT_EQ(object, kUntouched);
    EXPECT_EQ(DllGetClassObject(kUnknownClass, kIidPersist, &object), E_NOINTERFACE);
    EXPECT_EQ(object, kUntouched);
    EXPECT_EQ(DllGetClassObject(kUnknownClass, kIidClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(DllGetClassObject(kClsidVelkorixDecoder, kIidClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(activeObjectCount, baseline_);
}

TEST_F(ModuleFactoryTest, ClassObjectIsOneNewFactoryWithOneReferenceForEitherInterface) {
    for (const IID &iid : {kIidUnknown, kIidClassFactory}) {
        void *object = nullptr;
        ASSERT_EQ(DllGetClassObject(kClsidVelkorixDecoder, iid, &object), S_OK);
        auto *factory = static_cast<IClassFactory *>(object);
        EXPECT_EQ(activeObjectCount, baseline_ + 1);
        EXPECT_EQ(factory->AddRef(), 2u);
        EXPECT_EQ(factory->Release(), 1u);
        EXPECT_EQ(factory->Release(), 0u);
        EXPECT_EQ(activeObjectCount, baseline_);
    }
    // Two calls give two factories.
    IClassFactory *first = Factory(kClsidVelkorixDecoder);
    IClassFactory *second = Factory(kClsidVelkorixDecoder);
    EXPECT_NE(first, second);
    EXPECT_EQ(activeObjectCount, baseline_ + 2);
    first->Release();
    second->Release();
}

TEST_F(ModuleFactoryTest, FactoryAnswersItsTwoInterfacesOnly) {
    IClassFactory *factory = Factory(kClsidVelkorixDecoder);
    EXPECT_EQ(factory->QueryInterface(kIidClassFactory, nullptr), E_POINTER);
    void *object = kUntouched;
    EXPECT_EQ(factory->QueryInterface(kIidPersist, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    for (const IID &iid : {kIidUnknown, kIidClassFactory}) {
        ASSERT_EQ(factory->QueryInterface(iid, &object), S_OK);
        EXPECT_EQ(object, factory);
        EXPECT_EQ(factory->Release(), 1u);
    }
    factory->Release();
}

TEST_F(ModuleFactoryTest, CreateInstanceMakesADecoderFilter) {
    IClassFactory *factory = Factory(kClsidVelkorixDecoder);
    EXPECT_EQ(factory->CreateInstance(nullptr, kIidLevelAdjust, nullptr), E_POINTER);
    void *object = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, kIidLevelAdjust, &object), S_OK);
    EXPECT_EQ(activeObjectCount, baseline_ + 2);  // the factory and the filter
    auto *level = static_cast<ILevelAdjust *>(object);
    signed char value = 7;
    EXPECT_EQ(level->GetLevel(&value), S_OK);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(level->Release(), 0u);

    // A refused interface leaves no filter behind.
    object = kUntouched;
    EXPECT_EQ(factory->CreateInstance(nullptr, kIidPersist, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(activeObjectCount, baseline_ + 1);
    factory->Release();
}

TEST_F(ModuleFactoryTest, AggregatedFilterDelegatesToTheOuterObject) {
    IClassFactory *factory = Factory(kClsidVelkorixDecoder);
    Outer outer;
    void *object = nullptr;
    // An outer object may ask for IUnknown only.
    EXPECT_EQ(factory->CreateInstance(&outer, kIidClassFactory, &object), E_NOINTERFACE);
    EXPECT_EQ(factory->CreateInstance(&outer, kIidLevelAdjust, &object), E_NOINTERFACE);
    EXPECT_EQ(activeObjectCount, baseline_ + 1);

    ASSERT_EQ(factory->CreateInstance(&outer, kIidUnknown, &object), S_OK);
    outer.inner = static_cast<IUnknown *>(object);
    void *level = nullptr;
    ASSERT_EQ(outer.QueryInterface(kIidLevelAdjust, &level), S_OK);
    const LONG before = outer.references;
    static_cast<ILevelAdjust *>(level)->AddRef();
    EXPECT_EQ(outer.references, before + 1) << "an inner interface must count on the outer object";
    static_cast<ILevelAdjust *>(level)->Release();
    static_cast<ILevelAdjust *>(level)->Release();
    EXPECT_EQ(outer.references, before - 1);
    EXPECT_EQ(outer.inner->Release(), 0u);
    EXPECT_EQ(activeObjectCount, baseline_ + 1);
    factory->Release();
}

TEST_F(ModuleFactoryTest, CreateInstanceHonoursTheCreationFunctionsResult) {
    auto *factory = new ModuleClassFactory(&kProbeEntry);
    factory->AddRef();
    void *object = nullptr;

    probeCreations = 0;
    Outer outer;
    EXPECT_EQ(factory->CreateInstance(&outer, kIidClassFactory, &object), E_NOINTERFACE);
    EXPECT_EQ(probeCreations, 0) << "refused before the creation function";

    // No object: the stored failure, or E_OUTOFMEMORY when none was stored.
    probeReturnsObject = false;
    probeResult = kAccessDenied;
    EXPECT_EQ(factory->CreateInstance(nullptr, kIidUnknown, &object), kAccessDenied);
    probeResult = S_OK;
    EXPECT_EQ(factory->CreateInstance(nullptr, kIidUnknown, &object), E_OUTOFMEMORY);

    // An object with a failed result is destroyed and the failure returned.
    probeReturnsObject = true;
    probeResult = E_FAIL;
    EXPECT_EQ(factory->CreateInstance(nullptr, kIidUnknown, &object), E_FAIL);
    EXPECT_EQ(Probe::alive, 0);

    // Success: the requested interface, the creation reference dropped.
    probeResult = S_OK;
    ASSERT_EQ(factory->CreateInstance(nullptr, kIidUnknown, &object), S_OK);
    EXPECT_EQ(Probe::alive, 1);
    EXPECT_EQ(static_cast<IUnknown *>(object)->Release(), 0u);
    EXPECT_EQ(Probe::alive, 0);
    EXPECT_EQ(probeCreations, 4);
    factory->Release();
}

TEST_F(ModuleFactoryTest, PropertyPageClassCreatesTheLevelPage) {
    IClassFactory *factory = Factory(kClsidLevelPropertyPage);
    ASSERT_NE(factory, nullptr);
    void *object = kUntouched;
    ASSERT_EQ(factory->CreateInstance(nullptr, kIidPropertyPage, &object), S_OK);
    auto *page = static_cast<IPropertyPage *>(object);
    EXPECT_EQ(page->IsPageDirty(), S_FALSE);
    EXPECT_EQ(page->Release(), 0u);
    // Aggregated, the page hands its inner unknown to the outer object.
    Outer outer;
    EXPECT_EQ(factory->CreateInstance(&outer, kIidPropertyPage, &object), E_NOINTERFACE);
    ASSERT_EQ(factory->CreateInstance(&outer, kIidUnknown, &object), S_OK);
    auto *inner = static_cast<IUnknown *>(object);
    EXPECT_NE(inner, static_cast<IUnknown *>(&outer));
    EXPECT_EQ(inner->Release(), 0u);
    factory->Release();
}

TEST_F(ModuleFactoryTest, UnloadIsRefusedWhileAFactoryOrAServerLockIsHeld) {
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
    IClassFactory *factory = Factory(kClsidVelkorixDecoder);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "locked twice";
    // A lock is the module's, not the factory's: another factory unlocks it.
    factory = Factory(kClsidLevelPropertyPage);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory->Release();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "locked once";
    factory = Factory(kClsidLevelPropertyPage);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory->Release();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);

    // A live filter keeps the module too.
    factory = Factory(kClsidVelkorixDecoder);
    void *object = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, kIidUnknown, &object), S_OK);
    factory->Release();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    static_cast<IUnknown *>(object)->Release();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

// Named for the ThreadSanitizer run of the test command.
using ModuleFactoryConcurrencyTest = ModuleFactoryTest;

TEST_F(ModuleFactoryConcurrencyTest, CountsStayExactUnderConcurrentCallers) {
    // "Both" threading: factories, references and locks from many threads at once.
    IClassFactory *shared = Factory(kClsidVelkorixDecoder);
    constexpr int kThreads = 4, kRounds = 20000;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                shared->AddRef();
                shared->LockServer(TRUE);
                if (i % 1024 == 0) {
                    void *object = nullptr;
                    if (DllGetClassObject(kClsidVelkorixDecoder, kIidClassFactory, &object) != S_OK) ++failures;
                    auto *own = static_cast<IClassFactory *>(object);
                    void *filter = nullptr;
                    if (own->CreateInstance(nullptr, kIidUnknown, &filter) != S_OK) ++failures;
                    static_cast<IUnknown *>(filter)->Release();
                    own->Release();
                }
                shared->LockServer(FALSE);
                shared->Release();
            }
        });
    }
    for (auto &thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(serverLockCount, 0);
    EXPECT_EQ(shared->AddRef(), 2u) << "lost or doubled reference counts";
    shared->Release();
    EXPECT_EQ(shared->Release(), 0u);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST_F(ModuleFactoryTest, ProcessAttachRecordsTheModuleAndThePlatform) {
    auto *instance = reinterpret_cast<HINSTANCE>(0x10000);
    EXPECT_EQ(DllMain(instance, DLL_PROCESS_ATTACH, nullptr), TRUE);
    EXPECT_EQ(ModuleInstance(), instance);
    EXPECT_EQ(standin::ThreadCallsDisabledFor(), instance);
    EXPECT_EQ(PlatformId(), static_cast<DWORD>(VER_PLATFORM_WIN32_NT));

    standin::SetVersionInfo(true, VER_PLATFORM_WIN32_WINDOWS);
    EXPECT_EQ(DllMain(instance, DLL_PROCESS_ATTACH, nullptr), TRUE);
    EXPECT_EQ(PlatformId(), static_cast<DWORD>(VER_PLATFORM_WIN32_WINDOWS));
    // Without version information the platform counts as 1.
    standin::SetVersionInfo(false, VER_PLATFORM_WIN32_NT);
    EXPECT_EQ(DllMain(instance, DLL_PROCESS_ATTACH, nullptr), TRUE);
    EXPECT_EQ(PlatformId(), 1u);

    const int disabled = standin::ThreadCallsDisabledCount();
    for (DWORD reason : {DWORD{DLL_THREAD_ATTACH}, DWORD{DLL_THREAD_DETACH}, DWORD{DLL_PROCESS_DETACH}, DWORD{77}})
        EXPECT_EQ(DllMain(instance, reason, nullptr), TRUE);
    EXPECT_EQ(standin::ThreadCallsDisabledCount(), disabled);
    EXPECT_EQ(ModuleInstance(), instance);
}

}  // namespace
}  // namespace velkorix
