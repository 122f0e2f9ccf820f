// The module-wide state: start and end, the lock count, the termination list and the class-object cache.
#include "module/ComModule.h"

#include "base/Result.h"
#include "web/Completion.h"

#include <new>

namespace tamsel::module {

ComModule& ComModule::Instance() noexcept {
    // Its destructor only deletes the two locks; everything that calls into other DLLs is in End().
    static ComModule module;
    return module;
}

void ComModule::Start(HINSTANCE moduleHandle, ClassEntry* classTable) noexcept {
    m_moduleHandle = moduleHandle;
    m_classTable = classTable;
    m_lockCount = 0;
    m_termList = nullptr;
}

void ComModule::End() noexcept {
    for (ClassEntry* entry = m_classTable; entry != nullptr && entry->clsid != nullptr; ++entry) {
        if (IUnknown* classObject = entry->classObject.exchange(nullptr)) {
            classObject->Release();
        }
    }
    RunTermList();
}

void ComModule::RunTermList() noexcept {
    TermNode* node = nullptr;
    {
        CriticalSectionLock lock(m_typeInfoLock);
        node = m_termList;
        m_termList = nullptr;
    }
    while (node != nullptr) {
        TermNode* next = node->next;
        node->function(node->argument);
        delete node;
        node = next;
    }
}

HRESULT ComModule::CanUnloadNow() noexcept {
    // The platform may still call the status callback of a download's closing request.
    return m_lockCount.load() == 0 && web::CompletionsOutstanding() == 0 ? S_OK : S_FALSE;
}

HRESULT ComModule::AddTermFunction(TermFunction function, DWORD_PTR argument) noexcept {
    auto* node = new (std::nothrow) TermNode{function, argument, nullptr};
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, node);
    CriticalSectionLock lock(m_typeInfoLock);
    node->next = m_termList;
    m_termList = node;
    return S_OK;
}

ClassEntry* ComModule::FindClass(REFCLSID clsid) const noexcept {
    for (ClassEntry* entry = m_classTable; entry != nullptr && entry->clsid != nullptr; ++entry) {
        if (entry->createClassObject != nullptr && ::IsEqualCLSID(*entry->clsid, clsid)) {
            return entry;
        }
    }
    return nullptr;
}

HRESULT ComModule::GetClassObject(REFCLSID clsid, REFIID riid, void** object) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, object);
    *object = nullptr;
    ClassEntry* entry = FindClass(clsid);
    RETURN_HR_IF_NULL(CLASS_E_CLASSNOTAVAILABLE, entry);

    HRESULT hr = S_OK;
    if (entry->classObject.load() == nullptr) {
        // Tested again under the lock: two first callers must not build two factories.
        CriticalSectionLock lock(m_classTableLock);
        if (entry->classObject.load() == nullptr) {
            IUnknown* created = nullptr;
            hr = entry->createClassObject(entry->createInstance, IID_IUnknown, reinterpret_cast<void**>(&created));
            entry->classObject.store(created);
        }
    }
    if (IUnknown* classObject = entry->classObject.load()) {
        hr = classObject->QueryInterface(riid, object);
    }
    return *object == nullptr && hr == S_OK ? CLASS_E_CLASSNOTAVAILABLE : hr;
}

}  // namespace tamsel::module
