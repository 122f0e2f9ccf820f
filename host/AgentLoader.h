// Getting an agent object: from the registration (by ProgID), or straight from a DLL file.
#pragma once

#include "base/Handle.h"
#include "include/NorvikTamselAgent.h"

#include <string>

namespace tamsel::host {

// A DLL loaded by the host itself; let go of last, after every object it served is released (declare
// it before the ComPointer of such an object). Freed only when the DLL says it can be (DllCanUnloadNow):
// a download's request may still be closing on the platform's threads, which call back into the DLL.
// While it says no, the DLL stays loaded until the process ends.
class Library {
public:
    Library() noexcept = default;
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // `path` in UTF-8.
    HRESULT Load(const std::string& path) noexcept;
    HMODULE get() const noexcept { return m_module; }

private:
    HMODULE m_module = nullptr;
};

// As any host does it: CLSIDFromProgID("NorvikTamselAgent.nvTamselAgent"), then CoCreateInstance.
HRESULT CreateRegisteredAgent(ComPointer<InvTamselAgentOps3>& agent) noexcept;

// Without registration: loads `path`, asks its DllGetClassObject for the class factory and creates
// the object through it. `library` keeps the DLL loaded for the object's lifetime.
HRESULT CreateAgentFromDll(const std::string& path, Library& library, ComPointer<InvTamselAgentOps3>& agent) noexcept;

}  // namespace tamsel::host
