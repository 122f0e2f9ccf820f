// The object's class information: the class's type information and its default source interface.
#include "automation/ClassInformation.h"

#include "automation/DispatchTypeInfo.h"
#include "base/Result.h"
#include "include/NorvikTamselAgent.h"

namespace tamsel::automation {

HRESULT STDMETHODCALLTYPE ClassInformation::GetClassInfo(ITypeInfo** info) noexcept {
    return ClassTypeInfo().GetTypeInfo(LOCALE_NEUTRAL, info);
}

HRESULT STDMETHODCALLTYPE ClassInformation::GetGUID(DWORD kind, GUID* guid) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, guid);
    *guid = GUID_NULL;
    RETURN_HR_IF(E_INVALIDARG, kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID);
    *guid = DIID__InvTamselAgentEvents;
    return S_OK;
}

}  // namespace tamsel::automation
