// The transcript: the protocol lines a thread's engines send and receive
// (FTP commands and replies, HTTP request and response heads) and their
// information lines (the TLS session), handed to one callback per thread. It
// is meant for people reading along (the command line's -v); the trace file
// (trace.h) is the record of socket calls.
//
// Secrets never reach the callback: a sent line whose first word is PASS or
// ACCT keeps only that word, an Authorization or Proxy-Authorization header
// only its name, each followed by " ****". Control characters of received
// lines become '?', and a line is cut at NET_TRANSCRIPT_MAX_LINE bytes.
#pragma once

#include <stddef.h>

extern "C" {

#define NET_TRANSCRIPT_INFO 0      // what the engine tells
#define NET_TRANSCRIPT_SENT 1      // a line that went to the peer
#define NET_TRANSCRIPT_RECEIVED 2  // a line that came from the peer
#define NET_TRANSCRIPT_MAX_LINE 1024

// One line without its line end.
typedef void (*NetTranscriptProc)(void* user, int kind, const char* text, size_t length);

// Sets the calling thread's callback (null turns the transcript off).
void NetSetTranscript(NetTranscriptProc proc, void* user);
// The user value of the calling thread's callback, null when none is set.
void* NetTranscriptUser(void);
// 1 when the calling thread has a callback, so that texts are worth building.
int NetTranscriptActive(void);
// Hands each line of a block (lines ended by CRLF or LF; empty lines are
// left out) to the callback, masked as said above.
void NetTranscriptLines(int kind, const char* text, size_t length);

}  // extern "C"
