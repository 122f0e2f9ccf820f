// The events' connection point (advising, unadvising, the Progress event) and its container.
#include "automation/ConnectionPoint.h"

#include "base/Result.h"
#include "include/NorvikTamselAgent.h"
#include "automation/DispatchTypeInfo.h"

#include <olectl.h>

#include <algorithm>

namespace tamsel::automation {
namespace {

// Counted by itself: a host may keep it after it let go of the container.
class OnePointEnumerator final : public Implements<OnePointEnumerator, IEnumConnectionPoints> {
public:
    OnePointEnumerator(IConnectionPoint* point, ULONG position) noexcept
        : m_point(ShareComPointer(point)), m_position(position) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG wanted, IConnectionPoint** points, ULONG* fetched) noexcept override {
        RETURN_HR_IF_NULL(E_POINTER, points);
        ULONG given = 0;
        if (wanted > 0 && m_position == 0) {
            points[0] = m_point.get();
            points[0]->AddRef();
            given = 1;
            m_position = 1;
        }
        if (fetched != nullptr) *fetched = given;
        return given == wanted ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) noexcept override {
        const ULONG skipped = count > 0 && m_position == 0 ? 1 : 0;
        m_position += skipped;
        return skipped == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() noexcept override {
        m_position = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints** copy) noexcept override {
        return CreateObject<OnePointEnumerator>(IID_IEnumConnectionPoints, reinterpret_cast<void**>(copy),
                                                m_point.get(), m_position);
    }

private:
    ComPointer<IConnectionPoint> m_point;
    ULONG m_position;
};

}  // namespace

HRESULT STDMETHODCALLTYPE EventSource::EnumConnectionPoints(IEnumConnectionPoints** points) noexcept {
    return CreateObject<OnePointEnumerator>(IID_IEnumConnectionPoints, reinterpret_cast<void**>(points), &m_events, 0);
}

HRESULT STDMETHODCALLTYPE EventSource::FindConnectionPoint(REFIID riid, IConnectionPoint** point) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, point);
    *point = nullptr;
    RETURN_HR_IF(CONNECT_E_NOCONNECTION, !::IsEqualIID(riid, DIID__InvTamselAgentEvents));
    *point = &m_events;
    m_events.AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::GetConnectionInterface(IID* iid) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, iid);
    *iid = DIID__InvTamselAgentEvents;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::GetConnectionPointContainer(
    IConnectionPointContainer** container) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, container);
    *container = &m_container;
    m_container.AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, cookie);
    *cookie = 0;
    RETURN_HR_IF_NULL(E_POINTER, sink);
    // Script engines' sinks answer only IDispatch, under the event interface's name or their own.
    ComPointer<IDispatch> held;
    if (FAILED(sink->QueryInterface(DIID__InvTamselAgentEvents, held.put_void())) &&
        FAILED(sink->QueryInterface(IID_IDispatch, held.put_void()))) {
        return CONNECT_E_CANNOTCONNECT;
    }
    return ComBoundary([&] {
        m_sinks.push_back(Connection{m_nextCookie, std::move(held)});
        *cookie = m_nextCookie++;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::Unadvise(DWORD cookie) noexcept {
    for (auto it = m_sinks.begin(); it != m_sinks.end(); ++it) {
        if (it->cookie == cookie) {
            // Released after it left the list: its Release may call back into this point.
            ComPointer<IDispatch> sink = std::move(it->sink);
            m_sinks.erase(it);
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

HRESULT STDMETHODCALLTYPE ConnectionPoint::EnumConnections(IEnumConnections** connections) noexcept {
    RETURN_HR_IF_NULL(E_POINTER, connections);
    *connections = nullptr;
    return E_NOTIMPL;
}

template <size_t Count>
bool ConnectionPoint::Fire(DISPID member, const VARIANTARG (&arguments)[Count]) noexcept {
    bool cancel = false;
    // By cookie, not by position: a sink may advise or unadvise from inside its handler.
    for (DWORD cookie = 0;;) {
        IDispatch* sink = nullptr;
        for (const Connection& connection : m_sinks) {
            if (connection.cookie > cookie) {
                sink = connection.sink.get();
                cookie = connection.cookie;
                break;
            }
        }
        if (sink == nullptr) return cancel;
        const ComPointer<IDispatch> held = ShareComPointer(sink);  // the handler may unadvise it
        VARIANT_BOOL stop = VARIANT_FALSE;
        VARIANTARG passed[Count + 1];
        passed[0] = BoolReference(&stop);
        std::copy(arguments, arguments + Count, passed + 1);
        DISPPARAMS parameters = {passed, nullptr, Count + 1, 0};
        // A sink's failure is its own: the download goes on unless it asked to stop.
        sink->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, nullptr, nullptr, nullptr);
        cancel = cancel || stop != VARIANT_FALSE;
    }
}

bool ConnectionPoint::FireProgress(double received, double total, LONG percent) noexcept {
    const VARIANTARG arguments[] = {LongArgument(percent), DoubleArgument(total), DoubleArgument(received)};
    return Fire(DISPID_TAMSEL_EVENT_PROGRESS, arguments);
}

bool ConnectionPoint::FireRetrying(LONG attempt, LONG waitMs, LONG reason, LONG sourceIndex) noexcept {
    const VARIANTARG arguments[] = {LongArgument(sourceIndex), LongArgument(reason), LongArgument(waitMs),
                                    LongArgument(attempt)};
    return Fire(DISPID_TAMSEL_EVENT_RETRYING, arguments);
}

}  // namespace tamsel::automation
