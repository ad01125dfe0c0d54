// WScript.ConnectObject: the control's events call the script's global
// functions named PREFIX + event name. The sink is an IDispatch of the host's
// advised on the object's default source interface, which the object's class
// information names; the event names come from that interface's type
// information. Internal to script/.
#pragma once

#include <string>

#include "script/bridge.h"

namespace script {

// Connects object's events to the functions PREFIX + name; the connection is
// kept in the host until DisconnectEvents or the end of the run. A failing
// HRESULT when the object has no events to offer.
HRESULT ConnectEvents(duk_context* ctx, IDispatch* object, const std::u16string& prefix);
// Ends the connections of object (all of them when object is null).
void DisconnectEvents(duk_context* ctx, IDispatch* object);

}  // namespace script
