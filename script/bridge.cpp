#include "script/bridge.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/automation.h"
#include "platform/com.h"
#include "platform/hresult_text.h"
#include "platform/system.h"
#include "platform/text.h"
#include "platform/typelib.h"
#include "resources/errors.h"
#include "script/create_object.h"

namespace script {

namespace {

constexpr const char* kDispatchKey = DUK_HIDDEN_SYMBOL("dispatch");
constexpr const char* kNameKey = DUK_HIDDEN_SYMBOL("name");
constexpr const char* kOutsKey = DUK_HIDDEN_SYMBOL("outs");
constexpr const char* kFlagsKey = DUK_HIDDEN_SYMBOL("flags");
constexpr const char* kBytesKey = DUK_HIDDEN_SYMBOL("bytes");
constexpr const char* kItemsKey = DUK_HIDDEN_SYMBOL("items");
constexpr const char* kNamesKey = DUK_HIDDEN_SYMBOL("names");  // lower case -> member name

constexpr double kMillisecondsPerDay = 86400000.0;
constexpr HRESULT kAutomationErrors = MakeHResult(0x800A0000);

// ---- Text --------------------------------------------------------------------------

void AppendUnit(std::string& out, char16_t unit) {
    if (unit < 0x80) {
        out.push_back(static_cast<char>(unit));
    } else if (unit < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (unit >> 6)));
        out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (unit >> 12)));
        out.push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
    }
}

// ---- Engine helpers that may run script code, behind protected calls ------------------

// Reads property `key` of the value below the top into the top; 1 result.
duk_ret_t GetPropertyCall(duk_context* ctx, void* key) {
    duk_get_prop_string(ctx, -1, static_cast<const char*>(key));
    return 1;
}

// Pushes obj[key] of the object at index, or undefined when reading it threw.
void SafeGetProperty(duk_context* ctx, duk_idx_t index, const char* key) {
    duk_dup(ctx, index);
    if (duk_safe_call(ctx, GetPropertyCall, const_cast<char*>(key), 1, 1) != DUK_EXEC_SUCCESS) {
        duk_pop(ctx);
        duk_push_undefined(ctx);
    }
}

// Object at -2, value at -1: obj.value = value; no result.
duk_ret_t PutValueCall(duk_context* ctx, void*) {
    duk_put_prop_string(ctx, -2, "value");
    return 0;
}

// Value at -1: its time value when it is a Date, else nothing.
duk_ret_t DateValueCall(duk_context* ctx, void*) {
    const duk_idx_t value = duk_get_top_index(ctx);
    duk_get_global_string(ctx, "Date");
    if (!duk_is_function(ctx, -1) || !duk_instanceof(ctx, value, -1)) return 0;
    duk_get_prop_string(ctx, value, "getTime");
    duk_dup(ctx, value);
    duk_call_method(ctx, 0);
    return 1;
}

// The time value of a Date at index.
bool DateValue(duk_context* ctx, duk_idx_t index, double* milliseconds) {
    duk_dup(ctx, index);
    bool isDate = false;
    if (duk_safe_call(ctx, DateValueCall, nullptr, 1, 1) == DUK_EXEC_SUCCESS &&
        duk_is_number(ctx, -1)) {
        *milliseconds = duk_get_number(ctx, -1);
        isDate = true;
    }
    duk_pop(ctx);
    return isDate;
}

bool HasHidden(duk_context* ctx, duk_idx_t index, const char* key) {
    return duk_is_object(ctx, index) && duk_has_prop_string(ctx, index, key);
}

// Defines an own data property (no setter of a prototype runs) of the object
// at index with the value on top, which is taken.
void DefineValue(duk_context* ctx, duk_idx_t object, const char* key) {
    object = duk_normalize_index(ctx, object);
    duk_push_string(ctx, key);
    duk_insert(ctx, -2);
    duk_def_prop(ctx, object,
                 DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_WRITABLE | DUK_DEFPROP_SET_CONFIGURABLE);
}

}  // namespace

