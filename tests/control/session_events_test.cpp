// Events raised from engine notifications while methods wait: OnCommand for
// replies, OnTimeout for a stalled peer, OnCancel for Cancel from inside the
// wait, OnError for notified errors.
#include <chrono>

#include "method_call_support.h"
#include "session_test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

class SessionEvents : public SessionTest {
  protected:
    static long ElapsedMs(Clock::time_point start) {
        return static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    }
};

TEST_F(SessionEvents, StalledReplyRaisesOnTimeout) {
    PeerScript script;
    LoginScript(script).Expect("PWD").Stall(2000).Close();
    ScriptedPeer peer(script);
    ASSERT_EQ(ConnectTo(peer, "bob", "secret", 1), 0);
    sink_->events.clear();

    const auto start = Clock::now();
    BSTR directory = nullptr;
    // ThrowError FALSE: the read succeeds with the stored value and reports.
    EXPECT_EQ(control_->get_ServerDirectory(&directory), S_OK);
    EXPECT_EQ(Utf8FromBstr(directory), "/home/bob");
    SysFreeString(directory);
    EXPECT_LT(ElapsedMs(start), 1900);
    EXPECT_EQ(sink_->Count(kOnTimeout), 1);
    EXPECT_EQ(Long(&CFileTransfer::get_LastError), fileErrorOperationTimeout);
    // The notified error, then the read's own report.
    EXPECT_EQ(sink_->Trace(), "OnError 10060|OnTimeout|OnError 10060");
    control_->Disconnect(nullptr);
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(SessionEvents, CancelDuringTheProxyLoginRaisesOnCancelAtOnce) {
    PeerScript script;
    script.Send("220 proxy ready\r\n")
        .Reply("USER bob@target.example", "331 Password please.\r\n")
        .Reply("PASS ", "230 Logged in.\r\n")
        .Reply("SYST", "215 UNIX Type: L8\r\n")
        .Reply("PWD", "257 \"/\"\r\n");
    QuitScript(script);
    ScriptedPeer peer(script);
    // A second Cancel finds the login over and raises nothing.
    sink_->hook = [&](const RecordingSink::Event& event) {
        if (event.dispid != kOnCommand || event.arguments[0] != "331") return;
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(CallWithError(control_, &CFileTransfer::Cancel), 0);
        }
    };
    ConnectThroughProxy(peer);
    EXPECT_EQ(sink_->Count(kOnCancel), 1);
    EXPECT_EQ(sink_->Trace().substr(0, 24), "OnCommand 331|OnCancel|O");
    sink_->hook = nullptr;
    control_->Disconnect(nullptr);
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(SessionEvents, CancelWhileIdleRaisesNothing) {
    EXPECT_EQ(CallWithError(control_, &CFileTransfer::Cancel), 0);
    EXPECT_TRUE(sink_->events.empty());
}

TEST_F(SessionEvents, NotifiedErrorsRaiseOnErrorWithoutFailing) {
    ASSERT_EQ(control_->put_ServerType(fileServerFTP), S_OK);
    // A reply notified with an error: OnError only, no OnCommand.
    control_->HandleNotification(0, (fileErrorFileNotFound << 16) | FTP_EVENT_COMMAND);
    EXPECT_EQ(sink_->Trace(), "OnError 10002");
    // A time-out with its error: both events.
    control_->HandleNotification(0, (fileErrorOperationTimeout << 16) | FTP_EVENT_TIMEOUT);
    EXPECT_EQ(sink_->Trace(), "OnError 10002|OnError 10060|OnTimeout");
    // The HTTP engine numbers its events differently: 32 is its cancel.
    ASSERT_EQ(control_->put_ServerType(fileServerHTTP), S_OK);
    control_->HandleNotification(0, 32);
    control_->HandleNotification(0, FTP_EVENT_CANCEL);  // unknown to the HTTP side
    EXPECT_EQ(sink_->Trace(), "OnError 10002|OnError 10060|OnTimeout|OnCancel");
    EXPECT_EQ(Long(&CFileTransfer::get_LastError), fileErrorOperationTimeout);
}

TEST_F(SessionEvents, ReentrantDisconnectFromAnOnCommandHandlerIsSafe) {
    PeerScript script;
    QuitScript(LoginScript(script).Reply("SYST", "215 UNIX Type: L8\r\n"));
    ScriptedPeer peer(script);
    ASSERT_EQ(ConnectTo(peer), 0);
    sink_->hook = [&](const RecordingSink::Event& event) {
        if (event.dispid == kOnCommand && event.arguments[0] == "215")
            control_->Disconnect(nullptr);
    };
    BSTR system = nullptr;
    control_->get_System(&system);
    SysFreeString(system);
    sink_->hook = nullptr;
    EXPECT_EQ(Text(&CFileTransfer::get_System), "") << "no session left to ask";
    EXPECT_EQ(peer.Finish(), "");
}

}  // namespace
