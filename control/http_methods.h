// The HTTP engine's side of the control's transfer and file methods. Names
// arrive as the control keeps them and reach the engine as 8-bit copies;
// results are the engine's (-1, or a flag result other than 1, fails with
// the engine's last error set).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "control/control_state.h"
#include "platform/memory.h"

// GET into a local file. An empty local name fails with
// fileErrorFileNotCreated; an answer that redirects fails with
// fileErrorResourceRedirected (its body is not the resource), leaving the
// Location header readable.
int HttpDownloadFile(LONGLONG client, std::u16string_view local, std::u16string_view remote,
                     uint64_t restartOffset);
// PUT of a local file. The engine always sends a whole file.
int HttpUploadFile(LONGLONG client, std::u16string_view local, std::u16string_view remote);
// GET into a new movable block (*block, *length); an empty body gives none.
int HttpDownloadData(LONGLONG client, std::u16string_view remote, HGLOBAL* block, DWORD* length);
int HttpUploadData(LONGLONG client, std::u16string_view remote, const BYTE* data, DWORD length);
// A multipart form post; an empty field name is "File1".
int HttpPostForm(LONGLONG client, std::u16string_view local, std::u16string_view remote,
                 std::u16string_view fieldName, DWORD options);
int HttpRemoteFileSize(LONGLONG client, std::u16string_view remote, DWORD* size);
int HttpRemoteFileSize64(LONGLONG client, std::u16string_view remote, uint64_t* size);
int HttpRemoteFileTime(LONGLONG client, std::u16string_view remote, SYSTEMTIME* time,
                       BOOL localTime);
// 1 when the local and remote files match.
int HttpCompareFile(LONGLONG client, std::u16string_view local, std::u16string_view remote,
                    DWORD options);

// The absolute address a redirect's Location names: the location resolved
// (RFC 3986 section 5) against the request, "http[s]://[user:password@]
// host[:port]" of the control's settings and the request's resource. Only a
// location without a host of its own keeps the user name and password; the
// fragment is dropped.
std::string RedirectAddress(std::string_view location, const ControlState& state,
                            std::string_view request);
// The Content-Disposition file name of the client's last response, made safe
// as a local name (http/disposition.h); "" when it has none. The engine's last
// error is kept.
std::string ResponseFileName(LONGLONG client);
// The Location of the client's last response, or nullopt when it has none.
std::optional<std::string> RedirectLocation(LONGLONG client);
