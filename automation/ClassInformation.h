// The object's class information (IProvideClassInfo2): the class's type information and the events'
// interface as its default source, which WithEvents and .NET event binding read.
#pragma once

#include <ocidl.h>

namespace tamsel::automation {

// IUnknown's members are the COM object's that composes it.
class ClassInformation : public IProvideClassInfo2 {
public:
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) noexcept override;
    HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) noexcept override;

protected:
    ClassInformation() noexcept = default;
    ~ClassInformation() = default;
};

}  // namespace tamsel::automation
