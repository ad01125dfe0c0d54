// Public-key login for the secure-shell connection the calling thread opens next:
// the control loads the key files before it connects, and hands them over here.
#pragma once

#include "ssh/sftp.h"

// The keys and agent use of the calling thread's next secure-shell connect, which
// takes them (connected or not).
void FtpSetLoginKeys(SftpLoginKeys keys);
// Whether that connect has a key or an agent to log in with, so that it may go
// ahead without a password.
bool FtpLoginKeysSet();
