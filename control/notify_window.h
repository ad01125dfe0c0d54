// The control's own window, registered with the engines: message 2025 sent to
// it is handed to the control's notification handler on the control's thread.
#pragma once

#include "platform/messages.h"

class CFileTransfer;

constexpr UINT kNotifyMessage = 2025;

// A child window of the desktop with an empty rectangle whose procedure passes
// message 2025 to control.HandleNotification. Null when it cannot be made.
HWND CreateNotifyWindow(CFileTransfer& control);
// Detaches the control and destroys the window (owner thread only).
void DestroyNotifyWindow(HWND window);
