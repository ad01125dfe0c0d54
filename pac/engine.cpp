#include "pac/engine.h"

#include <duktape.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "net/host_addresses.h"
#include "pac/helpers.h"

namespace pac {
namespace {

constexpr std::size_t kDetailLimit = 240;

// ---- The heap's memory: every block counted against the script's limit ----

struct Budget {
    std::size_t used = 0;
    std::size_t limit = 0;
    bool refused = false;  // a request went over the limit
};

// Each block starts with its size, in a header that keeps the payload aligned.
constexpr std::size_t kHeader = alignof(std::max_align_t);

// What a block of `size` bytes costs the process: the payload, the header and
// the C library's own word, in its 16-byte steps (a script of many small
// objects would otherwise take half as much again as its limit).
std::size_t CostOf(std::size_t size) {
    return std::max<std::size_t>(32,
                                 (size + kHeader + sizeof(std::size_t) + 15) & ~std::size_t{15});
}

std::size_t SizeOf(void* payload) {
    std::size_t size;
    std::memcpy(&size, static_cast<unsigned char*>(payload) - kHeader, sizeof size);
    return size;
}

void* Stamp(void* block, std::size_t size) {
    std::memcpy(block, &size, sizeof size);
    return static_cast<unsigned char*>(block) + kHeader;
}

bool Admit(Budget* budget, std::size_t more) {
    if (more > budget->limit - budget->used) {
        budget->refused = true;
        return false;
    }
    return true;
}

void* Allocate(void* udata, duk_size_t size) {
    auto* budget = static_cast<Budget*>(udata);
    if (!Admit(budget, CostOf(size))) return nullptr;
    void* block = std::malloc(size + kHeader);
    if (block == nullptr) {
        budget->refused = true;
        return nullptr;
    }
    budget->used += CostOf(size);
    return Stamp(block, size);
}

void* Reallocate(void* udata, void* payload, duk_size_t size) {
    if (payload == nullptr) return Allocate(udata, size);
    auto* budget = static_cast<Budget*>(udata);
    std::size_t old = CostOf(SizeOf(payload));
    if (CostOf(size) > old && !Admit(budget, CostOf(size) - old)) return nullptr;
    void* block = std::realloc(static_cast<unsigned char*>(payload) - kHeader, size + kHeader);
    if (block == nullptr) {
        budget->refused = true;
        return nullptr;
    }
    budget->used = budget->used - old + CostOf(size);
    return Stamp(block, size);
}

void Release(void* udata, void* payload) {
    if (payload == nullptr) return;
    static_cast<Budget*>(udata)->used -= CostOf(SizeOf(payload));
    std::free(static_cast<unsigned char*>(payload) - kHeader);
}

// The engine's unrecoverable errors (outside any protected call) end the run;
// the caller sees the process stop.
void Fatal(void*, const char*) {
    std::abort();
}

// ---- Native functions: name lookups and the machine's addresses ----

// Addresses as "a;b;c" in a fixed buffer: the engine may unwind past the
// natives, so they keep nothing that needs a destructor while they call it.
struct AddressText {
    char text[1024] = {};
    std::size_t length = 0;

