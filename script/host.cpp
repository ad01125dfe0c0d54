#include "script/host.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "net/socket_wait.h"
#include "platform/file.h"
#include "platform/messages.h"
#include "platform/module.h"
#include "platform/system.h"
#include "platform/text.h"
#include "resources/version.h"
#include "script/bridge.h"
#include "script/events.h"

namespace script {

namespace {

// Scripts are read whole; anything larger is surely not one.
constexpr std::int64_t kMaxScriptBytes = 16 * 1024 * 1024;
// WScript.Sleep waits at most this long at once.
constexpr double kMaxSleepMs = 2147483647.0;

// Builds WScript, ActiveXObject and VBArray from the natives in h; returns
// VBArray.prototype, which the host gives the array values it makes. Written
// in the language's oldest form, like the scripts it serves.
constexpr std::string_view kBootstrap = R"JS(
function (global, h, words, scriptName, scriptFullName, version) {
    function hide(object, name, value) {
        Object.defineProperty(object, name, {value: value, writable: true, configurable: true});
    }
    // A collection in the shape WSH gives: callable, Item, Count and length.
    function collection(count, item) {
        var c = function (key) { return item(key); };
        c.Item = item;
        c.Count = function () { return count; };
        Object.defineProperty(c, 'length', {value: count});
        return c;
    }
    function byIndex(list) {
        return function (index) {
            if (typeof index !== 'number' || index < 0 || index >= list.length || index % 1 !== 0)
                h.raise(true, 'argument index out of range: ' + index);
            return list[index];
        };
    }
    var named = {}, namedCount = 0, unnamed = [];
    for (var i = 0; i < words.length; ++i) {
        var word = words[i];
        if (word.length > 1 && word.charAt(0) === '/') {
            var colon = word.indexOf(':');
            var key = '~' + (colon < 0 ? word.substring(1) : word.substring(1, colon)).toLowerCase();
            if (!named.hasOwnProperty(key)) ++namedCount;
            named[key] = colon < 0 ? '' : word.substring(colon + 1);
        } else {
            unnamed.push(word);
        }
    }
    var args = collection(words.length, byIndex(words));
    args.Unnamed = collection(unnamed.length, byIndex(unnamed));
    args.Named = collection(namedCount, function (name) {
        var key = '~' + String(name).toLowerCase();
        return named.hasOwnProperty(key) ? named[key] : undefined;
    });
    args.Named.Exists = function (name) {
        return named.hasOwnProperty('~' + String(name).toLowerCase());
    };
    function stream(fd) {
        return {
            Write: function (text) { h.write(fd, String(text)); },
            WriteLine: function (text) {
                h.write(fd, (arguments.length ? String(text) : '') + '\n');
            }
        };
    }
    global.WScript = {
        Name: 'filetransfer script host',
        Version: version,
        ScriptName: scriptName,
        ScriptFullName: scriptFullName,
        Arguments: args,
        StdOut: stream(1),
        StdErr: stream(2),
        Echo: function () {
            var parts = [];
            for (var i = 0; i < arguments.length; ++i) parts.push(String(arguments[i]));
            h.write(1, parts.join(' ') + '\n');
        },
        Quit: function (code) { h.quit(code === undefined ? 0 : Number(code)); },
        Sleep: function (ms) { h.sleep(Number(ms)); },
        CreateObject: function (progId, prefix) {
            var object = h.create(String(progId));
            if (prefix !== undefined && prefix !== null && String(prefix) !== '')
                h.connect(object, String(prefix));
            return object;
        },
        ConnectObject: function (object, prefix) { h.connect(object, String(prefix)); },
        DisconnectObject: function (object) { h.disconnect(object); }
    };
    global.ActiveXObject = function ActiveXObject(progId) { return h.create(String(progId)); };
    function VBArray(array) {
        if (array instanceof VBArray) return array;
        h.raise(false, 'VBArray expected');
    }
    VBArray.prototype.toArray = function () { return h.items(this).slice(); };
    VBArray.prototype.lbound = function () { return this.lowerBound; };
    VBArray.prototype.ubound = function () { return this.lowerBound + h.items(this).length - 1; };
    VBArray.prototype.getItem = function (index) { return h.items(this)[index - this.lowerBound]; };
    VBArray.prototype.dimensions = function () { return 1; };
    hide(global, 'VBArray', VBArray);
    // Around every automation object: names in another case reach the member
    // of that name (JScript's names ignore case), and writing a name the
    // object does not have is an error instead of a new script property.
    var members = {
        get: function (target, key) {
            if (typeof key === 'string' && !(key in target)) {
                var name = h.member(target, key);
                if (name !== undefined) return target[name];
            }
            return target[key];
        },
        set: function (target, key, value) {
            if (typeof key === 'string' && !(key in target)) {
                var name = h.member(target, key);
                if (name === undefined) h.raise(false, 'the object has no member named ' + key);
                key = name;
            }
            target[key] = value;
            return true;
        }
    };
    return {arrayPrototype: VBArray.prototype, memberHandler: members};
}
)JS";

[[noreturn]] void Fatal(void* udata, const char* message) {
    if (auto* host = static_cast<Host*>(udata); host && host->err) {
        *host->err << "filetransfer: script engine failure: " << (message ? message : "") << "\n";
        host->err->flush();
    }
    std::abort();
}

std::ostream& StreamOf(duk_context* ctx, int fd) {
    Host& host = HostOf(ctx);
    return fd == 2 ? *host.err : *host.out;
}

// h.write(fd, text)
void Write(duk_context* ctx) {
    std::ostream& stream = StreamOf(ctx, duk_get_int(ctx, 0));
    stream << Utf16ToUtf8(TextAt(ctx, 1));
    stream.flush();
}

// Nothing more is written once the script is to stop.
duk_ret_t WriteNative(duk_context* ctx) {
    if (PushInterruption(ctx)) return duk_throw(ctx);
    Write(ctx);
    return 0;
}

// h.quit(code): ends the run; what it throws stops the script wherever it is.
duk_ret_t QuitNative(duk_context* ctx) {
    Host& host = HostOf(ctx);
    const double code = duk_get_number_default(ctx, 0, 0);
    host.quitting = true;
    host.quitCode = std::isfinite(code) ? static_cast<int>(std::fmod(code, 2147483648.0)) : 0;
    PushInterruption(ctx);
    return duk_throw(ctx);
}

// Serves the thread's messages (and so the control's events) for ms: the host's
// own queue and those of the modules the controls were loaded from.
void Pump(duk_context* ctx, double ms) {
    Host& host = HostOf(ctx);
    if (!(ms > 0)) ms = 0;
    if (ms > kMaxSleepMs) ms = kMaxSleepMs;
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(ms);
    for (;;) {
        MSG message;
        while (!host.quitting && !host.pendingError &&
               PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message != WM_QUIT) DispatchMessageA(&message);
        }
        if (!host.quitting && !host.pendingError) platform::PumpLoadedModules();
        const ULONGLONG now = GetTickCount64();
        if (host.quitting || host.pendingError || now >= end) return;
        std::vector<NetWaitEntry> queues;
        for (int fd : platform::ModuleMessageWaitFds())
            queues.push_back(NetWaitEntry{static_cast<SOCKET>(fd), kNetReadable, 0});
        NetWaitRules rules(NetDeadline::In(end - now));
        rules.descriptors = true;
        NetWaitAny(queues, rules);
    }
}

