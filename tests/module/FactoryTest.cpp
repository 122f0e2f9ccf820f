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
    EXPECT_EQ(S_OK, exports.DllGetClassObject(CLSID_nvTamselAgent, IID_IClassFactory, &factory));
    return static_cast<IClassFactory*>(factory);
}

// A new plain agent, asked for riid; the factory reference is dropped again.
template <typename Interface>
Interface* CreateAgent(REFIID riid) {
    IClassFactory* factory = GetFactory(Agent());
    void* object = nullptr;
    EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, riid, &object));
    factory->Release();
    return static_cast<Interface*>(object);
}

class AgentModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(nullptr, Agent().DllGetClassObject) << "NorvikTamselAgent.dll beside the test did not load";
        ASSERT_EQ(S_OK, Agent().DllCanUnloadNow()) << "an earlier test left the module held";
    }
    void TearDown() override { EXPECT_EQ(S_OK, Agent().DllCanUnloadNow()) << "the test left the module held"; }
};

using Factory = AgentModuleTest;

TEST_F(Factory, SameFactoryTwiceHoldsModuleUntilBothReleased) {
    IClassFactory* first = GetFactory(Agent());
    IClassFactory* second = GetFactory(Agent());
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, second);
    EXPECT_EQ(S_FALSE, Agent().DllCanUnloadNow());
    EXPECT_EQ(2u, first->Release()) << "the class table keeps one reference of its own";
    EXPECT_EQ(S_FALSE, Agent().DllCanUnloadNow());
    EXPECT_EQ(1u, second->Release());
}

TEST_F(Factory, RefusesUnknownClassesInterfacesAndNullOutputs) {
    void* object = JUNK;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, Agent().DllGetClassObject(CLSID_Unknown, IID_IClassFactory, &object));
    EXPECT_EQ(nullptr, object);
    object = JUNK;
    EXPECT_EQ(E_NOINTERFACE, Agent().DllGetClassObject(CLSID_nvTamselAgent, IID_IDispatch, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(E_POINTER, Agent().DllGetClassObject(CLSID_nvTamselAgent, IID_IClassFactory, nullptr));

    IClassFactory* factory = GetFactory(Agent());
    void* unknown = nullptr;
    ASSERT_EQ(S_OK, factory->QueryInterface(IID_IUnknown, &unknown));
    EXPECT_EQ(static_cast<IUnknown*>(factory), unknown);
    static_cast<IUnknown*>(unknown)->Release();
    EXPECT_EQ(E_POINTER, factory->QueryInterface(IID_IUnknown, nullptr));
    object = JUNK;
    EXPECT_EQ(E_NOINTERFACE, factory->QueryInterface(IID_IClassFactory2, &object));
    EXPECT_EQ(nullptr, object);
    factory->Release();
}

TEST_F(Factory, FailedCreationLeavesNothingBehind) {
    IClassFactory* factory = GetFactory(Agent());
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_InvTamselAgentOps, nullptr));
    void* object = JUNK;
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IClassFactory, &object));
    EXPECT_EQ(nullptr, object);
    factory->Release();
    EXPECT_EQ(S_OK, Agent().DllCanUnloadNow()) << "the refused object still holds the module";
}

TEST_F(Factory, LockServerHoldsModuleUntilUnlocked) {
    IClassFactory* factory = GetFactory(Agent());
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    factory->Release();
    EXPECT_EQ(S_FALSE, Agent().DllCanUnloadNow());
    factory = GetFactory(Agent());
    EXPECT_EQ(S_OK, factory->LockServer(FALSE));
    factory->Release();
}

using Identity = AgentModuleTest;

