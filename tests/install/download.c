/* A C11 program built against the installed library: downloads one file over
 * FTP through the engine's interface, to a file and into a memory block that
 * it reads and frees.
 * Usage: download HOST PORT USER PASSWORD REMOTE LOCAL */
#include <stdio.h>
#include <stdlib.h>

#include <ftp/ftp.h>

static int Fail(const char* what) {
    char text[FTP_MAX_REPLY];
    FtpGetErrorString(0, text);
    fprintf(stderr, "download: %s failed: 0x%08lX %s\n", what, (unsigned long)FtpGetLastError(),
            text);
    return 1;
}

int main(int argc, char** argv) {
    if (argc != 7) {
        fprintf(stderr, "usage: download HOST PORT USER PASSWORD REMOTE LOCAL\n");
        return 2;
    }
    FtpLibraryInfo info = {.size = FTP_LIBRARY_INFO_SIZE};
    if (!FtpInitialize(&info)) return Fail("FtpInitialize");
    FtpClient client =
        FtpConnect(argv[1], atoi(argv[2]), argv[3], argv[4], 10, FTP_OPTION_PASSIVE, NULL);
    if (client == INVALID_CLIENT) return Fail("FtpConnect");
    int result = FtpGetFile(client, argv[6], argv[5], 0, 0);
    if (result != 0) return Fail("FtpGetFile");
    HGLOBAL block = NULL;
    DWORD length = 0;
    if (FtpGetData(client, argv[5], &block, &length) != 0) return Fail("FtpGetData");
    const char* bytes = GlobalLock(block);
    if (!bytes || GlobalSize(block) < length || length == 0 || bytes[length - 1] != '\n') {
        fprintf(stderr, "download: the memory block does not hold the file\n");
        return 1;
    }
    GlobalUnlock(block);
    if (GlobalFree(block) != NULL) return Fail("GlobalFree");
    FtpDisconnect(client);
    FtpUninitialize();
    return 0;
}