// Gives the error at index the place in the script that made the failing call:
// the nearest caller that is script code and not the host's own bootstrap.
void BlameScript(duk_context* ctx, duk_idx_t error) {
    error = duk_normalize_index(ctx, error);
    for (duk_int_t level = -2; level >= -32; --level) {
        duk_inspect_callstack_entry(ctx, level);
        if (!duk_is_object(ctx, -1)) {
            duk_pop(ctx);
            return;
        }
        duk_get_prop_string(ctx, -1, "lineNumber");
        const duk_int_t line = duk_get_int(ctx, -1);
        duk_get_prop_string(ctx, -2, "function");
        duk_get_prop_string(ctx, -1, "fileName");
        const char* file = duk_get_string(ctx, -1);
        if (line > 0 && file && std::strcmp(file, kHostFileName) != 0) {
            DefineValue(ctx, error, "fileName");
            duk_pop(ctx);
            duk_push_int(ctx, line);
            DefineValue(ctx, error, "lineNumber");
            duk_pop_2(ctx);
            return;
        }
        duk_pop_n(ctx, 4);
    }
}

namespace {

// ---- Dates ----------------------------------------------------------------------------

// An automation date is local time without a zone, as JScript reads it.
double MillisecondsOfDate(DATE date) {
    SYSTEMTIME fields{};
    std::int64_t seconds = 0;
    if (!VariantTimeToSystemTime(date, &fields) || !CalendarToUnixTime(fields, true, &seconds))
        return std::numeric_limits<double>::quiet_NaN();
    return static_cast<double>(seconds) * 1000.0;
}

bool DateOfMilliseconds(double milliseconds, DATE* date) {
    if (!std::isfinite(milliseconds)) return false;
    const double whole = std::floor(milliseconds / 1000.0);
    SYSTEMTIME fields{};
    if (!UnixTimeToCalendar(static_cast<std::int64_t>(whole), true, &fields) ||
        !SystemTimeToVariantTime(&fields, date)) {
        return false;
    }
    const double rest = milliseconds - whole * 1000.0;
    *date += (*date < 0 ? -rest : rest) / kMillisecondsPerDay;
    return true;
}

void PushDate(duk_context* ctx, DATE date) {
    duk_get_global_string(ctx, "Date");
    duk_push_number(ctx, MillisecondsOfDate(date));
    duk_new(ctx, 1);
}

// ---- Arrays ---------------------------------------------------------------------------

// The array wrapper scripts see for a SAFEARRAY (VBArray's shape): a byte
// array keeps its bytes as a buffer, others their elements as a script array.
void PushArrayWrapper(duk_context* ctx, SAFEARRAY* array, VARTYPE elementType) {
    duk_push_object(ctx);
    const duk_idx_t wrapper = duk_get_top_index(ctx);
    duk_push_global_stash(ctx);
    duk_get_prop_string(ctx, -1, kStashArrayPrototype);
    if (duk_is_object(ctx, -1)) {
        duk_set_prototype(ctx, wrapper);
    } else {
        duk_pop(ctx);
    }
    duk_pop(ctx);
    ULONG count = 1;
    for (USHORT d = 0; array && d < array->cDims; ++d)
        count *= array->rgsabound[d].cElements;
    LONG lower = 0;
    if (array && array->cDims == 1) lower = array->rgsabound[0].lLbound;
    duk_push_int(ctx, lower);
    DefineValue(ctx, wrapper, "lowerBound");
    void* data = nullptr;
    if (!array || FAILED(SafeArrayAccessData(array, &data))) count = 0;
    if (elementType == VT_UI1) {
        void* bytes = duk_push_fixed_buffer(ctx, count);
        if (count) std::memcpy(bytes, data, count);
        DefineValue(ctx, wrapper, kBytesKey);
    } else {
        duk_push_array(ctx);
        for (ULONG i = 0; i < count; ++i) {
            VARIANT element;
            VariantInit(&element);
            if (elementType == VT_VARIANT) {
                VariantCopy(&element, static_cast<VARIANT*>(data) + i);
            } else if (elementType == VT_BSTR) {
                element.vt = VT_BSTR;
                element.bstrVal = SysAllocString(static_cast<BSTR*>(data)[i]);
            } else if (elementType == VT_I4) {
                element.vt = VT_I4;
                element.lVal = static_cast<LONG*>(data)[i];
            }
            PushVariant(ctx, element);
            VariantClear(&element);
            duk_put_prop_index(ctx, -2, i);
        }
        DefineValue(ctx, wrapper, kItemsKey);
    }
    if (data) SafeArrayUnaccessData(array);
}

SAFEARRAY* ByteArray(const void* bytes, std::size_t size) {
    if (size > 0xFFFFFFFFu) return nullptr;
    SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(size));
    void* data = nullptr;
    if (array && SUCCEEDED(SafeArrayAccessData(array, &data))) {
        if (size) std::memcpy(data, bytes, size);
        SafeArrayUnaccessData(array);
    }
    return array;
}

