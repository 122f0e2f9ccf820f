// The agent's events (_InvTamselAgentEvents): their connection point, with the sinks that advised it and
// the Progress event fired to them, and the object's container of that one point.
#pragma once

#include "base/Handle.h"
#include "base/Implements.h"

#include <ocidl.h>

#include <vector>

namespace tamsel::automation {

// A part of the agent rather than an object of its own: it counts through its container, the agent, so
// that a sink holding the point holds the agent.
class ConnectionPoint final : public Answers<ConnectionPoint, IConnectionPoint> {
public:
    explicit ConnectionPoint(IConnectionPointContainer& container) noexcept : m_container(container) {}
    ConnectionPoint(const ConnectionPoint&) = delete;
    ConnectionPoint& operator=(const ConnectionPoint&) = delete;

    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return m_container.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() noexcept override { return m_container.Release(); }

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) noexcept override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) noexcept override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) noexcept override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) noexcept override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) noexcept override;

    bool HasSinks() const noexcept { return !m_sinks.empty(); }
    // Fires Progress(received, total, percent, cancel) to every sink; true when one set cancel.
    bool FireProgress(double received, double total, LONG percent) noexcept;
    // Fires Retrying(attempt, waitMs, reason, sourceIndex, cancel) to every sink; true when one set cancel.
    bool FireRetrying(LONG attempt, LONG waitMs, LONG reason, LONG sourceIndex) noexcept;

private:
    // Fires the event member with arguments (last first, as IDispatch takes them) and the cancel flag in
    // front of them to every sink; true when one set cancel.
    template <size_t Count>
    bool Fire(DISPID member, const VARIANTARG (&arguments)[Count]) noexcept;

    struct Connection {
        DWORD cookie;
        ComPointer<IDispatch> sink;
    };

    IConnectionPointContainer& m_container;
    std::vector<Connection> m_sinks;
    DWORD m_nextCookie = 1;
};

// The object's IConnectionPointContainer, which holds the one point. IUnknown's members are the COM
// object's that composes it.
class EventSource : public IConnectionPointContainer {
public:
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) noexcept override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) noexcept override;

protected:
    EventSource() noexcept : m_events(*this) {}
    ~EventSource() = default;

    ConnectionPoint& Events() noexcept { return m_events; }

private:
    ConnectionPoint m_events;
};

}  // namespace tamsel::automation
