#include "script/events.h"

#include <map>

#include "platform/text.h"
#include "platform/typelib.h"
#include "platform/unknown.h"

namespace script {

namespace {

// The event interface of an object's class and its members' names.
struct EventInterface {
    IID iid{};
    std::map<DISPID, std::u16string> names;
};

HRESULT FindEventInterface(IDispatch* object, EventInterface* events) {
    ComPtr<IProvideClassInfo> provider;
    HRESULT hr =
        object->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(provider.Receive()));
    if (FAILED(hr)) return hr;
    ComPtr<ITypeInfo> coclass;
    if (FAILED(hr = provider->GetClassInfo(coclass.Receive()))) return hr;
    TYPEATTR* attributes = nullptr;
    if (FAILED(hr = coclass->GetTypeAttr(&attributes))) return hr;
    const WORD implemented = attributes->cImplTypes;
    coclass->ReleaseTypeAttr(attributes);
    ComPtr<ITypeInfo> source;
    for (UINT i = 0; i < implemented && !source; ++i) {
        INT flags = 0;
        HREFTYPE reference = 0;
        if (SUCCEEDED(coclass->GetImplTypeFlags(i, &flags)) &&
            (flags & (IMPLTYPEFLAG_FSOURCE | IMPLTYPEFLAG_FDEFAULT)) ==
                (IMPLTYPEFLAG_FSOURCE | IMPLTYPEFLAG_FDEFAULT) &&
            SUCCEEDED(coclass->GetRefTypeOfImplType(i, &reference))) {
            coclass->GetRefTypeInfo(reference, source.Receive());
        }
    }
    if (!source) return CONNECT_E_NOCONNECTION;
    if (FAILED(hr = source->GetTypeAttr(&attributes))) return hr;
    events->iid = attributes->guid;
    const WORD functions = attributes->cFuncs;
    source->ReleaseTypeAttr(attributes);
    for (UINT i = 0; i < functions; ++i) {
        FUNCDESC* function = nullptr;
        if (FAILED(source->GetFuncDesc(i, &function))) continue;
        BSTR name = nullptr;
        UINT count = 0;
        if (SUCCEEDED(source->GetNames(function->memid, &name, 1, &count)) && count == 1)
            events->names[function->memid] = std::u16string(BstrView(name));
        SysFreeString(name);
        source->ReleaseFuncDesc(function);
    }
    return S_OK;
}

// Key at the bottom, then the arguments: calls the global function of that
// name when there is one.
duk_ret_t CallHandler(duk_context* ctx, void* udata) {
    const auto arguments = *static_cast<duk_idx_t*>(udata);
    const duk_idx_t key = duk_get_top(ctx) - arguments - 1;
    duk_push_global_object(ctx);
    duk_dup(ctx, key);
    duk_get_prop(ctx, -2);
    if (!duk_is_function(ctx, -1)) return 0;
    duk_insert(ctx, key + 1);
    duk_pop(ctx);  // the global object
    duk_call(ctx, arguments);
    return 0;
}

class ScriptSink final : public EventSink {
  public:
    ScriptSink(duk_context* ctx, std::u16string prefix, std::map<DISPID, std::u16string> names)
        : ctx_(ctx), prefix_(std::move(prefix)), names_(std::move(names)) {}

    HRESULT Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                   UINT*) override {
        Host& host = HostOf(ctx_);
        const auto name = names_.find(member);
        // After WScript.Quit or a handler's error the script hears no more events.
        if (name == names_.end() || host.quitting || host.pendingError) return S_OK;
        PushText(ctx_, prefix_ + name->second);
        duk_idx_t arguments = 0;
        for (UINT i = 0; params && i < params->cArgs; ++i) {
            const VARIANT* argument = DispParamsArgument(params, i);
            if (!argument) break;
            PushVariant(ctx_, *argument);
            ++arguments;
        }
        if (duk_safe_call(ctx_, CallHandler, &arguments, arguments + 1, 1) != DUK_EXEC_SUCCESS &&
            !host.quitting) {
            duk_push_global_stash(ctx_);
            duk_dup(ctx_, -2);
            duk_put_prop_string(ctx_, -2, kStashPending);
            duk_pop(ctx_);
            host.pendingError = true;
        }
        duk_pop(ctx_);
        return S_OK;
    }

  private:
    duk_context* ctx_;
    std::u16string prefix_;
    std::map<DISPID, std::u16string> names_;
};

}  // namespace

class Connection {
  public:
    Connection(IDispatch* object, ComPtr<IConnectionPoint> point, DWORD cookie)
        : object_(ComPtr<IDispatch>::Share(object)), point_(std::move(point)), cookie_(cookie) {}
    ~Connection() { point_->Unadvise(cookie_); }
    IDispatch* object() const { return object_.get(); }

  private:
    ComPtr<IDispatch> object_;
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_;
};

HRESULT ConnectEvents(duk_context* ctx, IDispatch* object, const std::u16string& prefix) {
    EventInterface events;
    HRESULT hr = FindEventInterface(object, &events);
    if (FAILED(hr)) return hr;
    ComPtr<IConnectionPointContainer> container;
    if (FAILED(hr = object->QueryInterface(IID_IConnectionPointContainer,
                                           reinterpret_cast<void**>(container.Receive())))) {
        return hr;
    }
    ComPtr<IConnectionPoint> point;
    if (FAILED(hr = container->FindConnectionPoint(events.iid, point.Receive()))) return hr;
    auto* sink = new ScriptSink(ctx, prefix, std::move(events.names));
    DWORD cookie = 0;
    hr = point->Advise(sink, &cookie);
    sink->Release();
    if (FAILED(hr)) return hr;
    HostOf(ctx).connections.push_back(new Connection(object, std::move(point), cookie));
    return S_OK;
}

void DisconnectEvents(duk_context* ctx, IDispatch* object) {
    auto& connections = HostOf(ctx).connections;
    for (auto it = connections.begin(); it != connections.end();) {
        if (!object || (*it)->object() == object) {
            delete *it;
            it = connections.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace script
