/* A host written in C against the header's C form: it loads the DLL beside it, creates the agent through
 * its class factory, walks the lpVtbl slots of InvTamselAgentOps3 and InvTamselAgentOps4 (and the
 * structures of its policy and info) with calls that need no network, and
 * exits 0 when every slot answered as the header promises. */
#include "include/NorvikTamselAgent.h"

#include <stdio.h>

typedef HRESULT(STDAPICALLTYPE* GetClassObjectFunction)(REFCLSID, REFIID, void**);

static int Fail(const char* what, HRESULT hr) {
    printf("c_host: %s (0x%08lX)\n", what, (unsigned long)hr);
    return 1;
}

static int UseAgent(InvTamselAgentOps3* agent) {
    LONG status = 42;
    HRESULT hr = agent->lpVtbl->GetLastHttpStatus(agent, &status);
    if (hr != E_FAIL || status != 42) return Fail("GetLastHttpStatus of a new agent", hr);
    hr = agent->lpVtbl->GetLastServiceStatus(agent, &status);
    if (hr != E_FAIL || status != 42) return Fail("GetLastServiceStatus of a new agent", hr);
    /* Refused before anything is sent: an unknown flag, and an expected size below -1. */
    hr = agent->lpVtbl->FetchToFileEx(agent, "http://files.norvik.example/f.bin", L"f.bin", NULL, 0x8, -1);
    if (hr != E_INVALIDARG) return Fail("FetchToFileEx with an unknown flag", hr);
    hr = agent->lpVtbl->FetchToFileEx(agent, "http://files.norvik.example/f.bin", L"f.bin", NULL,
                                      TAMSEL_FETCH_REPLACE_SAFELY, -2);
    if (hr != E_INVALIDARG) return Fail("FetchToFileEx with an expected size of -2", hr);
    hr = agent->lpVtbl->FetchToFileVerified(agent, "http://files.norvik.example/f.bin", L"f.bin", NULL, 0, -1, "abc");
    if (hr != E_INVALIDARG) return Fail("FetchToFileVerified with a digest of three digits", hr);
    {
        void* sink = NULL;
        hr = agent->lpVtbl->QueryInterface(agent, &IID_ProgressSink2, &sink);
        if (hr != E_NOINTERFACE || sink != NULL) return Fail("the agent is no progress sink", hr);
    }
    return 0;
}

static int UseFourth(InvTamselAgentOps4* agent) {
    TAMSEL_DOWNLOAD_POLICY policy = {sizeof(TAMSEL_DOWNLOAD_POLICY), 33, 0, 0, 0, 0, 0};
    TAMSEL_DOWNLOAD_INFO info = {sizeof(TAMSEL_DOWNLOAD_INFO) + 8, 0, 0, 0, 0, 0, S_OK, 0, 0, 0};
    LONG remaining = 42;
    /* Refused before anything is sent: no source, 33 attempts, an info of a size it does not know. */
    HRESULT hr = agent->lpVtbl->FetchToFileResilient(agent, "\0", L"f.bin", NULL, 0, -1, NULL, NULL, NULL);
    if (hr != E_INVALIDARG) return Fail("FetchToFileResilient without a source", hr);
    hr = agent->lpVtbl->FetchToFileResilient(agent, "http://files.norvik.example/f.bin\0", L"f.bin", NULL, 0, -1,
                                             NULL, &policy, NULL);
    if (hr != E_INVALIDARG) return Fail("FetchToFileResilient with 33 attempts", hr);
    hr = agent->lpVtbl->ReportDownloadEx(agent, "http://svc.norvik.example/", "C", 1, &info, &remaining);
    if (hr != E_INVALIDARG || remaining != 42) return Fail("ReportDownloadEx with an info of another size", hr);
    hr = agent->lpVtbl->SetProxyCredentials(agent, L"user:name", L"secret");
    if (hr != E_INVALIDARG) return Fail("SetProxyCredentials with a colon in the user", hr);
    hr = agent->lpVtbl->SetProxyCredentials(agent, NULL, NULL);
    if (hr != S_OK) return Fail("SetProxyCredentials clearing", hr);
    return 0;
}

int main(void) {
    HMODULE module = LoadLibraryW(L"NorvikTamselAgent.dll");
    GetClassObjectFunction getClassObject;
    IClassFactory* factory = NULL;
    InvTamselAgentOps* ops = NULL;
    InvTamselAgentOps3* ops3 = NULL;
    InvTamselAgentOps4* ops4 = NULL;
    HRESULT hr;
    int result;
    if (module == NULL) return Fail("LoadLibrary", HRESULT_FROM_WIN32(GetLastError()));
    getClassObject = (GetClassObjectFunction)(void*)GetProcAddress(module, "DllGetClassObject");
    if (getClassObject == NULL) return Fail("DllGetClassObject", E_FAIL);
    hr = getClassObject(&CLSID_nvTamselAgent, &IID_IClassFactory, (void**)&factory);
    if (FAILED(hr)) return Fail("DllGetClassObject", hr);
    hr = factory->lpVtbl->CreateInstance(factory, NULL, &IID_InvTamselAgentOps, (void**)&ops);
    factory->lpVtbl->Release(factory);
    if (FAILED(hr)) return Fail("CreateInstance", hr);
    hr = ops->lpVtbl->QueryInterface(ops, &IID_InvTamselAgentOps3, (void**)&ops3);
    if (FAILED(hr)) return Fail("QueryInterface for InvTamselAgentOps3", hr);
    result = UseAgent(ops3);
    ops3->lpVtbl->Release(ops3);
    hr = ops->lpVtbl->QueryInterface(ops, &IID_InvTamselAgentOps4, (void**)&ops4);
    if (FAILED(hr)) return Fail("QueryInterface for InvTamselAgentOps4", hr);
    if (result == 0) result = UseFourth(ops4);
    ops4->lpVtbl->Release(ops4);
    if (ops->lpVtbl->Release(ops) != 0) return Fail("Release left references", E_FAIL);
    if (result == 0) printf("c_host: every slot of InvTamselAgentOps3 and InvTamselAgentOps4 answered\n");
    return result;
}
