// Failure handling at one line each, in the shape of the platform's result macros.
// Each macro evaluates its argument once. Inside the component nothing is thrown across a COM
// method: ComBoundary turns anything that escapes (an allocation failure) into E_OUTOFMEMORY.
#pragma once

#include <windows.h>

#include <new>

#define RETURN_IF_FAILED(expr)                 \
    do {                                       \
        const HRESULT hr_ = (expr);            \
        if (FAILED(hr_)) return hr_;           \
    } while (0)

#define RETURN_HR_IF(hr, condition)            \
    do {                                       \
        if (condition) return (hr);            \
    } while (0)

#define RETURN_HR_IF_NULL(hr, ptr) RETURN_HR_IF(hr, (ptr) == nullptr)

namespace tamsel {

// Runs `body` (returning HRESULT) so that no exception leaves: the one place that maps throws to codes.
template <typename Body>
HRESULT ComBoundary(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace tamsel
