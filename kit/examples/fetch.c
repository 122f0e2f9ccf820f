/* An integrator's C host: one download through the lpVtbl form of InvTamselAgentOps3.
 *
 *   fetch.exe URL FILE [SHA256]
 *
 * Downloads URL into FILE with safe replacement and resume (run it again after a break, result
 * AGENT_E_BROKEN, and it goes on where it stopped), without a progress sink, and prints the result
 * code. With SHA256 (64 hex digits) FILE is replaced only by bytes of that digest. Needs the registered
 * DLL. In the kit's examples folder, MSVC: cl /I..\include fetch.c ole32.lib;
 * mingw-w64: gcc -I../include fetch.c -lole32 */
#include "NorvikTamselAgent.h"

#include <stdio.h>

int main(int argc, char** argv) {
    CLSID clsid;
    InvTamselAgentOps3* agent = NULL;
    wchar_t file[MAX_PATH];
    HRESULT hr;
    if (argc != 3 && argc != 4) {
        fputs("usage: fetch URL FILE [SHA256]\n", stderr);
        return 2;
    }
    /* The file name as the platform's wide calls take it; the URL stays 8-bit. */
    if (MultiByteToWideChar(CP_ACP, 0, argv[2], -1, file, MAX_PATH) == 0) return 2;
    hr = CoInitialize(NULL);
    if (FAILED(hr)) return 1;
    hr = CLSIDFromProgID(L"" NORVIK_TAMSEL_AGENT_PROGID, &clsid);
    if (SUCCEEDED(hr)) {
        hr = CoCreateInstance(&clsid, NULL, CLSCTX_INPROC_SERVER, &IID_InvTamselAgentOps3, (void**)&agent);
    }
    if (SUCCEEDED(hr)) {
        /* -1: no size to check; a null digest: none to check. */
        hr = agent->lpVtbl->FetchToFileVerified(agent, argv[1], file, NULL, TAMSEL_FETCH_RESUME, -1,
                                                argc == 4 ? argv[3] : NULL);
        if (hr == AGENT_E_HTTP_STATUS) {
            LONG status = 0;
            agent->lpVtbl->GetLastHttpStatus(agent, &status);
            printf("HTTP status %ld\n", (long)status);
        }
        agent->lpVtbl->Release(agent);
    }
    CoUninitialize();
    printf("result 0x%08lX\n", (unsigned long)hr);
    return SUCCEEDED(hr) ? 0 : 1;
}
