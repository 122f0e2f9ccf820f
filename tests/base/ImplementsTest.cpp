// Implements and Answers: a list of interfaces answers exactly what it lists and what those derive from,
// with one identity, and an object counts itself to its end.
#include "base/Implements.h"

#include <ocidl.h>

#include <gtest/gtest.h>

#include <vector>

namespace tamsel {

template <>
struct InterfaceBases<IPersistStreamInit> {
    using type = InterfaceList<IPersist>;
};

namespace test {
namespace {

void* const JUNK = reinterpret_cast<void*>(0x1234);

// The members of the faces the composed object is made of; none is called.
class PersistMembers : public IPersistStreamInit {
public:
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsDirty() noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Load(IStream*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Save(IStream*, BOOL) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InitNew() noexcept override { return E_NOTIMPL; }
};
class ClassInfoMembers : public IProvideClassInfo2 {
public:
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo**) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetGUID(DWORD, GUID*) noexcept override { return E_NOTIMPL; }
};
class ConnectionMembers : public IConnectionPointContainer {
public:
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID, IConnectionPoint**) noexcept override { return E_NOTIMPL; }
};

// Lists the interfaces themselves and implements their members; its identity is the first one's.
class Listed final : public Implements<Listed, IConnectionPointContainer, IPersistStreamInit> {
public:
    explicit Listed(int& alive) noexcept : m_alive(alive) { ++m_alive; }
    ~Listed() { --m_alive; }

    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID, IConnectionPoint**) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE IsDirty() noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Load(IStream*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Save(IStream*, BOOL) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER*) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InitNew() noexcept override { return E_NOTIMPL; }

private:
    int& m_alive;
};

// A class of faces, as a COM object composes them: it names what it answers, in an order of its own.
class Faces : public PersistMembers, public ClassInfoMembers, public ConnectionMembers {
public:
    using Interfaces = InterfaceList<IProvideClassInfo2, IPersistStreamInit>;
};
class Composed final : public Implements<Composed, Faces> {};

// Answers without a count of its own: its AddRef and Release report to a counter outside.
class Borrowed final : public Answers<Borrowed, IPersist> {
public:
    explicit Borrowed(int& calls) noexcept : m_calls(calls) {}
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) noexcept override { return E_NOTIMPL; }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++m_calls, 2; }
    ULONG STDMETHODCALLTYPE Release() noexcept override { return --m_calls, 1; }

private:
    int& m_calls;
};

ULONG CountOf(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

// QueryInterface for riid: the pointer it gave, after checking that it succeeded and counted once.
void* Query(IUnknown* object, REFIID riid) {
    const ULONG before = CountOf(object);
    void* answer = JUNK;
    EXPECT_EQ(object->QueryInterface(riid, &answer), S_OK);
    EXPECT_EQ(CountOf(object), before + 1) << "an answer is counted";
    if (answer != JUNK && answer != nullptr) static_cast<IUnknown*>(answer)->Release();
    return answer;
}

void ExpectRefused(IUnknown* object, const std::vector<const IID*>& iids) {
    const ULONG before = CountOf(object);
    for (const IID* iid : iids) {
        void* answer = JUNK;
        EXPECT_EQ(object->QueryInterface(*iid, &answer), E_NOINTERFACE);
        EXPECT_EQ(answer, nullptr) << "a refusal clears the output";
    }
    EXPECT_EQ(CountOf(object), before) << "a refusal moved the count";
}

TEST(Implements, AnswersEachListedInterfaceAndTheOnesItDerivesFromWithTheSamePointer) {
    int alive = 0;
    IConnectionPointContainer* container = nullptr;
    ASSERT_EQ(CreateObject<Listed>(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container), alive), S_OK);
    ASSERT_NE(container, nullptr);
    auto* persist = static_cast<IPersistStreamInit*>(static_cast<Listed*>(container));
    EXPECT_EQ(CountOf(container), 1u) << "created with the one reference it handed out";

    EXPECT_EQ(Query(container, IID_IConnectionPointContainer), static_cast<void*>(container));
    EXPECT_EQ(Query(container, IID_IPersistStreamInit), static_cast<void*>(persist));
    EXPECT_EQ(Query(container, IID_IPersist), static_cast<void*>(static_cast<IPersist*>(persist)))
        << "IPersistStreamInit's base is answered by its face";
    ExpectRefused(container, {&IID_IPersistStream, &IID_IPersistFile, &IID_IDispatch, &IID_IProvideClassInfo,
                              &IID_IClassFactory, &IID_IConnectionPoint});
    EXPECT_EQ(persist->QueryInterface(IID_IPersist, nullptr), E_POINTER);
    EXPECT_EQ(container->Release(), 0u);
    EXPECT_EQ(alive, 0) << "the last Release deletes the object";
}