    void Add(const NetAddress& address) {
        std::string one = net::AddressText(address);
        std::size_t needed = one.size() + (length > 0 ? 1 : 0);
        if (one.empty() || length + needed >= sizeof text) return;
        if (length > 0) text[length++] = ';';
        std::memcpy(text + length, one.data(), one.size());
        length += one.size();
    }
};

bool IsLinkLocal(const NetAddress& address) {
    return address.family == NET_FAMILY_IPV6 && address.address[0] == 0xFE &&
           (address.address[1] & 0xC0) == 0x80;
}

// The first address, or every one, of the host name in argument 0.
AddressText Lookup(const char* name, int family, bool all) {
    AddressText found;
    for (const NetAddress& address : net::ResolveAll(name, family)) {
        found.Add(address);
        if (!all) break;
    }
    return found;
}

// The machine's IPv4 address (all = false) or all its addresses (true), not
// counting loopback and link-local ones unless there is nothing else.
AddressText OwnAddresses(bool all) {
    AddressText found;
    std::vector<NetAddress> local = net::LocalAddresses();
    for (int pass = 0; pass < 2 && found.length == 0; ++pass) {
        for (const NetAddress& address : local) {
            bool plain = !net::IsLoopbackAddress(address) && !IsLinkLocal(address);
            if ((pass == 0) != plain || (!all && address.family != NET_FAMILY_IPV4)) continue;
            found.Add(address);
            if (!all) break;
        }
    }
    if (found.length == 0) found.Add(NetAddress{NET_FAMILY_IPV4, {127, 0, 0, 1}});
    return found;
}

duk_ret_t DnsResolve(duk_context* ctx) {
    AddressText found = Lookup(duk_safe_to_string(ctx, 0), NET_FAMILY_IPV4, false);
    if (found.length == 0) {
        duk_push_null(ctx);
    } else {
        duk_push_lstring(ctx, found.text, found.length);
    }
    return 1;
}

duk_ret_t DnsResolveEx(duk_context* ctx) {
    AddressText found = Lookup(duk_safe_to_string(ctx, 0), 0, true);
    duk_push_lstring(ctx, found.text, found.length);
    return 1;
}

duk_ret_t MyIpAddress(duk_context* ctx) {
    AddressText found = OwnAddresses(false);
    duk_push_lstring(ctx, found.text, found.length);
    return 1;
}

duk_ret_t MyIpAddressEx(duk_context* ctx) {
    AddressText found = OwnAddresses(true);
    duk_push_lstring(ctx, found.text, found.length);
    return 1;
}

struct Native {
    const char* name;
    duk_c_function function;
    duk_idx_t arguments;
};

constexpr Native kNatives[] = {
    {"dnsResolve", DnsResolve, 1},
    {"dnsResolveEx", DnsResolveEx, 1},
    {"myIpAddress", MyIpAddress, 0},
    {"myIpAddressEx", MyIpAddressEx, 0},
};

// ---- The run ----

struct Run {
    std::string_view script, url, host;
    Outcome outcome = Outcome::ScriptError;
    std::string text;  // the answer, or what went wrong
};

void Describe(Run* run, duk_context* ctx, const char* prefix) {
    std::size_t length = 0;
    const char* text = duk_safe_to_lstring(ctx, -1, &length);
    run->text = prefix;
    run->text.append(text, std::min(length, kDetailLimit));
}

const char* TypeName(duk_int_t type) {
    switch (type) {
        case DUK_TYPE_UNDEFINED:
            return "undefined";
        case DUK_TYPE_NULL:
            return "null";
        case DUK_TYPE_BOOLEAN:
            return "a boolean";
        case DUK_TYPE_NUMBER:
            return "a number";
        case DUK_TYPE_OBJECT:
            return "an object";
        default:
            return "no string";
    }
}

duk_ret_t Evaluate(duk_context* ctx, void* udata) {
    auto* run = static_cast<Run*>(udata);
    for (const Native& native : kNatives) {
        duk_push_c_function(ctx, native.function, native.arguments);
        duk_put_global_string(ctx, native.name);
    }
    std::string_view helpers = HelperScript();
    if (duk_peval_lstring_noresult(ctx, helpers.data(), helpers.size()) != 0) {
        Describe(run, ctx, "helper functions: ");
        return 0;
    }
    const char* source = run->script.empty() ? "" : run->script.data();
    if (duk_pcompile_lstring(ctx, 0, source, run->script.size()) != 0 || duk_pcall(ctx, 0) != 0) {
        Describe(run, ctx, "");
        return 0;
    }
    duk_pop(ctx);
    if (!duk_get_global_string(ctx, "FindProxyForURL") || !duk_is_function(ctx, -1)) {
        run->text = "the script defines no function FindProxyForURL";
        return 0;
    }
    duk_push_lstring(ctx, run->url.data(), run->url.size());
    duk_push_lstring(ctx, run->host.data(), run->host.size());
    if (duk_pcall(ctx, 2) != 0) {
        Describe(run, ctx, "FindProxyForURL: ");
        return 0;
    }
    if (!duk_is_string(ctx, -1)) {
        run->text = std::string("FindProxyForURL returned ") + TypeName(duk_get_type(ctx, -1));
        return 0;
    }
    std::size_t length = 0;
    const char* answer = duk_get_lstring(ctx, -1, &length);
    if (length > kAnswerLimit) {
        run->text = "the answer is longer than " + std::to_string(kAnswerLimit) + " bytes";
        return 0;
    }
    run->text.assign(answer, length);
    run->outcome = Outcome::Answer;
    return 0;
}

}  // namespace

Evaluation RunScript(std::string_view script, std::string_view url, std::string_view host,
                     std::size_t memoryLimit) {
    Budget budget;
    budget.limit = memoryLimit;
    Evaluation evaluation;
    duk_context* ctx = duk_create_heap(Allocate, Reallocate, Release, &budget, Fatal);
    if (ctx == nullptr) {
        evaluation.outcome = Outcome::TooMuchMemory;
        evaluation.detail = "no memory for the script engine";
        return evaluation;
    }
    Run run;
    run.script = script;
    run.url = url;
    run.host = host;
    if (duk_safe_call(ctx, Evaluate, &run, 0, 1) != 0) Describe(&run, ctx, "");
    duk_destroy_heap(ctx);
    if (run.outcome != Outcome::Answer && budget.refused) {
        evaluation.outcome = Outcome::TooMuchMemory;
        evaluation.detail =
            "the script wanted more than " + std::to_string(memoryLimit >> 20) + " MiB";
        return evaluation;
    }
    evaluation.outcome = run.outcome;
    (run.outcome == Outcome::Answer ? evaluation.answer : evaluation.detail) = run.text;
    return evaluation;
}

}  // namespace pac