TEST_F(Identity, FacesShareOneIdentityAndOneCount) {
    auto* ops = CreateAgent<InvTamselAgentOps>(IID_InvTamselAgentOps);
    ASSERT_NE(nullptr, ops);
    EXPECT_EQ(S_FALSE, Agent().DllCanUnloadNow());

    IUnknown* unknown = nullptr;
    ASSERT_EQ(S_OK, ops->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)));
    InvTamselAgent* dual = nullptr;
    ASSERT_EQ(S_OK, unknown->QueryInterface(IID_InvTamselAgent, reinterpret_cast<void**>(&dual)));
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(S_OK, ops->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)));
    InvTamselAgentOps* opsAgain = nullptr;
    ASSERT_EQ(S_OK, dispatch->QueryInterface(IID_InvTamselAgentOps, reinterpret_cast<void**>(&opsAgain)));

    EXPECT_EQ(static_cast<IUnknown*>(dual), unknown) << "the dispatch face is the identity";
    EXPECT_EQ(static_cast<IDispatch*>(dual), dispatch);
    EXPECT_EQ(ops, opsAgain);
    EXPECT_NE(static_cast<void*>(ops), static_cast<void*>(unknown));
    EXPECT_EQ(5u, CountOf(ops)) << "one count for both faces";
    EXPECT_EQ(5u, CountOf(dispatch));

    EXPECT_EQ(4u, opsAgain->Release());
    EXPECT_EQ(3u, dispatch->Release());
    EXPECT_EQ(2u, dual->Release());
    EXPECT_EQ(1u, unknown->Release());
    EXPECT_EQ(S_FALSE, Agent().DllCanUnloadNow());
    EXPECT_EQ(0u, ops->Release());
}

TEST_F(Identity, OtherInterfacesAreRefusedFromEitherFace) {
    auto* ops = CreateAgent<InvTamselAgentOps>(IID_InvTamselAgentOps);
    ASSERT_NE(nullptr, ops);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(S_OK, ops->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)));
    for (IUnknown* face : {static_cast<IUnknown*>(ops), unknown}) {
        for (const IID* iid : {&IID_IClassFactory, &IID_ProgressSink, &IID_ITypeInfo, &IID_IPersist,
                               &IID_IProvideClassInfo, &IID_IConnectionPointContainer}) {
            void* object = JUNK;
            EXPECT_EQ(E_NOINTERFACE, face->QueryInterface(*iid, &object));
            EXPECT_EQ(nullptr, object);
        }
        EXPECT_EQ(E_POINTER, face->QueryInterface(IID_IUnknown, nullptr));
    }
    EXPECT_EQ(2u, CountOf(ops)) << "a refused QueryInterface moved the count";
    unknown->Release();
    EXPECT_EQ(0u, ops->Release());
}

TEST_F(Identity, OperationsFaceReachesTheAgentInSlotOrder) {
    auto* ops = CreateAgent<InvTamselAgentOps>(IID_InvTamselAgentOps);
    ASSERT_NE(nullptr, ops);
    LONG status = 1234;
    EXPECT_EQ(E_FAIL, ops->GetLastHttpStatus(&status)) << "a new agent has no HTTP status to tell";
    EXPECT_EQ(E_FAIL, ops->GetLastServiceStatus(&status));
    EXPECT_EQ(1234, status);
    EXPECT_EQ(0u, ops->Release());
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
        if (inner != nullptr && (IsEqualIID(riid, IID_InvTamselAgentOps) || IsEqualIID(riid, IID_IDispatch))) {
            return inner->QueryInterface(riid, object);
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++addRefs, 2; }
    ULONG STDMETHODCALLTYPE Release() override { return ++releases, 1; }

    IUnknown* inner = nullptr;
    int queries = 0;
    int addRefs = 0;
    int releases = 0;
};

TEST_F(Aggregation, OuterMayAskOnlyForTheInnerUnknown) {
    FakeOuter outer;
    IClassFactory* factory = GetFactory(Agent());
    void* object = JUNK;
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, IID_InvTamselAgentOps, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, IID_IDispatch, &object));
    factory->Release();
    EXPECT_EQ(0, outer.addRefs + outer.releases + outer.queries);
}

