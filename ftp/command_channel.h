// The command channel: sending command lines, reading replies byte by byte,
// and the session-level commands built on them (login, SYST, FEAT, PWD).
#pragma once

#include <string_view>

#include "ftp/session.h"

namespace ftp {

// The outcome of one command: the code of the reply read (0 when none was
// read) and the error (0 on success; already the thread's last error).
struct Exchange {
    int code = 0;
    int error = 0;
    bool ok() const { return error == 0; }
    bool positive() const { return error == 0 && code >= 200 && code <= 299; }
};

// Sends "command[ argument]\r\n" (with the lazy SYST/PWD before the first
// command after the login) and reads the reply.
Exchange RunCommand(FtpSession& session, std::string_view command, std::string_view argument = {});
// As RunCommand with the internal option set: the engine talks for itself.
Exchange RunInternalCommand(FtpSession& session, std::string_view command,
                            std::string_view argument = {});
// Reads the pending reply into the reply record; the code, or -1.
int ReadReply(FtpSession& session);

int LoginSession(FtpSession& session, std::string_view user, std::string_view password,
                 std::string_view account);
int QuerySystemType(FtpSession& session);
// The feature mask, or 0 with the error set.
std::uint32_t QueryServerFeatures(FtpSession& session);
// Sends PWD and caches the directory; the PWD reply code or -1.
int RefreshCurrentDirectory(FtpSession& session);
int ChangeDirectory(FtpSession& session, std::string_view path);

// Sends QUIT and reads its reply, whatever comes of it.
void SendQuit(FtpSession& session);

// The path of a PWD reply: from its second character up to a lone double
// quote, with doubled quotes read as one; at most 511 characters.
std::string ParsePwdPath(std::string_view replyText);

}  // namespace ftp
