// Self-registration: the registry script through the platform registrar, and the module's type library
// (from its own resources, or from the ".tlb" file beside it).
#include "module/Registration.h"

#include "base/Handle.h"
#include "base/Result.h"
#include "module/ComModule.h"
#include "module/Registrar.h"

#include <oleauto.h>

#include <cwchar>

namespace tamsel::module {
namespace {

constexpr DWORD PATH_CAPACITY = MAX_PATH;
// The type-library path has room for ".tlb" in place of (or after) the module's extension.
constexpr DWORD TYPELIB_PATH_CAPACITY = MAX_PATH + 10;

HRESULT LastErrorResult() noexcept {
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// The module's full path as the loader reports it. Read wide, so that a folder name outside the ANSI
// code page is registered as it is. A path that does not fit is refused: a cut one names another file.
HRESULT GetModulePath(wchar_t* path) noexcept {
    const DWORD length = ::GetModuleFileNameW(ModuleHandle(), path, PATH_CAPACITY);
    RETURN_HR_IF(LastErrorResult(), length == 0);
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE), length >= PATH_CAPACITY);
    return S_OK;
}

// Where the file name starts: just after the last "\", "/" or ":".
size_t FileNameOffset(const wchar_t* path) noexcept {
    size_t offset = 0;
    for (size_t index = 0; path[index] != L'\0'; ++index) {
        if (path[index] == L'\\' || path[index] == L'/' || path[index] == L':') {
            offset = index + 1;
        }
    }
    return offset;
}

// "dir\name.dll" becomes "dir\name.tlb"; a file name without "." gets ".tlb" appended. Only the file
// name is searched: a "." in a folder name is not an extension.
void ReplaceExtension(wchar_t* path, const wchar_t* extension) noexcept {
    const size_t nameOffset = FileNameOffset(path);
    const wchar_t* dot = std::wcsrchr(path + nameOffset, L'.');
    const size_t offset = dot != nullptr ? static_cast<size_t>(dot - path) : std::wcslen(path);
    std::wcscpy(path + offset, extension);  // fits: the path is shorter than MAX_PATH
}

// The script language quotes with ', so a path holding one goes into the replacement doubled.
void DoubleQuotes(const wchar_t* path, wchar_t* doubled) noexcept {
    for (; *path != L'\0'; ++path) {
        *doubled++ = *path;
        if (*path == L'\'') {
            *doubled++ = L'\'';
        }
    }
    *doubled = L'\0';
}

// The library from the module's own "TYPELIB" resource, else from the ".tlb" file beside the module.
HRESULT LoadModuleTypeLibrary(ComPointer<ITypeLib>& library, PlatformString& path) noexcept {
    wchar_t file[TYPELIB_PATH_CAPACITY];
    RETURN_IF_FAILED(GetModulePath(file));
    if (FAILED(::LoadTypeLib(file, library.put()))) {
        ReplaceExtension(file, L".tlb");
        RETURN_IF_FAILED(::LoadTypeLib(file, library.put()));
    }
    path.reset(::SysAllocString(file));
    RETURN_HR_IF(E_OUTOFMEMORY, !path);
    return S_OK;
}

}  // namespace

HRESULT RunRegistryScript(UINT resourceId, bool doRegister) noexcept {
    ComPointer<IRegistrar> registrar;
    RETURN_IF_FAILED(
        ::CoCreateInstance(CLSID_Registrar, nullptr, CLSCTX_INPROC_SERVER, IID_IRegistrar, registrar.put_void()));

    wchar_t path[PATH_CAPACITY];
    RETURN_IF_FAILED(GetModulePath(path));
    wchar_t doubled[2 * PATH_CAPACITY + 1];
    DoubleQuotes(path, doubled);
    RETURN_IF_FAILED(registrar->AddReplacement(L"Module", doubled));
    return doRegister ? registrar->ResourceRegister(path, resourceId, L"REGISTRY")
                      : registrar->ResourceUnregister(path, resourceId, L"REGISTRY");
}

HRESULT RegisterTypeLibrary() noexcept {
    ComPointer<ITypeLib> library;
    PlatformString path;
    RETURN_IF_FAILED(LoadModuleTypeLibrary(library, path));

    // The help directory is the library's folder with its trailing separator (empty when none).
    wchar_t helpDirectory[PATH_CAPACITY];
    const size_t length = FileNameOffset(path.get());
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE), length >= PATH_CAPACITY);
    std::wmemcpy(helpDirectory, path.get(), length);
    helpDirectory[length] = L'\0';
    return ::RegisterTypeLib(library.get(), path.get(), helpDirectory);
}

HRESULT UnregisterTypeLibrary() noexcept {
    ComPointer<ITypeLib> library;
    PlatformString path;
    RETURN_IF_FAILED(LoadModuleTypeLibrary(library, path));
    TLIBATTR* attributes = nullptr;
    RETURN_IF_FAILED(library->GetLibAttr(&attributes));

    // Looked up at run time: an oleaut32 without it leaves the library registered, and that is all.
    using UnRegisterTypeLibFunction = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
    LibraryHandle oleaut32(::LoadLibraryA("oleaut32.dll"));
    if (oleaut32) {
        auto unregister = reinterpret_cast<UnRegisterTypeLibFunction>(
            reinterpret_cast<void (*)()>(::GetProcAddress(oleaut32.get(), "UnRegisterTypeLib")));
        if (unregister != nullptr) {
            unregister(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum, attributes->lcid,
                       attributes->syskind);
        }
    }
    library->ReleaseTLibAttr(attributes);
    return S_OK;
}

HRESULT RegisterServer(const ClassEntry* classes, size_t count) noexcept {
    for (size_t index = 0; index < count; ++index) {
        RETURN_IF_FAILED(RunRegistryScript(classes[index].registryScript, true));
    }
    return RegisterTypeLibrary();
}

HRESULT UnregisterServer(const ClassEntry* classes, size_t count) noexcept {
    // Everything is attempted; nothing that fails here is reported.
    for (size_t index = 0; index < count; ++index) {
        RunRegistryScript(classes[index].registryScript, false);
    }
    UnregisterTypeLibrary();
    return S_OK;
}

}  // namespace tamsel::module