duk_ret_t SleepNative(duk_context* ctx) {
    Pump(ctx, duk_get_number_default(ctx, 0, 0));
    if (PushInterruption(ctx)) return duk_throw(ctx);
    return 0;
}

// Pushes undefined, or the error to throw (then true).
bool Connect(duk_context* ctx) {
    IDispatch* object = DispatchOf(ctx, 0);
    if (!object) {
        PushTypeError(ctx, "ConnectObject needs an automation object");
        return true;
    }
    const HRESULT hr = ConnectEvents(ctx, object, TextAt(ctx, 1));
    if (FAILED(hr)) {
        PushCallError(ctx, hr, nullptr);
        return true;
    }
    return false;
}

duk_ret_t ConnectNative(duk_context* ctx) {
    if (Connect(ctx)) return duk_throw(ctx);
    return 0;
}

// h.raise(range, message): a RangeError (else a TypeError) blamed on the
// script's line rather than the host's.
duk_ret_t RaiseNative(duk_context* ctx) {
    const bool range = duk_get_boolean(ctx, 0);
    duk_push_error_object(ctx, range ? DUK_ERR_RANGE_ERROR : DUK_ERR_TYPE_ERROR, "%s",
                          duk_safe_to_string(ctx, 1));
    BlameScript(ctx, -1);
    return duk_throw(ctx);
}

