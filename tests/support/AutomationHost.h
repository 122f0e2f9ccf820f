// A host of the DLL beside the test program, as a script host is one: a new agent from the class
// factory, its automation faces, counted strings that may hold a NUL, arguments as scripts pass them, and
// the thread's error record.
#pragma once

#include "base/Handle.h"
#include "include/NorvikTamselAgent.h"

#include <string>
#include <string_view>
#include <vector>

namespace tamsel::module::test {

// A new agent's first interface from the DLL's class factory (a failed expectation, and null, when there
// is none); the caller releases it.
InvTamselAgentOps* CreateAgent();
// An interface of a new agent (a failed expectation, and null, when there is none); the caller releases it.
void* CreateFace(REFIID iid);
// The automation face of a new agent (InvTamselAgent2, or a later one); the caller releases it.
template <typename Face = InvTamselAgent2>
Face* CreateAutomation() {
    return static_cast<Face*>(CreateFace(__uuidof(Face)));
}
// A counted string that may hold a NUL, as VBScript's "a" & Chr(0) & "b" is.
PlatformString Text(std::wstring_view text);
// The source and description of the thread's error record, as a script would show them.
std::wstring ErrorText();

// A VARIANT holding a BSTR of text (which may hold a NUL), or an array of them, as scripts pass them.
struct Argument {
    Argument() { ::VariantInit(&value); }
    explicit Argument(std::wstring_view text);
    // VBScript's Array(...): VARIANTs holding BSTRs, lower bound 0; or, with type VT_BSTR, BSTRs.
    static Argument Array(const std::vector<std::wstring>& texts, VARTYPE type = VT_VARIANT);
    Argument(Argument&& other) noexcept : value(other.value) { other.value.vt = VT_EMPTY; }
    Argument(const Argument&) = delete;
    Argument& operator=(const Argument&) = delete;
    ~Argument() { ::VariantClear(&value); }

    VARIANT value;
};

}  // namespace tamsel::module::test
