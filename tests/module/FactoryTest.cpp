// The class factory, interface identity, aggregation and unloading, through DllGetClassObject only.
#include "support/AgentModule.h"

#include <ocidl.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace tamsel::module::test {
namespace {

// {0F6C7D52-8A43-4C0B-9D2E-3B1A5E6F7A80}: a class this module does not have.
const CLSID CLSID_Unknown = {0x0F6C7D52, 0x8A43, 0x4C0B, {0x9D, 0x2E, 0x3B, 0x1A, 0x5E, 0x6F, 0x7A, 0x80}};
void* const JUNK = reinterpret_cast<void*>(0x1234);

IClassFactory* GetFactory(const AgentExports& exports) {
    void* factory = nullptr;
    EXPECT_EQ(exports.DllGetClassObject(CLSID_nvTamselAgent, IID_IClassFactory, &factory), S_OK);
    return static_cast<IClassFactory*>(factory);
}

// A new plain agent, asked for riid; the factory reference is dropped again.
template <typename Interface>
Interface* CreateAgent(REFIID riid) {
    IClassFactory* factory = GetFactory(Agent());
    void* object = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, riid, &object), S_OK);
    factory->Release();
    return static_cast<Interface*>(object);
}

class AgentModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(Agent().DllGetClassObject, nullptr) << "NorvikTamselAgent.dll beside the test did not load";
        ASSERT_EQ(Agent().DllCanUnloadNow(), S_OK) << "an earlier test left the module held";
    }
    void TearDown() override { EXPECT_EQ(Agent().DllCanUnloadNow(), S_OK) << "the test left the module held"; }
};

using Factory = AgentModuleTest;

TEST_F(Factory, SameFactoryTwiceHoldsModuleUntilBothReleased) {
    IClassFactory* first = GetFactory(Agent());
    IClassFactory* second = GetFactory(Agent());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_EQ(Agent().DllCanUnloadNow(), S_FALSE);
    EXPECT_EQ(first->Release(), 1u) << "a static factory answers as an object that someone else still holds";
    EXPECT_EQ(Agent().DllCanUnloadNow(), S_FALSE);
    EXPECT_EQ(second->Release(), 1u);
}