duk_ret_t DisconnectNative(duk_context* ctx) {
    if (IDispatch* object = DispatchOf(ctx, 0)) DisconnectEvents(ctx, object);
    return 0;
}

struct Native {
    const char* name;
    duk_c_function function;
    duk_idx_t arguments;
};

constexpr Native kNatives[] = {
    {"write", WriteNative, 2},           {"quit", QuitNative, 1},
    {"sleep", SleepNative, 1},           {"connect", ConnectNative, 2},
    {"disconnect", DisconnectNative, 1}, {"raise", RaiseNative, 2},
};

// The error value on top: pushes its fileName, lineNumber and text.
duk_ret_t DescribeErrorCall(duk_context* ctx, void*) {
    const duk_idx_t error = duk_get_top_index(ctx);
    if (duk_is_object(ctx, error)) {
        duk_get_prop_string(ctx, error, "fileName");
        duk_get_prop_string(ctx, error, "lineNumber");
    } else {
        duk_push_undefined(ctx);
        duk_push_undefined(ctx);
    }
    duk_dup(ctx, error);
    duk_safe_to_string(ctx, -1);
    return 3;
}

void ReportError(duk_context* ctx, const std::string& path, std::ostream& err) {
    std::string file = path;
    std::string line;
    std::string text = "uncaught exception";
    if (duk_safe_call(ctx, DescribeErrorCall, nullptr, 1, 3) == DUK_EXEC_SUCCESS) {
        if (duk_is_string(ctx, -3)) file = Utf16ToUtf8(TextAt(ctx, -3));
        if (duk_is_number(ctx, -2)) line = std::to_string(duk_get_int(ctx, -2));
        if (duk_is_string(ctx, -1)) text = Utf16ToUtf8(TextAt(ctx, -1));
    }
    duk_pop_3(ctx);
    err << file << ":" << (line.empty() ? "" : line + ":") << " " << text << "\n";
    err.flush();
}

// Stack: the bootstrap's arguments are built here. Leaves nothing.
bool Bootstrap(duk_context* ctx, const std::string& path,
               const std::vector<std::string>& arguments) {
    duk_push_lstring(ctx, kBootstrap.data(), kBootstrap.size());
    duk_push_string(ctx, kHostFileName);
    if (duk_pcompile(ctx, DUK_COMPILE_FUNCTION) != 0) return false;
    duk_push_global_object(ctx);
    duk_push_object(ctx);
    for (const Native& native : kNatives) {
        duk_push_c_function(ctx, native.function, native.arguments);
        duk_put_prop_string(ctx, -2, native.name);
    }
    DefineBridgeNatives(ctx, duk_get_top_index(ctx));
    duk_push_array(ctx);
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        duk_push_lstring(ctx, arguments[i].data(), arguments[i].size());
        duk_put_prop_index(ctx, -2, static_cast<duk_uarridx_t>(i));
    }
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(path, error);
    const std::string name = std::filesystem::path(path).filename().string();
    const std::string fullName = error ? path : full.lexically_normal().string();
    duk_push_lstring(ctx, name.data(), name.size());
    duk_push_lstring(ctx, fullName.data(), fullName.size());
    const std::string version =
        std::to_string(kFileVersion.major) + "." + std::to_string(kFileVersion.minor);
    duk_push_lstring(ctx, version.data(), version.size());
    if (duk_pcall(ctx, 6) != DUK_EXEC_SUCCESS) return false;
    duk_push_global_stash(ctx);
    duk_get_prop_string(ctx, -2, "arrayPrototype");
    duk_put_prop_string(ctx, -2, kStashArrayPrototype);
    duk_get_prop_string(ctx, -2, "memberHandler");
    duk_put_prop_string(ctx, -2, kStashMemberHandler);
    duk_remove(ctx, -2);
    // What WScript.Quit throws: an object of its own, told apart by identity.
    duk_push_object(ctx);
    duk_put_prop_string(ctx, -2, kStashQuit);
    duk_pop(ctx);
    return true;
}

