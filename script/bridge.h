// The script host's bridge between the JavaScript engine and automation
// objects: values both ways, the proxy objects that stand for IDispatch
// objects, and the errors failed calls throw. Internal to script/.
//
// The engine unwinds its errors with longjmp, which must not cross a C++
// frame that still has objects to destroy. So every function here that works
// with C++ objects pushes its outcome (a value or an error object) and
// returns; only the engine's own entry points (natives with nothing left to
// destroy) throw, with duk_throw.
#pragma once

#include <duktape.h>

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch.h"

namespace script {

class Connection;

// What the host keeps for one run, reached from the heap.
struct Host {
    std::ostream* out = nullptr;
    std::ostream* err = nullptr;
    // WScript.Quit was called: the run ends with quitCode.
    bool quitting = false;
    int quitCode = 0;
    // An event handler threw: the error waits in the heap's stash and is
    // thrown when the call that raised the event returns.
    bool pendingError = false;
    std::vector<Connection*> connections;
};

Host& HostOf(duk_context* ctx);

// The file name the host's own script code is compiled under.
inline constexpr const char* kHostFileName = "(host)";

// Stash keys.
inline constexpr const char* kStashQuit = "quit";        // what WScript.Quit throws
inline constexpr const char* kStashPending = "pending";  // an event handler's error
inline constexpr const char* kStashArrayPrototype = "vbarray";
inline constexpr const char* kStashPrototypes = "prototypes";
inline constexpr const char* kStashMemberHandler = "members";  // the proxies' traps

// Text: the engine's strings hold UTF-16 code units in CESU-8.
std::u16string TextAt(duk_context* ctx, duk_idx_t index);  // "" unless a string
void PushText(duk_context* ctx, std::u16string_view text);

// Pushes the script's value of a variant (by-reference ones are followed).
void PushVariant(duk_context* ctx, const VARIANT& value);
// The variant of the script's value at index (an absolute index); false when
// the value cannot be passed to an automation object.
bool ToVariant(duk_context* ctx, duk_idx_t index, VARIANT* value);

// Pushes the proxy object of an automation object (its own reference).
void PushDispatch(duk_context* ctx, IDispatch* object);
// The automation object of a proxy at index, borrowed; null for anything else.
IDispatch* DispatchOf(duk_context* ctx, duk_idx_t index);

// Pushes the error a failed call throws: an Error whose number is the HRESULT
// (signed) and whose description and message are the error's text.
void PushCallError(duk_context* ctx, HRESULT hr, const EXCEPINFO* exception);
// Gives the error at index the file and line of the script's call that made
// it (the nearest caller that is the script's code, not the host's).
void BlameScript(duk_context* ctx, duk_idx_t error);
// Pushes a TypeError with this message.
void PushTypeError(duk_context* ctx, const char* message);
// When the run must stop (WScript.Quit) or an event handler threw, pushes
// what is to be thrown and answers true.
bool PushInterruption(duk_context* ctx);

// A heap with the host's objects (WScript, ActiveXObject, VBArray) for a
// script at path; null (the reason written to host->err) when they cannot be
// made. DestroyHostHeap ends the event connections first.
duk_context* CreateHostHeap(Host* host, const std::string& path,
                            const std::vector<std::string>& arguments);
void DestroyHostHeap(duk_context* ctx);

// Defines the natives the bridge needs on the object at index: create,
// items (the elements of an array value), member (a member's name as the
// type information spells it, from a name in any case).
void DefineBridgeNatives(duk_context* ctx, duk_idx_t natives);

}  // namespace script
