#include "tests/ftp/ftp_test_support.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace ftptest {

namespace {

bool LogsIn(const SessionSetup& setup) {
    return (setup.options & FTP_OPTION_NOAUTH) == 0;
}

PeerScript FullScript(const PeerScript& commands, const SessionSetup& setup) {
    PeerScript script = LoginScript(setup);
    Append(script, commands);
    script.Reply("QUIT", "221 Bye\r\n");
    return script;
}

}  // namespace

::testing::AssertionResult FailsWith(int error, long long result, long long failure) {
    const DWORD lastError = FtpGetLastError();
    if (result == failure && lastError == Code(error)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "result " << result << " with error " << std::hex << lastError << ", expected "
           << std::dec << failure << " with error " << std::hex << Code(error);
}

std::string Summary(const FtpDirectoryEntry& entry) {
    char mode[16];
    std::snprintf(mode, sizeof mode, "|%o|", entry.permissions);
    return entry.name + ("|" + std::to_string(entry.size)) + mode +
           (entry.directory ? "d|" : "f|") + entry.owner + ":" + entry.group + "|" +
           TimeText(entry.date);
}

std::string Features(std::initializer_list<std::string_view> features) {
    std::string reply = "211-Features:\r\n";
    for (std::string_view feature : features)
        reply.append(" ").append(feature).append("\r\n");
    return reply + "211 End\r\n";
}

PeerScript LoginScript(const SessionSetup& setup) {
    PeerScript script;
    script.Send("220 ready\r\n");
    if (LogsIn(setup)) {
        script.Reply("USER bob", "331 Password?\r\n").Reply("PASS pw", "230 Welcome\r\n");
    }
    script.Reply("PWD", "257 \"/home/bob\"\r\n")
        .Reply("SYST", setup.syst)
        .Reply("FEAT", setup.feat)
        .Reply("TYPE I", "200 Binary\r\n");
    return script;
}

std::string LoginCommands(const SessionSetup& setup) {
    return std::string(LogsIn(setup) ? "USER bob|PASS pw|" : "") + "PWD|SYST|FEAT|TYPE I|";
}

void Append(PeerScript& script, const PeerScript& tail) {
    using Kind = PeerScript::Kind;
    for (const PeerScript::Step& step : tail.steps()) {
        switch (step.kind) {
            case Kind::Send:
                script.SendAfter(step.delayMs, step.text);
                break;
            case Kind::Expect:
                script.Expect(step.text);
                break;
            case Kind::Stall:
                script.Stall(step.delayMs);
                break;
            case Kind::Close:
                script.Close();
                break;
            case Kind::Drop:
                script.Drop();
                break;
            case Kind::ReadToEnd:
                script.ReadToEnd();
                break;
            case Kind::Call:
                script.Call(step.callback);
                break;
        }
    }
}

PeerSession::PeerSession(const PeerScript& commands, SessionSetup setup)
    : setup_(std::move(setup)), peer_(FullScript(commands, setup_)) {
    const char* user = LogsIn(setup_) ? "bob" : nullptr;
    const char* password = LogsIn(setup_) ? "pw" : nullptr;
    client_ = FtpConnect("127.0.0.1", peer_.port(), user, password, setup_.timeout, setup_.options,
                         nullptr);
    EXPECT_NE(client_, INVALID_CLIENT) << std::hex << FtpGetLastError();
}

PeerSession::~PeerSession() {
    if (!finished_ && client_ != INVALID_CLIENT) FtpDisconnect(client_);
}

std::string PeerSession::Finish() {
    finished_ = true;
    EXPECT_EQ(FtpDisconnect(client_), 0);
    EXPECT_EQ(peer_.Finish(), "");
    const std::string transcript = peer_.Transcript();
    const std::string login = LoginCommands(setup_);
    EXPECT_EQ(transcript.rfind(login, 0), 0u) << transcript;
    std::string commands = transcript.substr(std::min(login.size(), transcript.size()));
    if (!commands.ends_with("QUIT")) {
        ADD_FAILURE() << "no QUIT at the end: " << transcript;
        return commands;
    }
    commands.resize(commands.size() - 4);
    if (commands.ends_with('|')) commands.pop_back();
    return commands;
}

}  // namespace ftptest
