// The security information the control copies from the engine after each
// successful connect. Its texts belong to the connection that filled it, so
// they are read only while that connection is open.
#pragma once

#include "platform/automation.h"
#include "platform/wintypes.h"

struct ControlSecurityInfo {
    DWORD size;
    DWORD protocol;
    DWORD cipher;
    DWORD cipherStrength;
    DWORD hash;
    DWORD hashStrength;
    DWORD keyExchange;
    DWORD certificateStatus;
    SYSTEMTIME certificateIssued;
    SYSTEMTIME certificateExpires;
    const char* issuer;
    const char* subject;
    const char* fingerprint;
    // The secure shell's texts (FtpShellInfo); null for other connections.
    const char* serverVersion;
    const char* algorithms;
    const char* fingerprintSha256;
};
