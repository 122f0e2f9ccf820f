// The connection point of the agent's events (_InvTamselAgentEvents): the sinks that advised it and
// the Progress event fired to them.
#pragma once

#include "base/Handle.h"

#include <ocidl.h>

#include <vector>

namespace tamsel::module {

// Lives inside the agent and counts through it: a sink that holds the point holds the agent.
class ConnectionPoint final : public IConnectionPoint {
public:
    explicit ConnectionPoint(IConnectionPointContainer& container) noexcept : m_container(container) {}
    ConnectionPoint(const ConnectionPoint&) = delete;
    ConnectionPoint& operator=(const ConnectionPoint&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) noexcept override;
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

private:
    struct Connection {
        DWORD cookie;
        ComPointer<IDispatch> sink;
    };

    IConnectionPointContainer& m_container;
    std::vector<Connection> m_sinks;
    DWORD m_nextCookie = 1;
};

// An enumerator of one connection point, as EnumConnectionPoints hands it out; it holds the point.
HRESULT EnumerateOnePoint(IConnectionPoint* point, IEnumConnectionPoints** points) noexcept;

}  // namespace tamsel::module
