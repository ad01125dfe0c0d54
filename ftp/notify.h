// Host-window notifications of a session and the asynchronous socket events of
// its data socket, received through a subclassed window.
#pragma once

#include "ftp/session.h"

namespace ftp {

// Sends the session's notify message for the event when its mask asks for it;
// the window's answer, or 0 when nothing was sent.
LRESULT RaiseEvent(FtpSession& session, DWORD event, int error);

// Turns the data socket's asynchronous socket events on for a window (which
// gets subclassed) or off (null window). 0, or -1 with the error set.
int SetAsyncEvents(FtpSession& session, HWND window);
// Gives the session's async window back its procedure when no other session
// uses it any more.
void ReleaseSubclass(FtpSession& session);
// Puts back every subclassed window's procedure (at the last shut-down).
void RestoreAllSubclasses();

// Around every notification: socket events that arrive meanwhile are only
// recorded, and posted again on resuming.
void SuspendAsyncEvents(FtpSession& session);
void ResumeAsyncEvents(FtpSession& session);

// How many windows are subclassed now.
std::size_t SubclassCount();

}  // namespace ftp
