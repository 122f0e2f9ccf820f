// The two RAII owners a COM host needs: an interface pointer, and the apartment of this thread.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

namespace tamsel::host {

// Holds one reference; Release runs when it goes out of scope.
template <typename T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() {
        if (m_pointer != nullptr) {
            m_pointer->Release();
        }
    }

    T* operator->() const noexcept { return m_pointer; }
    T* get() const noexcept { return m_pointer; }
    // For out-parameters of CoCreateInstance and friends; only on an empty pointer.
    void** put() noexcept { return reinterpret_cast<void**>(&m_pointer); }

private:
    T* m_pointer = nullptr;
};

// CoInitialize for this thread's lifetime of the object; CoUninitialize only if it succeeded.
class ComApartment {
public:
    ComApartment() noexcept : m_result(::CoInitialize(nullptr)) {}
    ~ComApartment() {
        if (SUCCEEDED(m_result)) {
            ::CoUninitialize();
        }
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    HRESULT Result() const noexcept { return m_result; }

private:
    HRESULT m_result;
};

}  // namespace tamsel::host
