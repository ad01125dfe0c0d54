#include "platform/dispatch.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

void ClearExcepInfo(EXCEPINFO* info) {
    if (!info) return;
    SysFreeString(info->bstrSource);
    SysFreeString(info->bstrDescription);
    SysFreeString(info->bstrHelpFile);
    std::memset(info, 0, sizeof *info);
}

VARIANTARG* DispParamsArgument(const DISPPARAMS* params, UINT index) {
    if (!params || params->cNamedArgs > params->cArgs) return nullptr;
    UINT positional = params->cArgs - params->cNamedArgs;
    if (index >= positional) return nullptr;
    return &params->rgvarg[params->cArgs - 1 - index];
}

VARIANTARG* DispParamsNamedArgument(const DISPPARAMS* params, DISPID name) {
    if (!params || !params->rgdispidNamedArgs) return nullptr;
    for (UINT i = 0; i < params->cNamedArgs && i < params->cArgs; ++i)
        if (params->rgdispidNamedArgs[i] == name) return &params->rgvarg[i];
    return nullptr;
}

namespace {

// Invokes with the arguments reversed into place; named ones (at most the
// property-put value) go first.
HRESULT InvokeInOrder(IDispatch* object, DISPID member, WORD flags, std::span<VARIANT> arguments,
                      VARIANT* named, VARIANT* result, EXCEPINFO* exception) {
    if (!object) return E_POINTER;
    std::vector<VARIANT> slots;
    slots.reserve(arguments.size() + 1);
    DISPID putId = DISPID_PROPERTYPUT;
    if (named) slots.push_back(*named);
    for (auto it = arguments.rbegin(); it != arguments.rend(); ++it)
        slots.push_back(*it);
    DISPPARAMS params{slots.data(), named ? &putId : nullptr, static_cast<UINT>(slots.size()),
                      named ? 1u : 0u};
    UINT argumentError = 0;
    return object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, exception,
                          &argumentError);
}

}  // namespace

HRESULT DispatchGetIdOfName(IDispatch* object, std::u16string_view name, DISPID* dispid) {
    if (!object || !dispid) return E_POINTER;
    std::u16string text(name);
    LPOLESTR names[] = {text.data()};
    return object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, dispid);
}

HRESULT DispatchCall(IDispatch* object, DISPID member, std::span<VARIANT> arguments,
                     VARIANT* result, EXCEPINFO* exception) {
    return InvokeInOrder(object, member, DISPATCH_METHOD, arguments, nullptr, result, exception);
}

HRESULT DispatchGetProperty(IDispatch* object, DISPID member, std::span<VARIANT> indices,
                            VARIANT* result, EXCEPINFO* exception) {
    return InvokeInOrder(object, member, DISPATCH_PROPERTYGET, indices, nullptr, result, exception);
}

HRESULT DispatchPutProperty(IDispatch* object, DISPID member, std::span<VARIANT> indices,
                            VARIANT* value, EXCEPINFO* exception) {
    if (!value) return E_INVALIDARG;
    return InvokeInOrder(object, member, DISPATCH_PROPERTYPUT, indices, value, nullptr, exception);
}

// ----- ConnectionPoint ---------------------------------------------------------

ConnectionPoint* ConnectionPoint::Create(REFIID eventInterface,
                                         IConnectionPointContainer* container) {
    return new ConnectionPoint(eventInterface, container);
}

ConnectionPoint::ConnectionPoint(REFIID eventInterface, IConnectionPointContainer* container)
    : eventInterface_(eventInterface), container_(container) {}

ConnectionPoint::~ConnectionPoint() {
    DisconnectAll();
}

HRESULT ConnectionPoint::GetConnectionInterface(IID* iid) {
    if (!iid) return E_POINTER;
    *iid = eventInterface_;
    return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (!container) return E_POINTER;
    *container = container_;
    if (!container_) return E_UNEXPECTED;
    container_->AddRef();
    return S_OK;
}

