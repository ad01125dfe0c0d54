// How the command line describes a failed property call.
#pragma once

#include <string>
#include <string_view>

#include "platform/wintypes.h"

// "error N: TEXT" for the automation HRESULT of an error number (0x800A0000|N),
// else "error 0xXXXXXXXX: MEANING". `reported` is the control's text of its last
// error: when it begins with TEXT and says more, it is shown instead.
std::string DescribeFailure(HRESULT hr, std::string_view reported = {});

// The exit status of a failed command by the class of its failure, in the
// numbers curl uses where it has the class: 6 the host name cannot be
// resolved, 7 no connection, 28 a time-out, 35 the TLS or SSH handshake
// failed, 60 the certificate or host key is not trusted, 67 the login was
// refused, 78 the file or resource does not exist, 9 the server refused the
// request, 130 cancelled (Ctrl-C); 1 for anything else.
int ExitStatusOf(HRESULT hr);
// Whether the failure is the server's refusal (exit 9, 67 or 78), whose reply
// is worth quoting.
bool IsServerRefusal(HRESULT hr);
// Whether a local file could not be created (10003).
bool IsFileNotCreated(HRESULT hr);
