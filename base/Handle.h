// One RAII owner for every platform handle the component opens, and the aliases every layer uses.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cassert>
#include <utility>

namespace tamsel {

// Traits: `type`, `invalid()` and `close(type)`. Only the traits close handles.
template <typename Traits>
class UniqueHandle {
public:
    using type = typename Traits::type;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(type value) noexcept : m_value(value) {}
    UniqueHandle(UniqueHandle&& other) noexcept : m_value(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    type get() const noexcept { return m_value; }
    explicit operator bool() const noexcept { return m_value != Traits::invalid(); }
    // For the pointer kinds (COM interfaces): the members of what is held.
    type operator->() const noexcept { return m_value; }

    // The address an out-parameter fills, on an empty owner only: nothing held is ever overwritten.
    type* put() noexcept {
        assert(m_value == Traits::invalid());
        return &m_value;
    }
    // The same for the untyped out-parameter of QueryInterface and CoCreateInstance.
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    type release() noexcept { return std::exchange(m_value, Traits::invalid()); }
    // Closing keeps the thread's last error, so that a failure can be read after its handles are gone.
    void reset(type value = Traits::invalid()) noexcept {
        type old = std::exchange(m_value, value);
        if (old != Traits::invalid()) {
            const DWORD error = ::GetLastError();
            Traits::close(old);
            ::SetLastError(error);
        }
    }

private:
    type m_value = Traits::invalid();
};

// The traits of a handle kind that is null when invalid and closed by one platform call.
template <typename Handle, auto Close>
struct NullIsInvalid {
    using type = Handle;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { Close(h); }
};

// CreateFile reports failure with INVALID_HANDLE_VALUE, not null.
struct FileTraits {
    using type = HANDLE;
    static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(type h) noexcept { ::CloseHandle(h); }
};

// COM interface pointers are owned the same way: released by the traits only.
template <typename Interface>
struct ComTraits {
    using type = Interface*;
    static type invalid() noexcept { return nullptr; }
    static void close(type p) noexcept { p->Release(); }
};

// Declare them in opening order: destruction then closes the newest first.
// Threads, events and semaphores alike: every kernel object that is null when invalid and closed by
// CloseHandle (a file is neither, above).
using KernelHandle = UniqueHandle<NullIsInvalid<HANDLE, ::CloseHandle>>;
using FileHandle = UniqueHandle<FileTraits>;
using LibraryHandle = UniqueHandle<NullIsInvalid<HMODULE, ::FreeLibrary>>;
template <typename Interface>
using ComPointer = UniqueHandle<ComTraits<Interface>>;
using PlatformString = UniqueHandle<NullIsInvalid<BSTR, ::SysFreeString>>;  // SysAllocString
using RegistryKey = UniqueHandle<NullIsInvalid<HKEY, ::RegCloseKey>>;        // RegOpenKeyExW

// A second owner of an interface pointer that is held elsewhere: one more reference, taken here.
template <typename Interface>
ComPointer<Interface> ShareComPointer(Interface* pointer) noexcept {
    if (pointer != nullptr) pointer->AddRef();
    return ComPointer<Interface>(pointer);
}

}  // namespace tamsel