// ---- Error texts ----------------------------------------------------------------------

// The text of a failure without a description of its own: the message table's
// for the control's error numbers, else a short meaning.
std::string FallbackText(HRESULT hr) {
    const auto bits = static_cast<DWORD>(hr);
    if ((bits & 0xFFFF0000u) == static_cast<DWORD>(kAutomationErrors) || IsTableErrorCode(bits)) {
        if (const ErrorInfo* info = FindErrorByNumber(static_cast<int>(bits & 0xFFFFu));
            info && info->name[0] != '\0') {
            return info->text;
        }
    }
    if (const char* meaning = HresultMeaning(hr)) return meaning;
    char text[64];
    std::snprintf(text, sizeof text, "Automation error 0x%08X", static_cast<unsigned>(hr));
    return text;
}

// ---- Proxies --------------------------------------------------------------------------

duk_ret_t FinalizeProxy(duk_context* ctx) {
    duk_get_prop_string(ctx, 0, kDispatchKey);
    auto* object = static_cast<IDispatch*>(duk_get_pointer(ctx, -1));
    duk_pop(ctx);
    if (object) {
        duk_push_pointer(ctx, nullptr);
        duk_put_prop_string(ctx, 0, kDispatchKey);
        object->Release();
    }
    return 0;
}

// One member of a type, as the proxies offer it.
struct MemberShape {
    std::u16string name;
    bool method = false;  // a function, or a property read with arguments
    bool get = false;
    bool put = false;
    std::string outs;  // per parameter of a method: 'o' for [in, out], else 'i'
};

// The members of an object's type information and the type's identifier;
// false when it offers none.
bool DescribeType(IDispatch* object, std::string* key, std::vector<MemberShape>* members) {
    UINT count = 0;
    ComPtr<ITypeInfo> info;
    if (FAILED(object->GetTypeInfoCount(&count)) || count == 0 ||
        FAILED(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.Receive())) || !info) {
        return false;
    }
    TYPEATTR* attributes = nullptr;
    if (FAILED(info->GetTypeAttr(&attributes))) return false;
    *key = GuidToString(attributes->guid);
    const WORD functions = attributes->cFuncs;
    info->ReleaseTypeAttr(attributes);
    for (UINT i = 0; i < functions; ++i) {
        FUNCDESC* function = nullptr;
        if (FAILED(info->GetFuncDesc(i, &function))) continue;
        BSTR name = nullptr;
        UINT names = 0;
        if (SUCCEEDED(info->GetNames(function->memid, &name, 1, &names)) && names == 1) {
            std::u16string text(BstrView(name));
            MemberShape* shape = nullptr;
            for (MemberShape& known : *members) {
                if (known.name == text) shape = &known;
            }
            if (!shape) {
                members->push_back({});
                shape = &members->back();
                shape->name = std::move(text);
            }
            if (function->invkind == INVOKE_FUNC) {
                shape->method = true;
                shape->outs.clear();
                for (SHORT p = 0; p < function->cParams; ++p) {
                    const USHORT flags = function->lprgelemdescParam[p].paramdesc.wParamFlags;
                    shape->outs.push_back((flags & PARAMFLAG_FOUT) ? 'o' : 'i');
                }
            } else if (function->invkind == INVOKE_PROPERTYGET) {
                if (function->cParams > 0) shape->method = true;
                shape->get = true;
            } else {
                shape->put = true;
            }
        }
        SysFreeString(name);
        info->ReleaseFuncDesc(function);
    }
    return true;
}

duk_ret_t CallMember(duk_context* ctx);
duk_ret_t GetMember(duk_context* ctx);
duk_ret_t PutMember(duk_context* ctx);

void PushNamedNative(duk_context* ctx, duk_c_function native, duk_idx_t arguments,
                     const MemberShape& shape, WORD flags) {
    duk_push_c_function(ctx, native, arguments);
    PushText(ctx, shape.name);
    duk_put_prop_string(ctx, -2, kNameKey);
    duk_push_string(ctx, shape.outs.c_str());
    duk_put_prop_string(ctx, -2, kOutsKey);
    duk_push_uint(ctx, flags);
    duk_put_prop_string(ctx, -2, kFlagsKey);
}

