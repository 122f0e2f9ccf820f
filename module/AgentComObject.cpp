// The COM object of the class: the faces composed over one agent, the interfaces they answer, and the
// plain and aggregated forms that give them an identity and a count.
#include "module/AgentComObject.h"

#include "agent/AgentObject.h"
#include "automation/AutomationFace.h"
#include "automation/ClassInformation.h"
#include "automation/ConnectionPoint.h"
#include "automation/ErrorInfo.h"
#include "base/Result.h"
#include "faces/Ops3Face.h"
#include "module/ComModule.h"

#include <atomic>
#include <new>

namespace tamsel::module {
namespace {

// What the object holds before its faces: the module reference first, so that it goes last, after the
// agent and its session are gone, and the module is never released while this code still runs; then the
// agent, which every face refers to.
struct AgentCore {
    ModuleReference moduleReference;
    agent::AgentObject agentObject;
};

// The faces of one agent: the newest vtable generation (whose slots begin with the earlier ones'), the
// automation face with its events, error support and class information. IUnknown's members belong to
// the form that derives from it.
class AgentFaces : private AgentCore,
                   public faces::Ops3Face<>,
                   public automation::EventSource,
                   public automation::AutomationFace,
                   public automation::ErrorSupport,
                   public automation::ClassInformation {
public:
    AgentFaces() noexcept : faces::Ops3Face<>(agentObject), automation::AutomationFace(agentObject, Events()) {}

    // The identity: the dispatch face.
    IUnknown* Identity() noexcept { return static_cast<InvTamselAgent2*>(this); }
    // The interface table: the face that answers riid, or null. Takes no reference.
    void* FindFace(REFIID riid) noexcept;
};

void* AgentFaces::FindFace(REFIID riid) noexcept {
    if (::IsEqualIID(riid, IID_InvTamselAgent) || ::IsEqualIID(riid, IID_IDispatch) ||
        ::IsEqualIID(riid, IID_InvTamselAgent2)) {
        return static_cast<InvTamselAgent2*>(this);
    }
    if (::IsEqualIID(riid, IID_InvTamselAgentOps) || ::IsEqualIID(riid, IID_InvTamselAgentOps2) ||
        ::IsEqualIID(riid, IID_InvTamselAgentOps3)) {
        return static_cast<InvTamselAgentOps3*>(this);
    }
    if (::IsEqualIID(riid, IID_ISupportErrorInfo)) {
        return static_cast<ISupportErrorInfo*>(this);
    }
    if (::IsEqualIID(riid, IID_IProvideClassInfo) || ::IsEqualIID(riid, IID_IProvideClassInfo2)) {
        return static_cast<IProvideClassInfo2*>(this);
    }
    if (::IsEqualIID(riid, IID_IConnectionPointContainer)) {
        return static_cast<IConnectionPointContainer*>(this);
    }
    return nullptr;
}

// QueryInterface's answer: face, counted through its own AddRef (the form's, or the outer object's).
HRESULT AnswerFace(void* face, void** object) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, object);
    *object = face;
    RETURN_HR_IF(E_NOINTERFACE, face == nullptr);
    static_cast<IUnknown*>(face)->AddRef();
    return S_OK;
}

// A form with a count of its own. The class is registered "Apartment", but a host may still hand the
// object to another thread, and the agent promises such calls AGENT_E_BUSY: every call holds a
// reference for its length, so the count moves from several threads at once and must be interlocked.
template <typename Form, typename Face>
class Counted : public Face {
public:
    ULONG STDMETHODCALLTYPE AddRef() noexcept override {
        return m_count.fetch_add(1, std::memory_order_relaxed) + 1;
    }
    ULONG STDMETHODCALLTYPE Release() noexcept override {
        const ULONG count = m_count.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (count == 0) {
            delete static_cast<Form*>(this);
        }
        return count;
    }

private:
    std::atomic<ULONG> m_count{0};
};

// The plain form: every face answers from its own table.
class PlainAgent final : public Counted<PlainAgent, AgentFaces> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override {
        return AnswerFace(::IsEqualIID(riid, IID_IUnknown) ? Identity() : FindFace(riid), object);
    }
};

// The faces of an aggregated agent: identity and counting belong to the outer object.
class ContainedAgent final : public AgentFaces {
public:
    explicit ContainedAgent(IUnknown* outer) noexcept : m_outer(outer) {}

    // Only the outer object knows which interfaces the aggregate shows; asking the contained table
    // behind its back would hand out faces that the outer object's own QueryInterface denies.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override {
        return m_outer->QueryInterface(riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return m_outer->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() noexcept override { return m_outer->Release(); }

private:
    IUnknown* m_outer;  // not counted: the outer object owns us
};

// The inner unknown of the aggregated form, which the outer object holds.
class AggregatedAgent final : public Counted<AggregatedAgent, IUnknown> {
public:
    explicit AggregatedAgent(IUnknown* outer) noexcept : m_contained(outer) {}

    // Its own unknown counts itself; the faces count through the outer object.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override {
        return AnswerFace(::IsEqualIID(riid, IID_IUnknown) ? static_cast<IUnknown*>(this) : m_contained.FindFace(riid),
                          object);
    }

private:
    ContainedAgent m_contained;
};

template <typename Form, typename... Arguments>
HRESULT CreateForm(REFIID riid, void** object, Arguments... arguments) noexcept {
    auto* form = new (std::nothrow) Form(arguments...);
    RETURN_HR_IF_NULL(E_OUTOFMEMORY, form);
    const HRESULT hr = form->QueryInterface(riid, object);
    if (FAILED(hr)) {
        delete form;
    }
    return hr;
}

}  // namespace

HRESULT CreateAgentInstance(IUnknown* outer, REFIID riid, void** object) noexcept {
    return outer == nullptr ? CreateForm<PlainAgent>(riid, object) : CreateForm<AggregatedAgent>(riid, object, outer);
}

}  // namespace tamsel::module
