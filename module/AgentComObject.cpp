// The COM object of the class: the faces composed over one agent, the interfaces they answer, and the
// plain and aggregated forms that give them an identity and a count.
#include "module/AgentComObject.h"

#include "agent/AgentObject.h"
#include "automation/AutomationFace.h"
#include "automation/ClassInformation.h"
#include "automation/ConnectionPoint.h"
#include "automation/ErrorInfo.h"
#include "base/Implements.h"
#include "base/ModuleLife.h"
#include "faces/Ops4Face.h"

namespace tamsel::module {
namespace {

// What the object holds before its faces: the module lock first, so that it goes last, after the agent
// and its session are gone, and the module is never released while this code still runs; then the agent,
// which every face refers to.
struct AgentCore {
    ModuleLock moduleLock;
    agent::AgentObject agentObject;
};

// The faces of one agent: the newest vtable generation (whose slots begin with the earlier ones'), the
// automation face with its events, error support and class information. IUnknown's members belong to
// the form that derives from it.
class AgentFaces : private AgentCore,
                   public faces::Ops4Face<>,
                   public automation::EventSource,
                   public automation::AutomationFace,
                   public automation::ErrorSupport,
                   public automation::ClassInformation {
public:
    // What the object answers, each with the interfaces it derives from (InvTamselAgent2 with
    // InvTamselAgent and IDispatch, InvTamselAgentOps4 with the three earlier generations). The first is the
    // identity: IUnknown from any face is the dispatch face.
    using Interfaces = InterfaceList<InvTamselAgent2, InvTamselAgentOps4, ISupportErrorInfo, IProvideClassInfo2,
                                     IConnectionPointContainer>;

    AgentFaces() noexcept : faces::Ops4Face<>(agentObject), automation::AutomationFace(agentObject, Events()) {}
};

// The plain form: its own identity and count.
class PlainAgent final : public Implements<PlainAgent, AgentFaces> {};

// The faces of an aggregated agent: identity and counting belong to the outer object.
class ContainedAgent final : public AgentFaces {
public:
    explicit ContainedAgent(IUnknown* outer) noexcept : m_outer(outer) {}

    // Only the outer object knows which interfaces the aggregate shows; asking the contained list
    // behind its back would hand out faces that the outer object's own QueryInterface denies.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override {
        return m_outer->QueryInterface(riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return m_outer->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() noexcept override { return m_outer->Release(); }

private:
    IUnknown* m_outer;  // not counted: the outer object owns us
};

// The inner unknown of the aggregated form, which the outer object holds. It counts itself; the faces it
// hands out count through the outer object.
class AggregatedAgent final : public Implements<AggregatedAgent, IUnknown> {
public:
    explicit AggregatedAgent(IUnknown* outer) noexcept : m_contained(outer) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override {
        if (::IsEqualIID(riid, IID_IUnknown)) return Implements::QueryInterface(riid, object);
        return AnswerInterface(FindInterface<AgentFaces>(&m_contained, riid), object);
    }

private:
    ContainedAgent m_contained;
};

}  // namespace

HRESULT CreateAgentInstance(IUnknown* outer, REFIID riid, void** object) noexcept {
    return outer == nullptr ? CreateObject<PlainAgent>(riid, object) : CreateObject<AggregatedAgent>(riid, object, outer);
}

}  // namespace tamsel::module
