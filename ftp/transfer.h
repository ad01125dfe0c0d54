// One transfer on the data connection: the command that starts it, the reads
// and writes with their text conversion, and the end with its completion reply
// (or, after a cancel or a failure, the resynchronisation of the command channel).
#pragma once

#include <cstdint>
#include <string_view>

#include "ftp/session.h"

namespace ftp {

enum TransferMode : int {
    kModeRetrieve = 0,
    kModeStore = 1,
    kModeAppend = 2,
    kModeStoreUnique = 3
};

// Opens the data connection and sends RETR, STOR, APPE or STOU: 125 or 150
// when the data may flow, another reply code when the server refused (the
// data connection is closed then), or -1 with the error set.
int BeginTransfer(FtpSession& session, std::string_view remoteName, int mode,
                  std::uint64_t restartOffset);
// Closes the data connection and reads the completion reply: its code, or -1.
// A cancelled transfer is resynchronised instead and ends with 10004.
int EndTransfer(FtpSession& session);
// Closes the data connection after a failure without waiting for the
// completion reply, then resynchronises. The caller's error is kept.
void AbandonTransfer(FtpSession& session);
// Drains the command channel and checks it with NOOP, reconnecting when that
// fails. 0 or -1.
int Resync(FtpSession& session);

// Reads converted data: a line at a time for text types, up to size for
// images; without a buffer, drops buffered bytes. Bytes, 0 at the end, or -1.
int ReadData(FtpSession& session, char* buffer, int size);
// As ReadData, but returns after the first receive that gave bytes, so that a
// loop over large blocks keeps its progress and cancel checks per receive.
int ReadAvailable(FtpSession& session, char* buffer, int size);
// Converts and sends data: size, the bytes taken when a non-blocking flush
// could not go on, or -1.
int WriteData(FtpSession& session, const char* data, int size);

// The file type a transfer of this name gets: the automatic rules, or the
// session's default. localName (may be empty) is the file that sniffing reads.
int TransferFileType(FtpSession& session, std::string_view remoteName, std::string_view localName,
                     bool sniff);

}  // namespace ftp