// Pushes the prototype of an object's type (made once per type), or
// undefined when the object gives no type information.
void PushPrototype(duk_context* ctx, IDispatch* object) {
    std::string key;
    std::vector<MemberShape> members;
    if (!DescribeType(object, &key, &members)) {
        duk_push_undefined(ctx);
        return;
    }
    duk_push_global_stash(ctx);
    duk_get_prop_string(ctx, -1, kStashPrototypes);
    if (!duk_is_object(ctx, -1)) {
        duk_pop(ctx);
        duk_push_object(ctx);
        duk_dup_top(ctx);
        duk_put_prop_string(ctx, -3, kStashPrototypes);
    }
    duk_remove(ctx, -2);  // the stash
    if (duk_get_prop_string(ctx, -1, key.c_str())) {
        duk_remove(ctx, -2);
        return;
    }
    duk_pop(ctx);
    duk_push_object(ctx);
    const duk_idx_t prototype = duk_get_top_index(ctx);
    duk_push_bare_object(ctx);
    for (const MemberShape& shape : members) {
        std::u16string lower = shape.name;
        for (char16_t& c : lower) {
            if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        }
        PushText(ctx, lower);
        PushText(ctx, shape.name);
        duk_put_prop(ctx, -3);
    }
    DefineValue(ctx, prototype, kNamesKey);
    for (const MemberShape& shape : members) {
        PushText(ctx, shape.name);
        if (shape.method) {
            // o.Name(args): JScript calls with both flags, for methods and
            // for properties read with arguments.
            PushNamedNative(ctx, CallMember, DUK_VARARGS, shape,
                            DISPATCH_METHOD | DISPATCH_PROPERTYGET);
            duk_def_prop(
                ctx, prototype,
                DUK_DEFPROP_HAVE_VALUE | DUK_DEFPROP_SET_ENUMERABLE | DUK_DEFPROP_SET_CONFIGURABLE);
            continue;
        }
        duk_uint_t flags = DUK_DEFPROP_SET_ENUMERABLE | DUK_DEFPROP_SET_CONFIGURABLE;
        if (shape.get) {
            PushNamedNative(ctx, GetMember, 0, shape, DISPATCH_PROPERTYGET);
            flags |= DUK_DEFPROP_HAVE_GETTER;
        }
        // Also for read-only properties: the object answers the write with
        // its own error, as it does for any caller.
        PushNamedNative(ctx, PutMember, 1, shape, DISPATCH_PROPERTYPUT);
        flags |= DUK_DEFPROP_HAVE_SETTER;
        duk_def_prop(ctx, prototype, flags);
    }
    duk_dup(ctx, prototype);
    duk_put_prop_string(ctx, prototype - 1, key.c_str());
    duk_remove(ctx, prototype - 1);
}

// Frees the arguments of one call whatever way it ends.
struct CallArguments {
    std::vector<VARIANT> written;  // in written order; [out] ones refer to outputs
    std::vector<VARIANT> outputs;
    std::vector<duk_idx_t> holders;  // per argument: the script's holder object, or -1
    VARIANT result;
    EXCEPINFO exception{};

    explicit CallArguments(std::size_t count) : written(count), outputs(count), holders(count, -1) {
        for (std::size_t i = 0; i < count; ++i) {
            VariantInit(&written[i]);
            VariantInit(&outputs[i]);
        }
        VariantInit(&result);
    }
    ~CallArguments() {
        for (std::size_t i = 0; i < written.size(); ++i) {
            VariantClear(&written[i]);
            VariantClear(&outputs[i]);
        }
        VariantClear(&result);
        ClearExcepInfo(&exception);
    }
};

// A plain script object passed for an [out] parameter receives the output in
// its `value` property.
bool IsHolder(duk_context* ctx, duk_idx_t index) {
    double ignored;
    return duk_is_object(ctx, index) && !duk_is_function(ctx, index) && !duk_is_array(ctx, index) &&
           !duk_is_buffer_data(ctx, index) && !HasHidden(ctx, index, kDispatchKey) &&
           !HasHidden(ctx, index, kBytesKey) && !HasHidden(ctx, index, kItemsKey) &&
           !DateValue(ctx, index, &ignored);
}

