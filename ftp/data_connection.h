// The data connection of a session: opening it passive or active, accepting
// the server's connection, TLS on it, and moving the data buffer to and from
// the socket with the session's time-out and cancel rules.
#pragma once

#include <cstdint>
#include <span>

#include "ftp/session.h"

namespace ftp {

inline constexpr std::size_t kMinDataBufferSize = 256;
inline constexpr std::size_t kMaxDataBufferSize = 1048576;

enum DataDirection : int { kDirectionReceive = 0, kDirectionStore = 1, kDirectionAppend = 2 };

// Opens the data connection (PBSZ/PROT, PASV/EPSV or PORT/EPRT, REST). 0, or -1
// with the error set and no data socket left.
int OpenDataConnection(FtpSession& session, int direction, std::uint64_t restartOffset);
// Active mode: takes the server's connection on the listening socket. 0 or -1.
int AcceptDataConnection(FtpSession& session);
// Secures the connected data socket, resuming the command channel's TLS session.
int StartDataTls(FtpSession& session);
// Shuts TLS down, closes the socket and clears the buffer and data flags.
void CloseDataConnection(FtpSession& session);

// Receives into the empty data buffer: the bytes in it, or -1 with the error
// set (fileErrorEndOfData at the end of the stream).
int FillDataBuffer(FtpSession& session);
// The line-rate forms for loops that move whole blocks of an image transfer
// through an empty data buffer: a receive straight into target (the count, or
// -1 with the error set, fileErrorEndOfData at the end), and a blocking send of
// all of data (0 or -1). Cancel, time-out, status and counters as above.
int ReceiveDirect(FtpSession& session, std::span<char> target);
int SendDirect(FtpSession& session, std::span<const char> data);
// Sends the buffered bytes: 0, or -1 with the error set. Without blocking it
// sends what the socket takes now; with ignoreCancel it also runs after a cancel.
int FlushDataBuffer(FtpSession& session, bool blocking, bool ignoreCancel = false);
// Sends what the secure data channel still holds back of an upload: 0 or the
// error number.
int FinishSending(FtpSession& session);
// Resizes the data buffer (clamped to 256..1 MiB), keeping its bytes. 0 or -1.
int SetDataBufferSize(FtpSession& session, std::size_t size);

// Raises the cancel event once per transfer and fails with 10004.
int FailCancelled(FtpSession& session);
// Fails with 10060 and raises the time-out event.
int FailTimedOut(FtpSession& session);
// The session's time-out in seconds (0 means the default).
int EffectiveTimeout(const FtpSession& session);
// The control connection's peer address.
bool ControlPeerAddress(const FtpSession& session, NetAddress& address);

}  // namespace ftp
