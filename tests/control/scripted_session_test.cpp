// Connect, the connected property paths and Disconnect against scripted FTP
// peers on loopback.
#include "method_call_support.h"
#include "session_test_support.h"

namespace {

class ScriptedSession : public SessionTest {};

// A directory the server takes is ControlTransferTest.ConnectByPropertiesReadsTheSession's.
TEST_F(ScriptedSession, WritesWhileConnectedGoToTheSession) {
    PeerScript script;
    LoginScript(script)
        .Reply("TYPE A", "200 Switching to ASCII mode.\r\n")
        .Reply("CWD /missing", "550 Failed to change directory.\r\n");
    QuitScript(script);
    ScriptedPeer peer(script);
    ASSERT_EQ(ConnectTo(peer), 0);

    EXPECT_EQ(control_->put_FileType(fileTypeASCII), S_OK);
    EXPECT_EQ(control_->put_Priority(9), S_OK);  // out of range becomes normal
    EXPECT_EQ(Long(&CFileTransfer::get_Priority), filePriorityNormal);
    EXPECT_EQ(control_->put_ActivePort(0, 30000), S_OK);
    LONG low = 0, high = 0;
    ASSERT_EQ(control_->get_ActivePort(0, &low), S_OK);
    ASSERT_EQ(control_->get_ActivePort(1, &high), S_OK);
    EXPECT_EQ(low, 4099);  // the session keeps its range ordered
    EXPECT_EQ(high, 30000);
    EXPECT_EQ(control_->put_Passive(VARIANT_FALSE), S_OK);

    // A refused change fails the write with the error; the value stays stored.
    const HRESULT hr = SetText(&CFileTransfer::put_ServerDirectory, "/missing");
    EXPECT_EQ(hr,
              MakeHResult(0x800A0000u + static_cast<DWORD>(Long(&CFileTransfer::get_LastError))));
    EXPECT_NE(Long(&CFileTransfer::get_LastError), 0);
    EXPECT_EQ(sink_->Count(kOnError), 1);  // the 550 reply notified as an error

    // Settings that must not change while connected.
    EXPECT_EQ(control_->put_SecureProtocol(fileProtocolDefault),
              MakeHResult(0x800A0000u + fileErrorAlreadyConnected));
    EXPECT_EQ(control_->put_ServerType(fileServerHTTP),
              MakeHResult(0x800A0000u + fileErrorAlreadyConnected));
    control_->Disconnect(nullptr);
    EXPECT_EQ(Text(&CFileTransfer::get_ServerDirectory), "/missing");
    EXPECT_EQ(peer.Finish(), "");
}

// The engine leaves PWD to the control, and TYPE too when the control sets a
// type of its own: each is sent once, with the events (code and text) and the
// last reply the control reports unchanged.
TEST_F(ScriptedSession, ConnectSendsPwdAndTypeOnce) {
    struct Case {
        LONG fileType;
        const char* typeCommand;
        const char* transcript;
        const char* events;
        LONG resultCode;
    };
    const Case cases[] = {
        {fileTypeAuto, "TYPE I", "USER bob|PASS secret|SYST|FEAT|TYPE I|PWD|QUIT",
         "OnCommand 257", 257},
        {fileTypeImage, "TYPE I", "USER bob|PASS secret|SYST|FEAT|PWD|TYPE I|QUIT",
         "OnCommand 257|OnCommand 200", 200},
        {fileTypeASCII, "TYPE A", "USER bob|PASS secret|SYST|FEAT|PWD|TYPE A|QUIT",
         "OnCommand 257|OnCommand 200", 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fileType);
        PeerScript script;
        script.Send("220 ready\r\n")
            .Reply("USER bob", "331 Password please.\r\n")
            .Reply("PASS ", "230 ok\r\n")
            .Reply("SYST", "215 UNIX Type: L8\r\n")
            .Reply("FEAT", "211-Features:\r\n SIZE\r\n211 End\r\n");
        if (c.fileType == fileTypeAuto) script.Reply("TYPE I", "200 Binary.\r\n");
        script.Reply("PWD", "257 \"/home/bob\"\r\n");
        if (c.fileType != fileTypeAuto) script.Reply(c.typeCommand, "200 Type set.\r\n");
        QuitScript(script);
        ScriptedPeer peer(script);
        ASSERT_EQ(control_->put_FileType(c.fileType), S_OK);
        // Features written before the connect hold for the session, whatever FEAT says.
        ASSERT_EQ(control_->put_Features(fileFeatureSIZE | fileFeatureMDTM), S_OK);
        sink_->events.clear();

        ASSERT_EQ(ConnectTo(peer), 0);
        EXPECT_EQ(Long(&CFileTransfer::get_Features), fileFeatureSIZE | fileFeatureMDTM);
        EXPECT_EQ(sink_->Trace(), c.events);
        EXPECT_EQ(sink_->events[0].arguments[1], "\"/home/bob\"");
        EXPECT_EQ(Long(&CFileTransfer::get_ResultCode), c.resultCode);
        control_->Disconnect(nullptr);
        EXPECT_EQ(Text(&CFileTransfer::get_ServerDirectory), "/home/bob");
        EXPECT_EQ(peer.Finish(), "");
        EXPECT_EQ(peer.Transcript(), c.transcript);
    }
}

TEST_F(ScriptedSession, ConnectWhileConnectedClosesTheOldConnectionFirst) {
    PeerScript first;
    QuitScript(LoginScript(first));
    PeerScript second;
    QuitScript(LoginScript(second, "carol", "/srv").Reply("PWD", "257 \"/srv\"\r\n"));
    ScriptedPeer oldPeer(first);
    ScriptedPeer newPeer(second);

    ASSERT_EQ(ConnectTo(oldPeer), 0);
    ASSERT_EQ(ConnectTo(newPeer, "carol"), 0);
    EXPECT_EQ(oldPeer.Finish(), "");
    EXPECT_EQ(oldPeer.Transcript().substr(oldPeer.Transcript().rfind('|') + 1), "QUIT");
    EXPECT_EQ(Text(&CFileTransfer::get_ServerDirectory), "/srv");
    control_->Disconnect(nullptr);
    EXPECT_EQ(newPeer.Finish(), "");
}

TEST_F(ScriptedSession, FailedDirectoryRefreshKeepsTheConnection) {
    PeerScript script;
    script.Send("220 ready\r\n")
        .Reply("USER bob", "331 Password please.\r\n")
        .Reply("PASS ", "230 ok\r\n")
        .Reply("SYST", "215 UNIX Type: L8\r\n")
        .Reply("FEAT", "500 Unknown command.\r\n")
        .Reply("TYPE I", "200 ok\r\n")
        .Reply("PWD", "550 Not allowed.\r\n");
    QuitScript(script);
    ScriptedPeer peer(script);

    EXPECT_EQ(ConnectTo(peer), 0);
    EXPECT_NE(Long(&CFileTransfer::get_LastError), 0);  // the refresh failure is recorded
    control_->Disconnect(nullptr);
    EXPECT_EQ(peer.Finish(), "") << "the session still sends QUIT";
}

TEST_F(ScriptedSession, ProxyLoginFailureClosesAndClearsTheHandle) {
    PeerScript script;
    script.Send("220 proxy ready\r\n")
        .Reply("USER bob@target.example", "331 Password please.\r\n")
        .Reply("PASS ", "530 Login incorrect.\r\n");
    QuitScript(script);
    ScriptedPeer peer(script);
    EXPECT_EQ(ConnectThroughProxy(peer), fileErrorAuthenticationFailed);
    EXPECT_EQ(Long(&CFileTransfer::get_ResultCode), 530);
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(ScriptedSession, UninitializeLeavesAStaleHandleThatDisconnectClears) {
    PeerScript script;
    LoginScript(script).ReadToEnd();
    ScriptedPeer peer(script);
    ASSERT_EQ(ConnectTo(peer), 0);
    EXPECT_EQ(control_->Uninitialize(), S_OK);
    // The engine dropped the connection: reads fail with its handle error.
    BSTR text = nullptr;
    EXPECT_EQ(control_->get_ResultString(&text), MakeHResult(0x800A0000u + fileErrorInvalidHandle));
    EXPECT_EQ(CallWithError(control_, &CFileTransfer::Disconnect), 0);
    EXPECT_EQ(Text(&CFileTransfer::get_ResultString), "");
    EXPECT_EQ(peer.Finish(), "");
}

}  // namespace