TEST(Implements, IUnknownFromEveryFaceIsTheFirstListedInterface) {
    int alive = 0;
    IPersistStreamInit* persist = nullptr;
    ASSERT_EQ(CreateObject<Listed>(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist), alive), S_OK);
    ASSERT_NE(persist, nullptr);
    Listed* listed = static_cast<Listed*>(persist);
    auto* identity = static_cast<IUnknown*>(static_cast<IConnectionPointContainer*>(listed));
    EXPECT_NE(static_cast<void*>(identity), static_cast<void*>(persist)) << "the faces are apart";
    for (IUnknown* face : {identity, static_cast<IUnknown*>(persist)}) {
        EXPECT_EQ(Query(face, IID_IUnknown), static_cast<void*>(identity));
    }
    EXPECT_EQ(persist->Release(), 0u);
    EXPECT_EQ(alive, 0);
}

TEST(Implements, ClassOfFacesAnswersInTheOrderItNames) {
    IPersistStreamInit* persist = nullptr;
    ASSERT_EQ(CreateObject<Composed>(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist)), S_OK);
    ASSERT_NE(persist, nullptr);
    auto* classInfo = static_cast<IProvideClassInfo2*>(static_cast<Composed*>(persist));
    EXPECT_EQ(Query(persist, IID_IUnknown), static_cast<void*>(static_cast<IUnknown*>(classInfo)))
        << "the identity is the first interface the faces name, not their first base";
    EXPECT_EQ(Query(persist, IID_IProvideClassInfo), static_cast<void*>(classInfo));
    EXPECT_EQ(Query(classInfo, IID_IPersistStreamInit), static_cast<void*>(persist));
    ExpectRefused(persist, {&IID_IConnectionPointContainer, &IID_IPersistStream});
    EXPECT_EQ(classInfo->Release(), 0u);
}

TEST(Implements, FailedCreationLeavesNothing) {
    int alive = 0;
    void* object = JUNK;
    EXPECT_EQ(CreateObject<Listed>(IID_IDispatch, &object, alive), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(alive, 0) << "the refused object was not deleted";
    EXPECT_EQ(CreateObject<Listed>(IID_IPersist, nullptr, alive), E_POINTER);
    EXPECT_EQ(alive, 0);
}

TEST(Answers, CountsThroughTheObjectsOwnAddRef) {
    int calls = 0;
    Borrowed borrowed(calls);
    void* answer = nullptr;
    ASSERT_EQ(borrowed.QueryInterface(IID_IPersist, &answer), S_OK);
    EXPECT_EQ(answer, static_cast<void*>(static_cast<IPersist*>(&borrowed)));
    EXPECT_EQ(calls, 1) << "the answer went through the object's AddRef";
    ASSERT_EQ(borrowed.QueryInterface(IID_IUnknown, &answer), S_OK);
    EXPECT_EQ(answer, static_cast<void*>(static_cast<IUnknown*>(&borrowed)));
    answer = JUNK;
    EXPECT_EQ(borrowed.QueryInterface(IID_IProvideClassInfo2, &answer), E_NOINTERFACE);
    EXPECT_EQ(answer, nullptr);
    EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace test
}  // namespace tamsel
