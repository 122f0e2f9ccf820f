// The table of result codes the host explains, one row each.
#include "host/ResultCodes.h"

#include "include/NorvikTamselAgent.h"

#include <cstdio>
#include <iterator>

namespace tamsel::host {
namespace {

const ResultInfo RESULT_TABLE[] = {
    {S_OK, "S_OK", "done", ExitSuccess},
    // FetchToFileEx answers a cancel with E_ABORT, and the host's only cancel is Ctrl+C.
    {E_ABORT, "E_ABORT", "cancelled with Ctrl+C", ExitCancelled},
    {AGENT_E_NO_SESSION, "AGENT_E_NO_SESSION",
     "cannot reach the internet (the connectivity probe did not answer 200)", 10},
    {AGENT_E_BUFFER_TOO_SMALL, "AGENT_E_BUFFER_TOO_SMALL",
     "the answer is longer than the host's buffer", 11},
    {AGENT_E_HTTP_STATUS, "AGENT_E_HTTP_STATUS", "the server answered an HTTP status other than 200", 12},
    {AGENT_E_SERVICE_STATUS, "AGENT_E_SERVICE_STATUS",
     "the download service refused the request (unknown or used-up code?)", 13},
    {E_INVALIDARG, "E_INVALIDARG",
     "an empty argument, a URL the component refuses, or a lookup that found nothing", 14},
    {E_FAIL, "E_FAIL", "the local file could not be written, or the download broke off", 15},
    {E_OUTOFMEMORY, "E_OUTOFMEMORY", "out of memory", 16},
    {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG",
     "the component is not registered: run regsvr32 NorvikTamselAgent.dll first", 17},
    {CO_E_CLASSSTRING, "CO_E_CLASSSTRING",
     "the ProgID " NORVIK_TAMSEL_AGENT_PROGID " is not registered: run regsvr32 NorvikTamselAgent.dll first",
     18},
    {E_NOINTERFACE, "E_NOINTERFACE",
     "the component does not offer InvTamselAgentOps3 (a DLL older than 1.2, or a foreign one?)",
     19},
    {CLASS_E_CLASSNOTAVAILABLE, "CLASS_E_CLASSNOTAVAILABLE", "the DLL does not serve the nvTamselAgent class",
     20},
    {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "ERROR_FILE_NOT_FOUND", "the DLL file does not exist", 21},
    {HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), "ERROR_PATH_NOT_FOUND",
     "a folder does not exist (the DLL's, or the download's)", 22},
    {HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), "ERROR_MOD_NOT_FOUND",
     "the DLL, or a DLL it needs, could not be loaded", 23},
    {HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT), "ERROR_BAD_EXE_FORMAT",
     "not a DLL for this host (a 32-bit host needs the 32-bit DLL, a 64-bit host the 64-bit one)", 24},
    {HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), "ERROR_PROC_NOT_FOUND",
     "the DLL exports no DllGetClassObject: it is not a COM server", 25},
    {HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), "ERROR_ACCESS_DENIED",
     "access denied (a read-only file, or one open elsewhere)", 26},
    {AGENT_E_BUSY, "AGENT_E_BUSY", "another operation of the same agent object is still running", 27},
    {AGENT_E_SIZE_MISMATCH, "AGENT_E_SIZE_MISMATCH",
     "the file's size is not the one expected (announced by the service, or given with --expect-size)", 28},
    {AGENT_E_CERTIFICATE, "AGENT_E_CERTIFICATE",
     "strict TLS refused the server's certificate (another host name, out of date, or an unknown authority)",
     30},
    // The verified download's own reasons.
    {AGENT_E_DIGEST_MISMATCH, "AGENT_E_DIGEST_MISMATCH",
     "the file's bytes are not the ones the service named (its SHA-256 differs); nothing was kept", 31},
    {AGENT_E_BROKEN, "AGENT_E_BROKEN", "the transfer broke off or stalled (a resume goes on from there)", 32},
    {HRESULT_FROM_WIN32(ERROR_DISK_FULL), "ERROR_DISK_FULL", "the disk is full", 33},
    {HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION), "ERROR_SHARING_VIOLATION",
     "the file is in use by another program", 34},
    {AGENT_E_INSECURE_REDIRECT, "AGENT_E_INSECURE_REDIRECT",
     "strict TLS refused a redirect from https to an unencrypted URL; nothing was fetched in clear", 35},
    {AGENT_E_PROXY_AUTH, "AGENT_E_PROXY_AUTH",
     "the proxy asks for credentials that were not given or that it refused (set the proxy's user name and "
     "password for the system)",
     36},
    {AGENT_E_RETRY_LATER, "AGENT_E_RETRY_LATER",
     "the server asked to be asked again later than the download may wait (try again after the time it named)", 37},
};

// Its code field is not read: callers print the code they have.
const ResultInfo UNKNOWN_RESULT = {S_OK, "unknown result", "a result code this host does not know", ExitUnknownResult};

}  // namespace

const ResultInfo& DescribeResult(HRESULT code) noexcept {
    for (const ResultInfo& info : RESULT_TABLE) {
        if (info.code == code) {
            return info;
        }
    }
    return UNKNOWN_RESULT;
}

std::string DescribeFailure(HRESULT code, LONG httpStatus, LONG serviceStatus) {
    const ResultInfo& info = DescribeResult(code);
    char text[64];
    std::snprintf(text, sizeof(text), " (0x%08lX): ", static_cast<unsigned long>(code));
    std::string line = info.name + std::string(text) + info.explanation;
    if (httpStatus != -1) {
        line += " (HTTP status " + std::to_string(httpStatus) + ")";
    }
    if (serviceStatus != -1) {
        line += " (service status " + std::to_string(serviceStatus) + ")";
    }
    return line;
}

const ResultInfo* ResultTableBegin() noexcept {
    return std::begin(RESULT_TABLE);
}

const ResultInfo* ResultTableEnd() noexcept {
    return std::end(RESULT_TABLE);
}

}  // namespace tamsel::host