// Calls member `name` of object with the arguments at stack indices
// [first, first + count) and pushes the result or the error; true on failure.
bool InvokeMember(duk_context* ctx, IDispatch* object, const std::u16string& name, WORD flags,
                  const std::string& outs, duk_idx_t first, duk_idx_t count) {
    DISPID member = DISPID_UNKNOWN;
    std::u16string writable = name;
    LPOLESTR names[] = {writable.data()};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &member);
    if (FAILED(hr)) {
        PushCallError(ctx, hr, nullptr);
        return true;
    }
    CallArguments call(static_cast<std::size_t>(count));
    for (duk_idx_t i = 0; i < count; ++i) {
        const duk_idx_t index = first + i;
        const bool out = static_cast<std::size_t>(i) < outs.size() && outs[i] == 'o';
        VARIANT& target = out ? call.outputs[i] : call.written[i];
        if (out && IsHolder(ctx, index)) {
            call.holders[i] = index;
            SafeGetProperty(ctx, index, "value");
            const bool converted = ToVariant(ctx, duk_get_top_index(ctx), &target);
            duk_pop(ctx);
            if (!converted) {
                PushTypeError(ctx, "the holder's value cannot be passed to an automation object");
                return true;
            }
        } else if (!ToVariant(ctx, index, &target)) {
            PushTypeError(ctx, "this value cannot be passed to an automation object");
            return true;
        }
        if (out) {
            call.written[i].vt = VT_BYREF | VT_VARIANT;
            call.written[i].pvarVal = &call.outputs[i];
        }
    }
    // Positional arguments go last first; a put passes its value as the named
    // argument DISPID_PROPERTYPUT.
    std::vector<VARIANT> reversed(call.written.rbegin(), call.written.rend());
    DISPID putName = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (flags == DISPATCH_PROPERTYPUT) {
        params.rgdispidNamedArgs = &putName;
        params.cNamedArgs = 1;
    }
    UINT argumentError = 0;
    hr = object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                        flags == DISPATCH_PROPERTYPUT ? nullptr : &call.result, &call.exception,
                        &argumentError);
    if (FAILED(hr)) {
        PushCallError(ctx, hr, &call.exception);
        return true;
    }
    for (std::size_t i = 0; i < call.holders.size(); ++i) {
        if (call.holders[i] < 0) continue;
        duk_dup(ctx, call.holders[i]);
        PushVariant(ctx, call.outputs[i]);
        if (duk_safe_call(ctx, PutValueCall, nullptr, 2, 1) != DUK_EXEC_SUCCESS) {
            // The holder refused the value: that error is the call's.
            return true;
        }
        duk_pop(ctx);
    }
    PushVariant(ctx, call.result);
    return false;
}

// The object and the member a native stands for.
struct Target {
    IDispatch* object = nullptr;
    std::u16string name;
    std::string outs;
    WORD flags = 0;
};

// false (with a TypeError pushed) when `this` is not a proxy.
bool TargetOf(duk_context* ctx, Target* target) {
    duk_push_this(ctx);
    target->object = DispatchOf(ctx, -1);
    duk_pop(ctx);
    duk_push_current_function(ctx);
    duk_get_prop_string(ctx, -1, kNameKey);
    target->name = TextAt(ctx, -1);
    duk_get_prop_string(ctx, -2, kOutsKey);
    const char* outs = duk_get_string(ctx, -1);
    target->outs = outs ? outs : "";
    duk_get_prop_string(ctx, -3, kFlagsKey);
    target->flags = static_cast<WORD>(duk_get_uint(ctx, -1));
    duk_pop_n(ctx, 4);
    if (target->object && !target->name.empty()) return true;
    PushTypeError(ctx, "not called on an automation object");
    return false;
}

// Pushes the member's result, or what is to be thrown (then true).
bool RunMember(duk_context* ctx, duk_idx_t first, duk_idx_t count) {
    Target target;
    if (!TargetOf(ctx, &target)) return true;
    if (InvokeMember(ctx, target.object, target.name, target.flags, target.outs, first, count))
        return true;
    return PushInterruption(ctx);
}

duk_ret_t CallMember(duk_context* ctx) {
    if (RunMember(ctx, 0, duk_get_top(ctx))) return duk_throw(ctx);
    return 1;
}

duk_ret_t GetMember(duk_context* ctx) {
    if (RunMember(ctx, 0, 0)) return duk_throw(ctx);
    return 1;
}

duk_ret_t PutMember(duk_context* ctx) {
    if (RunMember(ctx, 0, 1)) return duk_throw(ctx);
    return 0;
}

