// The COM object of the class nvTamselAgent: its identity, counting and aggregation, and the interfaces it
// answers.
#pragma once

#include <unknwn.h>

namespace tamsel::module {

// The instance creator of the class table: the plain form without an outer object, else the
// aggregated one. Its factory has already checked object and made sure that an outer object asks for
// IUnknown.
HRESULT CreateAgentInstance(IUnknown* outer, REFIID riid, void** object) noexcept;

}  // namespace tamsel::module
