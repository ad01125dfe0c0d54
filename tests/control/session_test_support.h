// Helpers for the session tests: a control with an advised sink that records
// events and may act on them, scripted FTP peers that play a whole login, and
// small VARIANT builders.
#pragma once

#include "control_test_support.h"
#include "ftp/ftp.h"
#include "http/http.h"
#include "resources/errors.h"
#include "support/scripted_peer.h"

using testsupport::PeerScript;
using testsupport::ScriptedPeer;

constexpr DISPID kOnCancel = 1;
constexpr DISPID kOnCommand = 2;
constexpr DISPID kOnError = 3;
constexpr DISPID kOnTimeout = 5;

using HookedSink = RecordingSink;

inline VARIANT I4(LONG value) {
    VARIANT v{};
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

// Owns a VT_BSTR variant.
class TextVariant {
  public:
    explicit TextVariant(std::string_view text) {
        VariantInit(&value_);
        value_.vt = VT_BSTR;
        value_.bstrVal = BstrFromUtf8(text);
    }
    ~TextVariant() { VariantClear(&value_); }
    TextVariant(const TextVariant&) = delete;
    TextVariant& operator=(const TextVariant&) = delete;
    const VARIANT* get() const { return &value_; }
    operator const VARIANT*() const { return &value_; }

  private:
    VARIANT value_;
};

// A login as the engine and the control run it with the automatic file type:
// greeting, USER/PASS, the engine's SYST/FEAT/TYPE I, then the control's own
// PWD (which the engine's lazy one leaves to it). FEAT offers the features,
// each line " NAME\r\n".
inline PeerScript& LoginScript(PeerScript& script, const std::string& user = "bob",
                               const std::string& directory = "/home/bob",
                               const std::string& features = " SIZE\r\n MDTM\r\n EPSV\r\n") {
    return script.Send("220 Scripted server ready\r\n")
        .Reply("USER " + user, "331 Please specify the password.\r\n")
        .Reply("PASS ", "230 Login successful.\r\n")
        .Reply("SYST", "215 UNIX Type: L8\r\n")
        .Reply("FEAT", "211-Features:\r\n" + features + "211 End\r\n")
        .Reply("TYPE I", "200 Switching to Binary mode.\r\n")
        .Reply("PWD", "257 \"" + directory + "\" is the current directory\r\n");
}

inline PeerScript& QuitScript(PeerScript& script) {
    return script.Reply("QUIT", "221 Goodbye.\r\n");
}

class SessionTest : public ControlTest {
  protected:
    void SetUp() override {
        ControlTest::SetUp();
        sink_ = HookedSink::Create();
        ComPtr<IConnectionPoint> point;
        ASSERT_EQ(control_->FindConnectionPoint(DIID__IFileTransferEvents, point.Receive()), S_OK);
        ASSERT_EQ(point->Advise(sink_, &cookie_), S_OK);
        FtpSetLastError(0);
        HttpSetLastError(0);
    }
    void TearDown() override {
        ControlTest::TearDown();  // the control drops its sinks when it goes
        control_ = nullptr;
        if (sink_) sink_->Release();
    }

    // Connect by properties to a scripted peer on 127.0.0.1; the Error result.
    LONG ConnectTo(const ScriptedPeer& peer, const std::string& user = "bob",
                   const std::string& password = "secret", LONG timeout = 5) {
        TextVariant host("127.0.0.1");
        VARIANT port = I4(peer.port());
        TextVariant userName(user);
        TextVariant pass(password);
        VARIANT seconds = I4(timeout);
        VARIANT error{};
        EXPECT_EQ(control_->Connect(host, &port, userName, pass, &seconds, nullptr, &error), S_OK);
        EXPECT_EQ(error.vt, VT_I4);
        return error.lVal;
    }

    // Connect with only the arguments given (null = absent); the Error result.
    LONG ConnectWith(const VARIANT* name, const VARIANT* port = nullptr,
                     const VARIANT* options = nullptr, HRESULT expected = S_OK) {
        VARIANT error{};
        EXPECT_EQ(control_->Connect(name, port, nullptr, nullptr, nullptr, options, &error),
                  expected);
        return error.vt == VT_I4 ? error.lVal : -1;
    }

    // Connect to "target.example" as bob through an FTP proxy (USER user@host)
    // played by the peer; the Error result.
    LONG ConnectThroughProxy(const ScriptedPeer& proxy) {
        EXPECT_EQ(control_->put_ServerType(fileServerFTP), S_OK);
        EXPECT_EQ(control_->put_ProxyType(fileProxyFtpUser), S_OK);
        EXPECT_EQ(SetText(&CFileTransfer::put_ProxyServer, "127.0.0.1"), S_OK);
        EXPECT_EQ(control_->put_ProxyPort(proxy.port()), S_OK);
        TextVariant host("target.example");
        TextVariant user("bob");
        TextVariant password("secret");
        VARIANT timeout = I4(5);
        VARIANT error{};
        EXPECT_EQ(control_->Connect(host, nullptr, user, password, &timeout, nullptr, &error),
                  S_OK);
        return error.lVal;
    }

    HookedSink* sink_ = nullptr;
    DWORD cookie_ = 0;
};
