// The contract a host compiles against: the agent's interfaces, the progress sink, result codes and identifiers.
//
// Needs only the Windows SDK (or mingw-w64) headers. Every identifier is a constant in this header and
// every interface carries its uuid, so a host can use CLSID_nvTamselAgent, IID_InvTamselAgentOps or
// __uuidof(InvTamselAgentOps) from a single source file without linking anything of ours.
#ifndef NORVIK_TAMSEL_AGENT_H
#define NORVIK_TAMSEL_AGENT_H

#include <windows.h>
#include <unknwn.h>
#include <oaidl.h>

// Result codes of the agent (facility ITF, and one platform code). Beside them the agent answers S_OK,
// E_INVALIDARG and E_FAIL.
#define AGENT_E_NO_SESSION        ((HRESULT)0x80042EFFL)  // the connectivity probe did not see status 200
#define AGENT_E_BUFFER_TOO_SMALL  ((HRESULT)0x80042F00L)  // a text result does not fit with its terminating zero
#define AGENT_E_HTTP_STATUS       ((HRESULT)0x80042F01L)  // the exchange answered a status other than 200
#define AGENT_E_SERVICE_STATUS    ((HRESULT)0x80042F02L)  // the service's StatusCode was not accepted
// HRESULT_FROM_WIN32(ERROR_BUSY): a network operation was called on an object whose network operation
// is still running (from its progress sink, or from another thread); nothing was sent or changed.
#define AGENT_E_BUSY              ((HRESULT)0x800700AAL)

#define NORVIK_TAMSEL_AGENT_PROGID   "NorvikTamselAgent.nvTamselAgent"
#define NORVIK_TAMSEL_AGENT_PROGID_1 "NorvikTamselAgent.nvTamselAgent.1"

// Progress callback a host may pass to FetchToFile. NotifyCode(5913) comes right before every
// NotifyProgress; the agent sets *cancel to 0 before each NotifyProgress, and a non-zero value written
// by the sink stops the download (the bytes received so far are kept). Return values are ignored.
struct DECLSPEC_UUID("641C58E6-250F-43C3-87A5-7618ED189A58") ProgressSink : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE NotifyCode(LONG code) = 0;
    virtual HRESULT STDMETHODCALLTYPE NotifyProgress(LONG percent, LONG* cancel) = 0;
};

// The six operations. Strings are zero-terminated 8-bit text; buffers and outputs belong to the caller
// and output pointers must be valid. A text result is written only when its size with the terminating
// zero fits the stated buffer size; otherwise the buffer is left as it was.
struct DECLSPEC_UUID("C0478D57-9E5E-4587-8E58-2E0603D6FB43") InvTamselAgentOps : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE LookupRedirect(char* target, ULONG targetSize, const char* lookupUrl,
                                                     const char* serial, const char* language,
                                                     const char* type) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryDownload(char* downloadUrl, ULONG downloadUrlSize,
                                                    const char* serviceUrl, const char* code,
                                                    LONGLONG* fileSize) = 0;
    virtual HRESULT STDMETHODCALLTYPE FetchToFile(const char* url, const char* path, ProgressSink* progress) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReportDownload(const char* serviceUrl, const char* code, LONG success,
                                                     LONG* remaining) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetLastHttpStatus(LONG* status) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetLastServiceStatus(LONG* status) = 0;
};

// The dual dispatch interface of the class; it declares no members of its own.
struct DECLSPEC_UUID("A2766F83-CCDE-40C1-9612-C1D95C6D9585") InvTamselAgent : public IDispatch {};

class DECLSPEC_UUID("5AFB664D-72FD-41B8-ACA5-597D9CC21424") nvTamselAgent;
struct DECLSPEC_UUID("D86D7702-0FB0-4A4C-8906-D5C508854F2C") NORVIKTAMSELAGENTLib;

#if defined(__MINGW32__)
// mingw's __uuidof reads these traits rather than the uuid attribute.
__CRT_UUID_DECL(ProgressSink, 0x641C58E6, 0x250F, 0x43C3, 0x87, 0xA5, 0x76, 0x18, 0xED, 0x18, 0x9A, 0x58)
__CRT_UUID_DECL(InvTamselAgentOps, 0xC0478D57, 0x9E5E, 0x4587, 0x8E, 0x58, 0x2E, 0x06, 0x03, 0xD6, 0xFB, 0x43)
__CRT_UUID_DECL(InvTamselAgent, 0xA2766F83, 0xCCDE, 0x40C1, 0x96, 0x12, 0xC1, 0xD9, 0x5C, 0x6D, 0x95, 0x85)
__CRT_UUID_DECL(nvTamselAgent, 0x5AFB664D, 0x72FD, 0x41B8, 0xAC, 0xA5, 0x59, 0x7D, 0x9C, 0xC2, 0x14, 0x24)
__CRT_UUID_DECL(NORVIKTAMSELAGENTLib, 0xD86D7702, 0x0FB0, 0x4A4C, 0x89, 0x06, 0xD5, 0xC5, 0x08, 0x85, 0x4F, 0x2C)
#endif

// Named constants with internal linkage: nothing to link.
static const CLSID CLSID_nvTamselAgent =
    {0x5AFB664D, 0x72FD, 0x41B8, {0xAC, 0xA5, 0x59, 0x7D, 0x9C, 0xC2, 0x14, 0x24}};
static const IID IID_InvTamselAgentOps =
    {0xC0478D57, 0x9E5E, 0x4587, {0x8E, 0x58, 0x2E, 0x06, 0x03, 0xD6, 0xFB, 0x43}};
static const IID IID_InvTamselAgent =
    {0xA2766F83, 0xCCDE, 0x40C1, {0x96, 0x12, 0xC1, 0xD9, 0x5C, 0x6D, 0x95, 0x85}};
static const IID IID_ProgressSink =
    {0x641C58E6, 0x250F, 0x43C3, {0x87, 0xA5, 0x76, 0x18, 0xED, 0x18, 0x9A, 0x58}};
static const GUID LIBID_NORVIKTAMSELAGENTLib =
    {0xD86D7702, 0x0FB0, 0x4A4C, {0x89, 0x06, 0xD5, 0xC5, 0x08, 0x85, 0x4F, 0x2C}};

#endif
