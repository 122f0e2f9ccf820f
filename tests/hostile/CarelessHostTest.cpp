// Careless hosts through the DLL's exports: a progress sink that calls the agent again and lets go of
// it while its download is still running.
#include "hostile/HostileSupport.h"
#include "support/AgentModule.h"

namespace tamsel::hostile {
namespace {

using module::test::Agent;
using testbed::Route;


// At its first report: every network operation of the same agent again, both getters, then the
// host's last reference released.
class MeddlingSink final : public ProgressSink {
public:
    explicit MeddlingSink(InvTamselAgentOps* agent) : m_agent(agent) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE NotifyCode(LONG) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE NotifyProgress(LONG percent, LONG*) override {
        percents.push_back(percent);
        if (m_agent == nullptr) return S_OK;
        char text[256] = "untouched";
        LONGLONG size = 99;
        LONG value = 99;
        nested.push_back(m_agent->LookupRedirect(text, sizeof(text), SERVICE_URL, "S", "en", "t"));
        nested.push_back(m_agent->QueryDownload(text, sizeof(text), SERVICE_URL, "CODE", &size));
        nested.push_back(m_agent->FetchToFile(FILE_URL, "elsewhere.bin", nullptr));
        nested.push_back(m_agent->ReportDownload(SERVICE_URL, "CODE", 1, &value));
        getters.push_back(m_agent->GetLastHttpStatus(&value));
        getters.push_back(m_agent->GetLastServiceStatus(&value));
        untouched = std::string(text) == "untouched" && size == 99 && value == 99;
        releasedTo = m_agent->Release();
        m_agent = nullptr;
        return S_OK;
    }

    std::vector<LONG> percents;
    std::vector<HRESULT> nested;
    std::vector<HRESULT> getters;
    bool untouched = false;
    ULONG releasedTo = 99;

private:
    InvTamselAgentOps* m_agent;
};

class CarelessHost : public HostileTest {
protected:
    void SetUp() override {
        HostileTest::SetUp();
        ASSERT_NE(Agent().DllGetClassObject, nullptr) << "NorvikTamselAgent.dll is not beside the test";
    }

    InvTamselAgentOps* Create() {
        void* factory = nullptr;
        EXPECT_EQ(Agent().DllGetClassObject(CLSID_nvTamselAgent, IID_IClassFactory, &factory), S_OK);
        if (factory == nullptr) return nullptr;
        void* ops = nullptr;
        EXPECT_EQ(static_cast<IClassFactory*>(factory)->CreateInstance(nullptr, IID_InvTamselAgentOps, &ops), S_OK);
        static_cast<IClassFactory*>(factory)->Release();
        return static_cast<InvTamselAgentOps*>(ops);
    }
};

TEST_F(CarelessHost, SinkThatCallsAgainAndReleasesTheLastReferenceLeavesTheDownloadWhole) {
    // A service that would answer 500: a nested call that got through would leave its status behind.
    AddDownload(Route(FILE_PATH, FILES_HOST).Generated(1000000), FILE_PATH);
    ASSERT_TRUE(loopback.Add(Route("/svc", SERVICE_HOST).Status(500)));
    InvTamselAgentOps* agent = Create();
    ASSERT_NE(agent, nullptr);
    MeddlingSink sink(agent);

    // The host's pointer is dead as far as the host goes once the sink has released it; the call
    // itself must still run to its end in a live object.
    EXPECT_EQ(agent->FetchToFile(FILE_URL, target.c_str(), &sink), S_OK);
    EXPECT_EQ(sink.nested, std::vector<HRESULT>(4, AGENT_E_BUSY));
    EXPECT_EQ(sink.getters, std::vector<HRESULT>(2, E_FAIL)) << "the getters answer during a download";
    EXPECT_TRUE(sink.untouched) << "a refused call writes no output";
    EXPECT_EQ(sink.releasedTo, 1u) << "the running call holds the object";
    ASSERT_FALSE(sink.percents.empty());
    EXPECT_EQ(sink.percents.back(), 100);
    EXPECT_TRUE(HoldsPattern(Contents(target), 1000000));
    EXPECT_EQ(loopback.Requests().size(), 3u) << "probe, look and download: the nested calls sent nothing";
    EXPECT_EQ(Agent().DllCanUnloadNow(), S_OK) << "the object went when the call returned";
}

}  // namespace
}  // namespace tamsel::hostile
