// The module-wide state: module handle, class table, lock count, the two locks and the termination list.
#pragma once

#include "base/CriticalSection.h"

#include <windows.h>
#include <unknwn.h>

#include <atomic>

namespace tamsel::module {

using InstanceCreator = HRESULT (*)(IUnknown* outer, REFIID riid, void** object);
using ClassObjectCreator = HRESULT (*)(InstanceCreator createInstance, REFIID riid, void** object);
using TermFunction = void (*)(DWORD_PTR argument);

// One creatable class. A table of them ends with an entry whose clsid is null.
struct ClassEntry {
    const CLSID* clsid;
    HRESULT (*UpdateClassRegistration)(bool doRegister);
    ClassObjectCreator createClassObject;
    InstanceCreator createInstance;
    // The cached class object: set once under the class-table lock, released at module end.
    std::atomic<IUnknown*> classObject;
};

class ComModule {
public:
    static ComModule& Instance() noexcept;

    void Start(HINSTANCE moduleHandle, ClassEntry* classTable) noexcept;
    void End() noexcept;

    HINSTANCE ModuleHandle() const noexcept { return m_moduleHandle; }
    ClassEntry* ClassTable() const noexcept { return m_classTable; }

    LONG LockModule() noexcept { return ++m_lockCount; }
    LONG UnlockModule() noexcept { return --m_lockCount; }
    // S_OK while nothing holds the module, else S_FALSE: the answer of DllCanUnloadNow.
    HRESULT CanUnloadNow() noexcept;

    // Functions run at module end, the one added last first. The node goes in under the type-information
    // lock, so that a type-information load can add its own while it holds that lock.
    HRESULT AddTermFunction(TermFunction function, DWORD_PTR argument) noexcept;
    CriticalSection& TypeInfoLock() noexcept { return m_typeInfoLock; }

    // The work of DllGetClassObject: the cached class object of a class, built on first use.
    HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** object) noexcept;

private:
    struct TermNode {
        TermFunction function;
        DWORD_PTR argument;
        TermNode* next;
    };

    ClassEntry* FindClass(REFCLSID clsid) const noexcept;
    void RunTermList() noexcept;

    HINSTANCE m_moduleHandle = nullptr;
    ClassEntry* m_classTable = nullptr;
    std::atomic<LONG> m_lockCount{0};
    CriticalSection m_typeInfoLock;
    CriticalSection m_classTableLock;
    TermNode* m_termList = nullptr;
};

// Holds the module for as long as it lives: one per live object.
class ModuleReference {
public:
    ModuleReference() noexcept { ComModule::Instance().LockModule(); }
    ~ModuleReference() { ComModule::Instance().UnlockModule(); }
    ModuleReference(const ModuleReference&) = delete;
    ModuleReference& operator=(const ModuleReference&) = delete;
};

}  // namespace tamsel::module