// ---- Natives of the bootstrap ------------------------------------------------------------

bool CreateNamed(duk_context* ctx) {
    const std::u16string progId = TextAt(ctx, 0);
    IDispatch* object = nullptr;
    const HRESULT hr = CreateObjectByProgId(progId, &object);
    if (FAILED(hr)) {
        PushCallError(ctx, hr, nullptr);
        std::string text =
            "cannot create an object named \"" + Utf16ToUtf8(progId) + "\": " + FallbackText(hr);
        // Names come from the registry: say how the control gets there.
        if (hr == CO_E_CLASSSTRING || hr == REGDB_E_CLASSNOTREG) {
            text += " (not registered: filetransfer register --user)";
        }
        PushText(ctx, Utf8ToUtf16(text));
        duk_dup_top(ctx);
        DefineValue(ctx, -3, "description");
        DefineValue(ctx, -2, "message");
        return true;
    }
    PushDispatch(ctx, object);
    object->Release();
    return false;
}

// h.create(progId)
duk_ret_t CreateNative(duk_context* ctx) {
    if (CreateNamed(ctx)) return duk_throw(ctx);
    return 1;
}

// h.items(wrapper): a new script array of the wrapper's elements.
duk_ret_t ItemsNative(duk_context* ctx) {
    if (HasHidden(ctx, 0, kBytesKey)) {
        duk_get_prop_string(ctx, 0, kBytesKey);
        duk_size_t size = 0;
        const auto* bytes = static_cast<const unsigned char*>(duk_get_buffer_data(ctx, -1, &size));
        duk_push_array(ctx);
        for (duk_size_t i = 0; i < size; ++i) {
            duk_push_uint(ctx, bytes[i]);
            duk_put_prop_index(ctx, -2, static_cast<duk_uarridx_t>(i));
        }
        return 1;
    }
    if (HasHidden(ctx, 0, kItemsKey)) {
        duk_get_prop_string(ctx, 0, kItemsKey);
        return 1;
    }
    return duk_type_error(ctx, "not an array of an automation object");
}

}  // namespace

// ---- Public -----------------------------------------------------------------------------

Host& HostOf(duk_context* ctx) {
    duk_memory_functions functions;
    duk_get_memory_functions(ctx, &functions);
    return *static_cast<Host*>(functions.udata);
}