HRESULT ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (!sink || !cookie) return E_POINTER;
    *cookie = 0;
    IUnknown* answered = nullptr;
    if (FAILED(sink->QueryInterface(eventInterface_, reinterpret_cast<void**>(&answered))) &&
        FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&answered))))
        return CONNECT_E_CANNOTCONNECT;
    std::lock_guard lock(mutex_);
    *cookie = nextCookie_++;
    sinks_.push_back(Sink{*cookie, answered});
    return S_OK;
}

HRESULT ConnectionPoint::Unadvise(DWORD cookie) {
    IUnknown* released = nullptr;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(sinks_.begin(), sinks_.end(),
                               [cookie](const Sink& s) { return s.cookie == cookie; });
        if (it == sinks_.end()) return CONNECT_E_NOCONNECTION;
        released = it->sink;
        sinks_.erase(it);
    }
    released->Release();  // outside the lock: the sink may call back
    return S_OK;
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** connections) {
    if (connections) *connections = nullptr;
    return E_NOTIMPL;
}

HRESULT ConnectionPoint::Fire(DISPID event, std::span<VARIANT> arguments) {
    std::vector<IDispatch*> targets;
    {
        std::lock_guard lock(mutex_);
        for (const Sink& sink : sinks_) {
            sink.sink->AddRef();
            targets.push_back(static_cast<IDispatch*>(sink.sink));
        }
    }
    HRESULT first = S_OK;
    for (IDispatch* target : targets) {
        VARIANT ignored;
        VariantInit(&ignored);
        HRESULT hr =
            InvokeInOrder(target, event, DISPATCH_METHOD, arguments, nullptr, &ignored, nullptr);
        VariantClear(&ignored);
        if (FAILED(hr) && SUCCEEDED(first)) first = hr;
        target->Release();
    }
    return first;
}

size_t ConnectionPoint::SinkCount() const {
    std::lock_guard lock(mutex_);
    return sinks_.size();
}

void ConnectionPoint::DisconnectAll() {
    std::vector<Sink> dropped;
    {
        std::lock_guard lock(mutex_);
        dropped.swap(sinks_);
    }
    for (const Sink& sink : dropped)
        sink.sink->Release();
}

std::vector<IUnknown*> ConnectionPoint::SinkReferences() const {
    std::lock_guard lock(mutex_);
    std::vector<IUnknown*> sinks;
    for (const Sink& sink : sinks_) {
        sink.sink->AddRef();
        sinks.push_back(sink.sink);
    }
    return sinks;
}

namespace {

class PointEnumerator final : public ComObject<IEnumConnectionPoints> {
  public:
    PointEnumerator(std::span<IConnectionPoint* const> points, std::size_t position)
        : points_(points.begin(), points.end()), position_(position) {
        for (IConnectionPoint* point : points_)
            point->AddRef();
    }
    HRESULT Next(ULONG count, IConnectionPoint** points, ULONG* fetched) override {
        if (!points || (count > 1 && !fetched)) return E_POINTER;
        ULONG given = 0;
        for (; given < count && position_ < points_.size(); ++given, ++position_) {
            points[given] = points_[position_];
            points[given]->AddRef();
        }
        if (fetched) *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    HRESULT Skip(ULONG count) override {
        const std::size_t left = points_.size() - position_;
        position_ += std::min<std::size_t>(count, left);
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT Clone(IEnumConnectionPoints** copy) override {
        if (!copy) return E_POINTER;
        *copy = new (std::nothrow) PointEnumerator(points_, position_);
        return *copy ? S_OK : E_OUTOFMEMORY;
    }

  private:
    ~PointEnumerator() override {
        for (IConnectionPoint* point : points_)
            point->Release();
    }
    std::vector<IConnectionPoint*> points_;
    std::size_t position_;
};

}  // namespace

HRESULT CreateConnectionPointEnumerator(std::span<IConnectionPoint* const> points,
                                        IEnumConnectionPoints** enumerator) {
    if (!enumerator) return E_POINTER;
    *enumerator = new (std::nothrow) PointEnumerator(points, 0);
    return *enumerator ? S_OK : E_OUTOFMEMORY;
}
