// Socket notifications that an engine held back (while its events were
// suppressed, or while it handled one) go to the window again, in the order
// the engines have always used: accept, connect, close, read, write, out-of-band.
#pragma once

#include "net/net.h"
#include "platform/messages.h"

void NetRepostAsyncEvents(HWND window, UINT message, SOCKET s, DWORD held);