TEST_F(Factory, CountsAreConstantsAndTheModuleLockAloneDecidesUnloading) {
    IClassFactory* factory = GetFactory(Agent());
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(factory->AddRef(), 2u);
    EXPECT_EQ(factory->AddRef(), 2u) << "no count of its own";
    EXPECT_EQ(factory->Release(), 1u);
    EXPECT_EQ(factory->Release(), 1u);
    EXPECT_EQ(Agent().DllCanUnloadNow(), S_FALSE) << "the reference from DllGetClassObject still holds the module";
    IUnknown* unknown = nullptr;
    ASSERT_EQ(factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(factory->Release(), 1u);
    EXPECT_EQ(Agent().DllCanUnloadNow(), S_FALSE) << "the reference from QueryInterface still holds the module";
    EXPECT_EQ(unknown->Release(), 1u);
    EXPECT_EQ(Agent().DllCanUnloadNow(), S_OK) << "every reference was given back";
}

TEST_F(Factory, RefusesUnknownClassesInterfacesAndNullOutputs) {
    void* object = JUNK;
    EXPECT_EQ(Agent().DllGetClassObject(CLSID_Unknown, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    object = JUNK;
    EXPECT_EQ(Agent().DllGetClassObject(CLSID_nvTamselAgent, IID_IDispatch, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(Agent().DllGetClassObject(CLSID_nvTamselAgent, IID_IClassFactory, nullptr), E_POINTER);

    IClassFactory* factory = GetFactory(Agent());
    void* unknown = nullptr;
    ASSERT_EQ(factory->QueryInterface(IID_IUnknown, &unknown), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(factory), unknown);
    static_cast<IUnknown*>(unknown)->Release();
    EXPECT_EQ(factory->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    object = JUNK;
    EXPECT_EQ(factory->QueryInterface(IID_IClassFactory2, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    factory->Release();
}

TEST_F(Factory, FailedCreationLeavesNothingBehind) {
    IClassFactory* factory = GetFactory(Agent());
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_InvTamselAgentOps, nullptr), E_POINTER);
    void* object = JUNK;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    factory->Release();
    EXPECT_EQ(Agent().DllCanUnloadNow(), S_OK) << "the refused object still holds the module";
}

TEST_F(Factory, LockServerHoldsModuleUntilUnlocked) {
    IClassFactory* factory = GetFactory(Agent());
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    EXPECT_EQ(Agent().DllCanUnloadNow(), S_FALSE);
    factory = GetFactory(Agent());
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory->Release();
}

using Identity = AgentModuleTest;

TEST_F(Identity, FacesShareOneIdentityAndOneCount) {
    auto* ops = CreateAgent<InvTamselAgentOps>(IID_InvTamselAgentOps);
    ASSERT_NE(ops, nullptr);
    EXPECT_EQ(Agent().DllCanUnloadNow(), S_FALSE);

    IUnknown* unknown = nullptr;
    ASSERT_EQ(ops->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    InvTamselAgent* dual = nullptr;
    ASSERT_EQ(unknown->QueryInterface(IID_InvTamselAgent, reinterpret_cast<void**>(&dual)), S_OK);
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(ops->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    InvTamselAgentOps* opsAgain = nullptr;
    ASSERT_EQ(dispatch->QueryInterface(IID_InvTamselAgentOps, reinterpret_cast<void**>(&opsAgain)), S_OK);

    EXPECT_EQ(static_cast<IUnknown*>(dual), unknown) << "the dispatch face is the identity";
    EXPECT_EQ(static_cast<IDispatch*>(dual), dispatch);
    EXPECT_EQ(ops, opsAgain);
    EXPECT_NE(static_cast<void*>(ops), static_cast<void*>(unknown));
    EXPECT_EQ(CountOf(ops), 5u) << "one count for both faces";
    EXPECT_EQ(CountOf(dispatch), 5u);

    EXPECT_EQ(opsAgain->Release(), 4u);
    EXPECT_EQ(dispatch->Release(), 3u);
    EXPECT_EQ(dual->Release(), 2u);
    EXPECT_EQ(unknown->Release(), 1u);
    EXPECT_EQ(Agent().DllCanUnloadNow(), S_FALSE);
    EXPECT_EQ(ops->Release(), 0u);
}

TEST_F(Identity, OtherInterfacesAreRefusedFromEitherFace) {
    auto* ops = CreateAgent<InvTamselAgentOps>(IID_InvTamselAgentOps);
    ASSERT_NE(ops, nullptr);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(ops->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    for (IUnknown* face : {static_cast<IUnknown*>(ops), unknown}) {
        for (const IID* iid : {&IID_IClassFactory, &IID_ProgressSink, &IID_ITypeInfo, &IID_IPersist,
                               &IID_IPersistStreamInit, &IID_IConnectionPoint, &IID_IEnumConnectionPoints}) {
            void* object = JUNK;
            EXPECT_EQ(face->QueryInterface(*iid, &object), E_NOINTERFACE);
            EXPECT_EQ(object, nullptr);
        }
        EXPECT_EQ(face->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    }
    EXPECT_EQ(CountOf(ops), 2u) << "a refused QueryInterface moved the count";
    unknown->Release();
    EXPECT_EQ(ops->Release(), 0u);
}

// Every interface the object answers, in groups that share one face: an interface and the ones it
// derives from.
const std::vector<std::vector<const IID*>> FACES = {
    {&IID_InvTamselAgent2, &IID_InvTamselAgent, &IID_IDispatch},
    {&IID_InvTamselAgentOps4, &IID_InvTamselAgentOps3, &IID_InvTamselAgentOps2, &IID_InvTamselAgentOps},
    {&IID_ISupportErrorInfo},
    {&IID_IProvideClassInfo2, &IID_IProvideClassInfo},
    {&IID_IConnectionPointContainer},
};

// The face that object answers for iid, with the reference it took given back; null when refused.
void* FaceOf(IUnknown* object, const IID& iid) {
    void* face = nullptr;
    if (FAILED(object->QueryInterface(iid, &face)) || face == nullptr) return nullptr;
    static_cast<IUnknown*>(face)->Release();
    return face;
}

TEST_F(Identity, EveryFaceAnswersTheWholeListWithOneIdentity) {
    auto* unknown = CreateAgent<IUnknown>(IID_IUnknown);
    ASSERT_NE(unknown, nullptr);
    for (const auto& group : FACES) {
        void* face = FaceOf(unknown, *group[0]);
        ASSERT_NE(face, nullptr);
        for (const IID* iid : group) {
            EXPECT_EQ(FaceOf(unknown, *iid), face) << "an interface and its bases share one face";
        }
        EXPECT_EQ(FaceOf(static_cast<IUnknown*>(face), IID_IUnknown), static_cast<void*>(unknown))
            << "IUnknown from every face is the identity";
        for (const auto& other : FACES) {
            EXPECT_EQ(FaceOf(static_cast<IUnknown*>(face), *other[0]), FaceOf(unknown, *other[0]))
                << "every face answers the whole list";
        }
    }
    EXPECT_EQ(unknown->Release(), 0u) << "the lookups left a reference behind";
}

TEST_F(Identity, OperationsFaceReachesTheAgentInSlotOrder) {
    auto* ops = CreateAgent<InvTamselAgentOps>(IID_InvTamselAgentOps);
    ASSERT_NE(ops, nullptr);
    LONG status = 1234;
    EXPECT_EQ(ops->GetLastHttpStatus(&status), E_FAIL) << "a new agent has no HTTP status to tell";
    EXPECT_EQ(ops->GetLastServiceStatus(&status), E_FAIL);
    EXPECT_EQ(status, 1234);

    // The second interface is the same face one slot longer, asked of the identity as of the operations.
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(ops->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    InvTamselAgentOps2* fromOps = nullptr;
    InvTamselAgentOps2* fromDispatch = nullptr;
    ASSERT_EQ(ops->QueryInterface(IID_InvTamselAgentOps2, reinterpret_cast<void**>(&fromOps)), S_OK);
    ASSERT_EQ(dispatch->QueryInterface(IID_InvTamselAgentOps2, reinterpret_cast<void**>(&fromDispatch)), S_OK);
    EXPECT_EQ(static_cast<void*>(fromOps), static_cast<void*>(ops));
    EXPECT_EQ(fromDispatch, fromOps);
    EXPECT_EQ(fromOps->FetchToFileEx("http://files.norvik.example/f", L"f", nullptr, 0x8, -1), E_INVALIDARG)
        << "the new slot reaches the agent";
    // The third likewise, two slots longer still.
    InvTamselAgentOps3* third = nullptr;
    ASSERT_EQ(dispatch->QueryInterface(IID_InvTamselAgentOps3, reinterpret_cast<void**>(&third)), S_OK);
    EXPECT_EQ(static_cast<void*>(third), static_cast<void*>(ops));
    EXPECT_EQ(third->FetchToFileVerified("http://files.norvik.example/f", L"f", nullptr, 0, -1, "12"), E_INVALIDARG)
        << "the last slot reaches the agent";
    third->Release();
    fromDispatch->Release();
    fromOps->Release();
    dispatch->Release();
    EXPECT_EQ(ops->Release(), 0u);
}

using Aggregation = AgentModuleTest;

// An outer object whose own count never moves: it counts the calls that reach it, and shows the
// agent's interfaces by asking the inner unknown, as an aggregating object does.
class FakeOuter final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        ++queries;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *object = this;
            return S_OK;
        }
        if (inner != nullptr && (IsEqualIID(riid, IID_InvTamselAgentOps) || IsEqualIID(riid, IID_IDispatch) ||
                                 (showsOps2 && IsEqualIID(riid, IID_InvTamselAgentOps2)))) {
            return inner->QueryInterface(riid, object);
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++addRefs, 2; }
    ULONG STDMETHODCALLTYPE Release() override { return ++releases, 1; }

    IUnknown* inner = nullptr;
    bool showsOps2 = false;
    int queries = 0;
    int addRefs = 0;
    int releases = 0;
};

TEST_F(Aggregation, OuterMayAskOnlyForTheInnerUnknown) {
    FakeOuter outer;
    IClassFactory* factory = GetFactory(Agent());
    void* object = JUNK;
    EXPECT_EQ(factory->CreateInstance(&outer, IID_InvTamselAgentOps, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IDispatch, &object), CLASS_E_NOAGGREGATION);
    factory->Release();
    EXPECT_EQ(outer.addRefs + outer.releases + outer.queries, 0);
}

// Aggregates an agent into outer; its inner unknown, or null.
IUnknown* Aggregate(FakeOuter& outer) {
    IClassFactory* factory = GetFactory(Agent());
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    factory->Release();
    return outer.inner;
}

TEST_F(Aggregation, InnerUnknownCountsItselfAndFacesDelegateToOuter) {
    FakeOuter outer;
    IUnknown* inner = Aggregate(outer);
    ASSERT_NE(inner, nullptr);
    EXPECT_NE(static_cast<IUnknown*>(&outer), inner);
    EXPECT_EQ(outer.addRefs, 0) << "creation must not count on the outer object";
    EXPECT_EQ(Agent().DllCanUnloadNow(), S_FALSE);

    IUnknown* innerAgain = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&innerAgain)), S_OK);
    EXPECT_EQ(inner, innerAgain) << "the inner unknown answers IUnknown with itself";
    EXPECT_EQ(CountOf(inner), 2u);
    innerAgain->Release();

    InvTamselAgentOps* ops = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_InvTamselAgentOps, reinterpret_cast<void**>(&ops)), S_OK);
    EXPECT_EQ(outer.addRefs, 1) << "a face handed out is counted on the outer object";
    EXPECT_EQ(CountOf(inner), 1u) << "and not on the inner unknown";

    IUnknown* identity = nullptr;
    ASSERT_EQ(ops->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(&outer), identity) << "the faces answer with the outer identity";
    EXPECT_EQ(ops->AddRef(), 2u);
    EXPECT_EQ(ops->Release(), 1u);
    void* refused = JUNK;
    EXPECT_EQ(ops->QueryInterface(IID_InvTamselAgent, &refused), E_NOINTERFACE)
        << "what the outer object does not show, its faces do not show either";
    EXPECT_EQ(refused, nullptr);
    EXPECT_EQ(inner->QueryInterface(IID_IClassFactory, &refused), E_NOINTERFACE);
    LONG status = 0;
    EXPECT_EQ(ops->GetLastHttpStatus(&status), E_FAIL);
    EXPECT_EQ(outer.addRefs, 2);
    EXPECT_EQ(outer.releases, 1);
    ops->Release();

    EXPECT_EQ(inner->Release(), 0u);
}

TEST_F(Aggregation, SecondInterfaceIsShownOnlyWhereTheOuterObjectShowsIt) {
    FakeOuter outer;
    IUnknown* inner = Aggregate(outer);
    ASSERT_NE(inner, nullptr);
    InvTamselAgentOps2* ops2 = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_InvTamselAgentOps2, reinterpret_cast<void**>(&ops2)), S_OK)
        << "the inner unknown hands out its faces";
    void* again = JUNK;
    EXPECT_EQ(ops2->QueryInterface(IID_InvTamselAgentOps2, &again), E_NOINTERFACE)
        << "the face asks the outer object, which does not show it";
    EXPECT_EQ(again, nullptr);
    outer.showsOps2 = true;
    ASSERT_EQ(ops2->QueryInterface(IID_InvTamselAgentOps2, &again), S_OK);
    EXPECT_EQ(again, static_cast<void*>(ops2));
    static_cast<IUnknown*>(again)->Release();
    EXPECT_EQ(outer.addRefs, outer.releases + 1) << "counted on the outer object";
    ops2->Release();
    EXPECT_EQ(inner->Release(), 0u);
}

TEST_F(Aggregation, InnerUnknownHandsOutTheWholeListCountedOnTheOuterObject) {
    FakeOuter outer;
    IUnknown* inner = Aggregate(outer);
    ASSERT_NE(inner, nullptr);
    for (const auto& group : FACES) {
        void* face = FaceOf(inner, *group[0]);
        ASSERT_NE(face, nullptr);
        EXPECT_NE(face, static_cast<void*>(inner)) << "the inner unknown is no face";
        for (const IID* iid : group) {
            EXPECT_EQ(FaceOf(inner, *iid), face) << "an interface and its bases share one face";
        }
    }
    EXPECT_EQ(outer.addRefs, outer.releases) << "every face handed out was counted on the outer object";
    EXPECT_GT(outer.addRefs, 0);
    EXPECT_EQ(CountOf(inner), 1u) << "and never on the inner unknown";
    EXPECT_EQ(inner->Release(), 0u);
}

using Unloading = AgentModuleTest;

TEST_F(Unloading, EveryObjectHoldsTheModuleUntilReleased) {
    auto* first = CreateAgent<InvTamselAgentOps>(IID_InvTamselAgentOps);
    auto* second = CreateAgent<IDispatch>(IID_IDispatch);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(Agent().DllCanUnloadNow(), S_FALSE);
    EXPECT_EQ(first->Release(), 0u);
    EXPECT_EQ(Agent().DllCanUnloadNow(), S_FALSE);
    EXPECT_EQ(second->Release(), 0u);
}

// Each round loads a fresh copy of the module, so the threads race for its first factory, and then
// unloads it, so that module end runs after the objects are gone.
TEST(Threads, ConcurrentFirstUseBuildsOneFactoryAndUnloadsClean) {
    const std::wstring copy = CopyAgentModule(L"tamsel-module-threads", L"NorvikTamselAgentThreads.dll");
    ASSERT_FALSE(copy.empty());
    constexpr int THREADS = 8;
    for (int round = 0; round < 5; ++round) {
        HMODULE module = ::LoadLibraryW(copy.c_str());
        ASSERT_NE(module, nullptr);
        const AgentExports exports = ExportsOf(module);
        HANDLE start = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        std::vector<IClassFactory*> factories(THREADS, nullptr);
        std::vector<ULONG> finalCounts(THREADS, 99);
        std::vector<std::thread> threads;
        for (int index = 0; index < THREADS; ++index) {
            threads.emplace_back([&, index] {
                ::WaitForSingleObject(start, INFINITE);
                void* factory = nullptr;
                if (FAILED(exports.DllGetClassObject(CLSID_nvTamselAgent, IID_IClassFactory, &factory))) {
                    return;
                }
                factories[index] = static_cast<IClassFactory*>(factory);
                void* ops = nullptr;
                if (SUCCEEDED(factories[index]->CreateInstance(nullptr, IID_InvTamselAgentOps, &ops))) {
                    finalCounts[index] = static_cast<IUnknown*>(ops)->Release();
                }
                factories[index]->Release();
            });
        }
        ::SetEvent(start);
        for (auto& thread : threads) {
            thread.join();
        }
        ::CloseHandle(start);
        for (int index = 0; index < THREADS; ++index) {
            EXPECT_EQ(factories[0], factories[index]) << "thread " << index << " got another factory";
            EXPECT_EQ(finalCounts[index], 0u) << "thread " << index;
        }
        EXPECT_EQ(exports.DllCanUnloadNow(), S_OK);
        EXPECT_TRUE(::FreeLibrary(module));
        EXPECT_EQ(::GetModuleHandleW(L"NorvikTamselAgentThreads.dll"), nullptr) << "the copy stayed loaded";
    }
}

}  // namespace
}  // namespace tamsel::module::test