std::u16string TextAt(duk_context* ctx, duk_idx_t index) {
    std::size_t length = 0;
    const char* text = duk_is_string(ctx, index) ? duk_get_lstring(ctx, index, &length) : nullptr;
    std::u16string out;
    if (!text) return out;
    out.reserve(length);
    for (std::size_t i = 0; i < length;) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t size;
        char32_t point;
        if (c < 0x80) {
            size = 1;
            point = c;
        } else if ((c & 0xE0) == 0xC0) {
            size = 2;
            point = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            size = 3;
            point = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            size = 4;
            point = c & 0x07;
        } else {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        if (i + size > length) {
            out.push_back(u'\uFFFD');
            break;
        }
        for (std::size_t k = 1; k < size; ++k)
            point = (point << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += size;
        if (point >= 0x10000) {
            point -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (point >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (point & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(point));
        }
    }
    return out;
}

void PushText(duk_context* ctx, std::u16string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (char16_t unit : text)
        AppendUnit(bytes, unit);
    duk_push_lstring(ctx, bytes.data(), bytes.size());
}

void PushVariant(duk_context* ctx, const VARIANT& given) {
    const VARIANT* value = &given;
    VARIANT followed;
    VariantInit(&followed);
    if (given.vt & VT_BYREF) {
        if (FAILED(VariantCopyInd(&followed, &given))) {
            duk_push_undefined(ctx);
            return;
        }
        value = &followed;
    }
    if (value->vt & VT_ARRAY) {
        PushArrayWrapper(ctx, value->parray, static_cast<VARTYPE>(value->vt & VT_TYPEMASK));
        VariantClear(&followed);
        return;
    }
    switch (value->vt) {
        case VT_NULL:
            duk_push_null(ctx);
            break;
        case VT_I1:
            duk_push_int(ctx, value->cVal);
            break;
        case VT_UI1:
            duk_push_uint(ctx, value->bVal);
            break;
        case VT_I2:
            duk_push_int(ctx, value->iVal);
            break;
        case VT_UI2:
            duk_push_uint(ctx, value->uiVal);
            break;
        case VT_I4:
            duk_push_int(ctx, value->lVal);
            break;
        case VT_INT:
            duk_push_int(ctx, value->intVal);
            break;
        case VT_UI4:
            duk_push_uint(ctx, value->ulVal);
            break;
        case VT_UINT:
            duk_push_uint(ctx, value->uintVal);
            break;
        case VT_I8:
            duk_push_number(ctx, static_cast<double>(value->llVal));
            break;
        case VT_UI8:
            duk_push_number(ctx, static_cast<double>(value->ullVal));
            break;
        case VT_R4:
            duk_push_number(ctx, value->fltVal);
            break;
        case VT_R8:
            duk_push_number(ctx, value->dblVal);
            break;
        case VT_CY:
            duk_push_number(ctx, static_cast<double>(value->cyVal) / 10000.0);
            break;
        case VT_BOOL:
            duk_push_boolean(ctx, value->boolVal != VARIANT_FALSE);
            break;
        case VT_BSTR:
            PushText(ctx, BstrView(value->bstrVal));
            break;
        case VT_DATE:
            PushDate(ctx, value->date);
            break;
        case VT_ERROR:
            // A missing optional argument reads as undefined.
            if (value->scode == DISP_E_PARAMNOTFOUND) {
                duk_push_undefined(ctx);
            } else {
                duk_push_int(ctx, value->scode);
            }
            break;
        case VT_DISPATCH:
            if (value->pdispVal) {
                PushDispatch(ctx, value->pdispVal);
            } else {
                duk_push_null(ctx);
            }
            break;
        case VT_UNKNOWN: {
            IDispatch* object = nullptr;
            if (value->punkVal && SUCCEEDED(value->punkVal->QueryInterface(
                                      IID_IDispatch, reinterpret_cast<void**>(&object)))) {
                PushDispatch(ctx, object);
                object->Release();
            } else {
                duk_push_null(ctx);
            }
            break;
        }
        default:
            duk_push_undefined(ctx);
            break;
    }
    VariantClear(&followed);
}

bool ToVariant(duk_context* ctx, duk_idx_t index, VARIANT* value) {
    VariantClear(value);
    switch (duk_get_type(ctx, index)) {
        case DUK_TYPE_NONE:
        case DUK_TYPE_UNDEFINED:
            return true;
        case DUK_TYPE_NULL:
            value->vt = VT_NULL;
            return true;
        case DUK_TYPE_BOOLEAN:
            value->vt = VT_BOOL;
            value->boolVal = duk_get_boolean(ctx, index) ? VARIANT_TRUE : VARIANT_FALSE;
            return true;
        case DUK_TYPE_NUMBER: {
            const double number = duk_get_number(ctx, index);
            if (std::nearbyint(number) == number && number >= -2147483648.0 &&
                number <= 2147483647.0) {
                value->vt = VT_I4;
                value->lVal = static_cast<LONG>(number);
            } else {
                value->vt = VT_R8;
                value->dblVal = number;
            }
            return true;
        }
        case DUK_TYPE_STRING: {
            const std::u16string text = TextAt(ctx, index);
            value->vt = VT_BSTR;
            value->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            return value->bstrVal != nullptr;
        }
        case DUK_TYPE_OBJECT:
        case DUK_TYPE_BUFFER:
            break;
        default:
            return false;
    }
    if (IDispatch* object = DispatchOf(ctx, index)) {
        object->AddRef();
        value->vt = VT_DISPATCH;
        value->pdispVal = object;
        return true;
    }
    if (HasHidden(ctx, index, kBytesKey) || duk_is_buffer_data(ctx, index)) {
        duk_size_t size = 0;
        const void* bytes = nullptr;
        if (HasHidden(ctx, index, kBytesKey)) {
            duk_get_prop_string(ctx, index, kBytesKey);
            bytes = duk_get_buffer_data(ctx, -1, &size);
            duk_pop(ctx);
        } else {
            bytes = duk_get_buffer_data(ctx, index, &size);
        }
        SAFEARRAY* array = ByteArray(bytes, size);
        if (!array) return false;
        value->vt = VT_ARRAY | VT_UI1;
        value->parray = array;
        return true;
    }
    double milliseconds = 0;
    if (DateValue(ctx, index, &milliseconds)) {
        value->vt = VT_DATE;
        if (!DateOfMilliseconds(milliseconds, &value->date)) value->vt = VT_EMPTY;
        return value->vt == VT_DATE;
    }
    return false;
}

void PushDispatch(duk_context* ctx, IDispatch* object) {
    duk_push_object(ctx);
    const duk_idx_t proxy = duk_get_top_index(ctx);
    object->AddRef();
    duk_push_pointer(ctx, object);
    DefineValue(ctx, proxy, kDispatchKey);
    duk_push_c_function(ctx, FinalizeProxy, 1);
    duk_set_finalizer(ctx, proxy);
    PushPrototype(ctx, object);
    if (duk_is_object(ctx, -1)) {
        duk_set_prototype(ctx, proxy);
    } else {
        duk_pop(ctx);
    }
    // The script gets the object behind a Proxy whose traps find members in
    // any case; the engine reads hidden keys through to the target, so
    // DispatchOf still finds the object.
    duk_push_global_stash(ctx);
    duk_get_prop_string(ctx, -1, kStashMemberHandler);
    duk_remove(ctx, -2);
    if (duk_is_object(ctx, -1)) {
        duk_push_proxy(ctx, 0);
    } else {
        duk_pop(ctx);
    }
}

IDispatch* DispatchOf(duk_context* ctx, duk_idx_t index) {
    if (!HasHidden(ctx, index, kDispatchKey)) return nullptr;
    duk_get_prop_string(ctx, index, kDispatchKey);
    auto* object = static_cast<IDispatch*>(duk_get_pointer(ctx, -1));
    duk_pop(ctx);
    return object;
}

void PushCallError(duk_context* ctx, HRESULT hr, const EXCEPINFO* exception) {
    HRESULT number = hr;
    std::u16string text;
    if (hr == DISP_E_EXCEPTION && exception) {
        if (exception->scode != 0) number = exception->scode;
        if (exception->bstrDescription) text = BstrView(exception->bstrDescription);
    }
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.Receive()) == S_OK && info && text.empty()) {
        BSTR description = nullptr;
        if (SUCCEEDED(info->GetDescription(&description)) && description)
            text = BstrView(description);
        SysFreeString(description);
    }
    if (text.empty()) text = Utf8ToUtf16(FallbackText(number));
    duk_push_error_object(ctx, DUK_ERR_ERROR, "%s", "");
    const duk_idx_t error = duk_get_top_index(ctx);
    BlameScript(ctx, error);
    duk_push_int(ctx, number);
    DefineValue(ctx, error, "number");
    PushText(ctx, text);
    DefineValue(ctx, error, "description");
    PushText(ctx, text);
    DefineValue(ctx, error, "message");
}