TEST_F(Aggregation, InnerUnknownCountsItselfAndFacesDelegateToOuter) {
    FakeOuter outer;
    IClassFactory* factory = GetFactory(Agent());
    ASSERT_EQ(S_OK, factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)));
    factory->Release();
    IUnknown* inner = outer.inner;
    ASSERT_NE(nullptr, inner);
    EXPECT_NE(static_cast<IUnknown*>(&outer), inner);
    EXPECT_EQ(0, outer.addRefs) << "creation must not count on the outer object";
    EXPECT_EQ(S_FALSE, Agent().DllCanUnloadNow());

    IUnknown* innerAgain = nullptr;
    ASSERT_EQ(S_OK, inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&innerAgain)));
    EXPECT_EQ(inner, innerAgain) << "the inner unknown answers IUnknown with itself";
    EXPECT_EQ(2u, CountOf(inner));
    innerAgain->Release();

    InvTamselAgentOps* ops = nullptr;
    ASSERT_EQ(S_OK, inner->QueryInterface(IID_InvTamselAgentOps, reinterpret_cast<void**>(&ops)));
    EXPECT_EQ(1, outer.addRefs) << "a face handed out is counted on the outer object";
    EXPECT_EQ(1u, CountOf(inner)) << "and not on the inner unknown";

    IUnknown* identity = nullptr;
    ASSERT_EQ(S_OK, ops->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)));
    EXPECT_EQ(static_cast<IUnknown*>(&outer), identity) << "the faces answer with the outer identity";
    EXPECT_EQ(2u, ops->AddRef());
    EXPECT_EQ(1u, ops->Release());
    void* refused = JUNK;
    EXPECT_EQ(E_NOINTERFACE, ops->QueryInterface(IID_InvTamselAgent, &refused))
        << "what the outer object does not show, its faces do not show either";
    EXPECT_EQ(nullptr, refused);
    EXPECT_EQ(E_NOINTERFACE, inner->QueryInterface(IID_IClassFactory, &refused));
    LONG status = 0;
    EXPECT_EQ(E_FAIL, ops->GetLastHttpStatus(&status));
    EXPECT_EQ(2, outer.addRefs);
    EXPECT_EQ(1, outer.releases);
    ops->Release();

    EXPECT_EQ(0u, inner->Release());
}

using Unloading = AgentModuleTest;

TEST_F(Unloading, EveryObjectHoldsTheModuleUntilReleased) {
    auto* first = CreateAgent<InvTamselAgentOps>(IID_InvTamselAgentOps);
    auto* second = CreateAgent<IDispatch>(IID_IDispatch);
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(S_FALSE, Agent().DllCanUnloadNow());
    EXPECT_EQ(0u, first->Release());
    EXPECT_EQ(S_FALSE, Agent().DllCanUnloadNow());
    EXPECT_EQ(0u, second->Release());
}

// Each round loads a fresh copy of the module, so the threads race for its first factory, and then
// unloads it, so that module end runs after the objects are gone.
TEST(Threads, ConcurrentFirstUseBuildsOneFactoryAndUnloadsClean) {
    const std::wstring copy = CopyAgentModule(L"tamsel-module-threads", L"NorvikTamselAgentThreads.dll");
    ASSERT_FALSE(copy.empty());
    constexpr int THREADS = 8;
    for (int round = 0; round < 5; ++round) {
        HMODULE module = ::LoadLibraryW(copy.c_str());
        ASSERT_NE(nullptr, module);
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
            EXPECT_EQ(0u, finalCounts[index]) << "thread " << index;
        }
        EXPECT_EQ(S_OK, exports.DllCanUnloadNow());
        EXPECT_TRUE(::FreeLibrary(module));
        EXPECT_EQ(nullptr, ::GetModuleHandleW(L"NorvikTamselAgentThreads.dll")) << "the copy stayed loaded";
    }
}

}  // namespace
}  // namespace tamsel::module::test