// The script's text, without a byte-order mark; false when it cannot be read.
bool ReadScript(const std::string& path, std::string* text, std::string* problem) {
    platform::LocalFile file;
    if (const int error =
            file.Open(path, platform::FileAccess::Read, platform::FileDisposition::OpenExisting)) {
        *problem = std::generic_category().message(error);
        return false;
    }
    const std::int64_t size = file.Size();
    if (size < 0 || size > kMaxScriptBytes) {
        *problem = size < 0 ? "not a readable file" : "larger than 16 MiB";
        return false;
    }
    text->resize(static_cast<std::size_t>(size));
    for (std::size_t got = 0; got < text->size();) {
        const std::int64_t read = file.Read(text->data() + got, text->size() - got);
        if (read <= 0) {
            *problem = read < 0 ? std::generic_category().message(file.error()) : "file shrank";
            return false;
        }
        got += static_cast<std::size_t>(read);
    }
    if (text->starts_with("\xEF\xBB\xBF")) text->erase(0, 3);
    return true;
}

}  // namespace

}  // namespace script

namespace script {

duk_context* CreateHostHeap(Host* host, const std::string& path,
                            const std::vector<std::string>& arguments) {
    duk_context* ctx = duk_create_heap(nullptr, nullptr, nullptr, host, Fatal);
    if (ctx && !Bootstrap(ctx, path, arguments)) {
        ReportError(ctx, kHostFileName, *host->err);
        duk_destroy_heap(ctx);
        return nullptr;
    }
    return ctx;
}

void DestroyHostHeap(duk_context* ctx) {
    DisconnectEvents(ctx, nullptr);
    duk_destroy_heap(ctx);
}

}  // namespace script

int RunScriptFile(const std::string& path, const std::vector<std::string>& arguments,
                  std::ostream& out, std::ostream& err) {
    using namespace script;
    std::string source;
    std::string problem;
    if (!ReadScript(path, &source, &problem)) {
        err << "filetransfer: cannot read the script " << path << ": " << problem << "\n";
        return kScriptUnreadable;
    }
    Host host;
    host.out = &out;
    host.err = &err;
    duk_context* ctx = CreateHostHeap(&host, path, arguments);
    if (!ctx) {
        err << "filetransfer: cannot start the script engine\n";
        return kScriptFailed;
    }
    duk_push_lstring(ctx, source.data(), source.size());
    duk_push_lstring(ctx, path.data(), path.size());
    const bool ran =
        duk_pcompile(ctx, 0) == DUK_EXEC_SUCCESS && duk_pcall(ctx, 0) == DUK_EXEC_SUCCESS;
    int status = kScriptSucceeded;
    if (host.quitting) {
        status = host.quitCode;
    } else if (!ran || PushInterruption(ctx)) {
        // An uncaught error, or one an event handler threw after the
        // script's last call.
        ReportError(ctx, path, err);
        status = kScriptFailed;
    }
    DestroyHostHeap(ctx);
    return status;
}
