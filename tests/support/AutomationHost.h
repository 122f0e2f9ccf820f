// A host of the DLL beside the test program, as a script host is one: a new agent from the class
// factory, its automation face, counted strings that may hold a NUL, and the thread's error record.
#pragma once

#include "base/Handle.h"
#include "include/NorvikTamselAgent.h"

#include <string>
#include <string_view>

namespace tamsel::module::test {

// A new agent's first interface from the DLL's class factory (a failed expectation, and null, when there
// is none); the caller releases it.
InvTamselAgentOps* CreateAgent();
// The automation face of a new agent; the caller releases it.
InvTamselAgent2* CreateAutomation();
// A counted string that may hold a NUL, as VBScript's "a" & Chr(0) & "b" is.
PlatformString Text(std::wstring_view text);
// The source and description of the thread's error record, as a script would show them.
std::wstring ErrorText();

}  // namespace tamsel::module::test
