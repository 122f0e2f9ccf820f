// One QueryInterface built from a list of interfaces, and one way for an object to count itself; as all of
// base/, every folder may use it.
#pragma once

#include "base/Result.h"

#include <ocidl.h>
#include <unknwn.h>

#include <atomic>
#include <new>
#include <type_traits>
#include <utility>

namespace tamsel {

template <typename... Entries>
struct InterfaceList {};

// The interfaces an interface derives from, IUnknown aside: an object that answers it answers theirs too,
// with the same pointer. One base a step (InvTamselAgentOps3 names InvTamselAgentOps2, which names
// InvTamselAgentOps); the platform's here, the component's beside the face that implements them.
template <typename Interface>
struct InterfaceBases {
    using type = InterfaceList<>;
};
template <>
struct InterfaceBases<IProvideClassInfo2> {
    using type = InterfaceList<IProvideClassInfo>;
};

// An entry of a list is an interface (answered under its __uuidof, which mingw reads from the
// __CRT_UUID_DECL traits of the platform's headers and ours) or a class of faces that implements several
// for one object and names them as its member Interfaces.
namespace implements {

template <typename Entry, typename = void>
struct IsFaces : std::false_type {};
template <typename Entry>
struct IsFaces<Entry, std::void_t<typename Entry::Interfaces>> : std::true_type {};

template <typename Entry, typename Object>
void* Find(Object* object, REFIID riid) noexcept;

template <typename Object, typename... Entries>
void* FindAmong([[maybe_unused]] Object* object, [[maybe_unused]] REFIID riid, InterfaceList<Entries...>) noexcept {
    void* found = nullptr;
    static_cast<void>((((found = Find<Entries>(object, riid)) != nullptr) || ...));
    return found;
}

template <typename Entry, typename Object>
void* Find(Object* object, REFIID riid) noexcept {
    Entry* entry = static_cast<Entry*>(object);
    if constexpr (IsFaces<Entry>::value) {
        return FindAmong(entry, riid, typename Entry::Interfaces{});
    } else {
        if (::IsEqualIID(riid, __uuidof(Entry))) return entry;
        return FindAmong(entry, riid, typename InterfaceBases<Entry>::type{});
    }
}

template <typename Entry, typename... Others, typename Object>
IUnknown* First(Object* object, InterfaceList<Entry, Others...>) noexcept {
    Entry* entry = static_cast<Entry*>(object);
    if constexpr (IsFaces<Entry>::value) {
        return First(entry, typename Entry::Interfaces{});
    } else {
        return entry;
    }
}

}  // namespace implements

// The face of object that answers riid among the entries and the interfaces they derive from, or null.
// IUnknown is not looked for: see Identity. Takes no reference.
template <typename... Entries, typename Object>
void* FindInterface(Object* object, REFIID riid) noexcept {
    return implements::FindAmong(object, riid, InterfaceList<Entries...>{});
}

// The object's IUnknown: the first entry's interface, whichever face IUnknown is asked of.
template <typename... Entries, typename Object>
IUnknown* Identity(Object* object) noexcept {
    return implements::First(object, InterfaceList<Entries...>{});
}

// QueryInterface's answer: the face found, counted through its own AddRef (which may be another object's),
// or E_NOINTERFACE with the output cleared.
inline HRESULT AnswerInterface(void* face, void** object) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, object);
    *object = face;
    RETURN_HR_IF(E_NOINTERFACE, face == nullptr);
    static_cast<IUnknown*>(face)->AddRef();
    return S_OK;
}

// The QueryInterface of an object that derives from its entries. AddRef and Release are Derived's: for an
// object that counts through another one, or not at all.
template <typename Derived, typename... Entries>
class Answers : public Entries... {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override {
        auto* derived = static_cast<Derived*>(this);
        return AnswerInterface(::IsEqualIID(riid, IID_IUnknown) ? Identity<Entries...>(derived)
                                                               : FindInterface<Entries...>(derived, riid),
                               object);
    }

protected:
    Answers() noexcept = default;
    ~Answers() = default;
};

// An object that answers its entries and counts itself, deleted when its count returns to 0. Interlocked:
// a host may hand an apartment object to other threads all the same, and every call into the agent holds
// a reference for its length.
template <typename Derived, typename... Entries>
class Implements : public Answers<Derived, Entries...> {
public:
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return m_count.fetch_add(1, std::memory_order_relaxed) + 1; }
    ULONG STDMETHODCALLTYPE Release() noexcept override {
        const ULONG count = m_count.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (count == 0) delete static_cast<Derived*>(this);
        return count;
    }

protected:
    Implements() noexcept = default;
    ~Implements() = default;

private:
    std::atomic<ULONG> m_count{0};
};

// A new Derived(arguments...) asked for riid: its count goes from 0 to 1, or it is gone again with the
// failure of its QueryInterface.
template <typename Derived, typename... Arguments>
HRESULT CreateObject(REFIID riid, void** object, Arguments&&... arguments) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, object);
    *object = nullptr;
    auto* created = new (std::nothrow) Derived(std::forward<Arguments>(arguments)...);
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, created);
    const HRESULT hr = created->QueryInterface(riid, object);
    if (FAILED(hr)) delete created;
    return hr;
}

}  // namespace tamsel
