// The COM apartment of the host's thread, entered and left with the object that holds it.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace tamsel::host {

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
