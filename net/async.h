// The calling thread's registry of NetAsyncSelect sockets. There is no kernel
// notification that posts window messages, so the pumping waits of the thread
// (and NetPumpAsyncEvents) poll the registered sockets along with their own and
// post one message per readiness; the next recv (read, out-of-band, accept) or a
// send that would block re-arms that event, as the Windows call does.
#pragma once

#include <poll.h>

#include <cstddef>
#include <vector>

#include "net/net.h"

namespace net {

// Appends one pollfd per registered socket that has an armed event; returns how
// many were appended.
std::size_t AppendAsyncPolls(std::vector<pollfd>& polls);
// Posts the notifications for the registrations polled at polls[first...],
// in the order they were appended. Returns the number of messages posted.
int PostAsyncEvents(const std::vector<pollfd>& polls, std::size_t first, std::size_t count);
void RearmAsyncEvents(SOCKET s, long events);
// A connect was started on the socket: from now on its outcome is watched.
void NoteAsyncConnect(SOCKET s);
void NoteAsyncListen(SOCKET s);
void ForgetAsyncSocket(SOCKET s);

}  // namespace net