void PushTypeError(duk_context* ctx, const char* message) {
    duk_push_error_object(ctx, DUK_ERR_TYPE_ERROR, "%s", message);
    BlameScript(ctx, -1);
}

bool PushInterruption(duk_context* ctx) {
    Host& host = HostOf(ctx);
    if (!host.quitting && !host.pendingError) return false;
    duk_push_global_stash(ctx);
    duk_get_prop_string(ctx, -1, host.quitting ? kStashQuit : kStashPending);
    duk_remove(ctx, -2);
    if (!host.quitting) {
        host.pendingError = false;
        duk_push_global_stash(ctx);
        duk_del_prop_string(ctx, -1, kStashPending);
        duk_pop(ctx);
    }
    return true;
}

// h.member(target, name): the member of that name in any case, or undefined.
duk_ret_t MemberNative(duk_context* ctx) {
    if (!duk_is_object(ctx, 0) || !duk_is_string(ctx, 1)) return 0;
    std::u16string lower = TextAt(ctx, 1);
    for (char16_t& c : lower) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
    duk_get_prototype(ctx, 0);
    if (!HasHidden(ctx, -1, kNamesKey)) return 0;
    duk_get_prop_string(ctx, -1, kNamesKey);
    PushText(ctx, lower);
    duk_get_prop(ctx, -2);  // the map has no prototype: undefined for others
    return 1;
}

void DefineBridgeNatives(duk_context* ctx, duk_idx_t natives) {
    duk_push_c_function(ctx, CreateNative, 1);
    duk_put_prop_string(ctx, natives, "create");
    duk_push_c_function(ctx, ItemsNative, 1);
    duk_put_prop_string(ctx, natives, "items");
    duk_push_c_function(ctx, MemberNative, 2);
    duk_put_prop_string(ctx, natives, "member");
}

}  // namespace script
