// What the scripted listing and transfer tests share: a passive session without
// login, the peer's steps of one listing or download, and reading every entry
// through the cursor.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ftp/ftp.h"
#include "tests/ftp/data_peer.h"
#include "tests/ftp/ftp_test_support.h"

namespace ftptest {

inline SessionSetup Passive(std::string syst = kUnixSyst, std::string feat = kNoFeatures) {
    return {std::move(syst), std::move(feat), FTP_OPTION_NOAUTH | FTP_OPTION_PASSIVE};
}

// The steps of one listing whose data the peer sends, added to script: TYPE A,
// PASV, the listing command, its completion, and TYPE I again.
inline PeerScript Listing(const testsupport::DataPeer& data, const std::string& command,
                          PeerScript script = {}) {
    script.Reply("TYPE A", "200 ASCII\r\n")
        .Reply("PASV", data.PasvReply())
        .Reply(command, "150 Here comes the directory listing.\r\n")
        .Send("226 Directory send OK.\r\n")
        .Reply("TYPE I", "200 Binary\r\n");
    return script;
}

// The steps of one passive download of name whose data the peer sends: SIZE
// (answered with size), PASV, RETR and its completion.
inline PeerScript& AddDownload(PeerScript& script, const testsupport::DataPeer& data,
                               const std::string& name, std::size_t size) {
    return script.Reply("SIZE " + name, "213 " + std::to_string(size) + "\r\n")
        .Reply("PASV", data.PasvReply())
        .Reply("RETR " + name, "150 Opening\r\n")
        .Send("226 Transfer complete.\r\n");
}

// Every entry through the cursor, until it reports the end.
inline std::vector<FtpDirectoryEntry> ReadAll(FtpClient client) {
    std::vector<FtpDirectoryEntry> entries;
    FtpDirectoryEntry record{};
    if (!FtpGetFirstEntry(client, &record)) return entries;
    do {
        entries.push_back(record);
    } while (FtpGetNextEntry(client, &record));
    EXPECT_EQ(FtpGetLastError(), Code(fileErrorEndOfDirectory));
    return entries;
}

// Opens the listing of path, reads every entry and closes it.
inline std::vector<FtpDirectoryEntry> ListAll(FtpClient client, const char* path) {
    EXPECT_EQ(FtpOpenDirectory(client, path), 150) << std::hex << FtpGetLastError();
    std::vector<FtpDirectoryEntry> entries = ReadAll(client);
    EXPECT_EQ(FtpCloseDirectory(client), 226);
    return entries;
}

}  // namespace ftptest
