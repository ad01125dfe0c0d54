// Scaffolding for the engine tests that talk to a scripted FTP server: the
// engine started for each test, and a session whose peer plays the login and
// then the commands a test gives it.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>

#include "ftp/ftp.h"
#include "resources/errors.h"
#include "support/scripted_peer.h"
#include "support/time_text.h"

namespace ftptest {

using testsupport::PeerScript;
using testsupport::ScriptedPeer;

inline DWORD Code(int number) {
    return MakeErrorCode(number);
}

// Checks a failed engine call: its result (-1, or 0 for flag results) and the
// last error it left, which the call set before this runs.
::testing::AssertionResult FailsWith(int error, long long result, long long failure = -1);

inline constexpr const char* kUnixSyst = "215 UNIX Type: L8\r\n";
inline constexpr const char* kNoFeatures = "211 No features\r\n";

using testsupport::TimeText;
// An entry as "name|size|mode in octal|d or f|owner:group|time".
std::string Summary(const FtpDirectoryEntry& entry);

// A multi-line FEAT reply offering the given features ("MDTM", "MLST size*;").
std::string Features(std::initializer_list<std::string_view> features);

struct SessionSetup {
    std::string syst = kUnixSyst;
    std::string feat = kNoFeatures;
    // With FTP_OPTION_NOAUTH no USER and PASS; otherwise bob logs in with "pw".
    DWORD options = 0;
    int timeout = 5;
};

// What the peer plays before a test's own commands: the greeting, the login
// and the connect's queries (PWD, SYST, FEAT, TYPE I).
PeerScript LoginScript(const SessionSetup& setup);
// The commands the client sends for that part, each followed by '|'.
std::string LoginCommands(const SessionSetup& setup);
// Adds the steps of tail to script.
void Append(PeerScript& script, const PeerScript& tail);

// Starts the engine for each test and stops it after.
class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(FtpInitialize(nullptr), 1); }
    void TearDown() override { FtpUninitialize(); }
};

// A session connected to a peer that plays the login, then commands, then
// answers QUIT.
class PeerSession {
  public:
    explicit PeerSession(const PeerScript& commands, SessionSetup setup = {});
    ~PeerSession();
    PeerSession(const PeerSession&) = delete;
    PeerSession& operator=(const PeerSession&) = delete;

    FtpClient client() const { return client_; }
    operator FtpClient() const { return client_; }
    // Disconnects, checks that the peer played its whole script, and returns
    // the commands it received between the login and QUIT, joined with '|'.
    std::string Finish();

  private:
    SessionSetup setup_;
    ScriptedPeer peer_;
    FtpClient client_ = INVALID_CLIENT;
    bool finished_ = false;
};

}  // namespace ftptest
