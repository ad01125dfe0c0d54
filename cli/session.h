// The pieces every command shares: the control driven only through its
// dispatch interface (Session), property names as written on the command
// line, and the connection a command opens to its URL.
#pragma once

#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "cli/values.h"
#include "platform/automation.h"
#include "platform/dispatch.h"
#include "platform/unknown.h"
#include "resources/typeinfo.h"

struct ParsedCommand;
class TranscriptAdvise;

// Thrown while reading the command line; exits with kExitUsage.
struct UsageError {
    std::string message;
};

// NAME or NAME(INDEX) as written on the command line.
struct PropertyRef {
    const MemberInfo* member = nullptr;
    std::optional<LONG> index;
};

struct Assignment {
    PropertyRef property;
    std::string value;
};

// Throws UsageError for an unknown name or a malformed index.
PropertyRef ResolveProperty(std::string_view written);
// NAME=VALUE of --set.
Assignment ParseAssignment(std::string_view text);

// A VT_BSTR argument made from UTF-8 text.
void SetTextVariant(VARIANT* value, std::string_view text);

class Session {
  public:
    Session(std::ostream& out, std::ostream& err, std::istream& in);
    ~Session();

    bool Create();
    std::ostream& out() { return out_; }
    std::ostream& err() { return err_; }
    // What "-" reads for put.
    std::istream& in() { return in_; }
    IDispatch* control() { return control_.get(); }

    // Writes a property given as a literal ("--set NAME=VALUE").
    bool Assign(const Assignment& assignment);
    // Writes a property by name with a ready value.
    bool Put(std::string_view name, VARIANT* value);
    // Reads a property by name into value; prints the failure.
    bool Get(std::string_view name, VARIANT* value);

    // Reads one property (one index of an indexed one); prints it or its
    // failure. With skippable, a failure only caused by a missing engine or
    // connection leaves the property out silently.
    using Formatter = std::string (*)(const VARIANT&);
    bool Print(const MemberInfo& member, std::optional<LONG> index, bool skippable,
               bool labelled = true, Formatter format = nullptr);
    // Both entries of an indexed property unless an index is given.
    bool PrintAll(const MemberInfo& member, std::optional<LONG> index, bool skippable);
    // "Name = value" of a property by name.
    bool PrintNamed(std::string_view name, Formatter format = nullptr);

    // Calls a method by name with its arguments in written order; result may be null.
    bool Call(std::string_view name, std::span<VARIANT> arguments, VARIANT* result = nullptr);
    // Like Call, but hands the failing HRESULT back instead of printing it.
    HRESULT TryCall(std::string_view name, std::span<VARIANT> arguments, VARIANT* result = nullptr);

    // Prints "filetransfer: error N: TEXT: SUBJECT (SERVER'S REPLY)" for hr (the
    // subject when one is set, the reply for a server's refusal); returns false.
    bool Fail(HRESULT hr);
    // What the command acts on, named in its failures: the URL's path, or
    // "local file PATH".
    // quoteReply: the control's last reply is the server's own (FTP, HTTP; SFTP
    // statuses come as made-up replies).
    void SetSubject(std::string subject, bool quoteReply = true) {
        subject_ = std::move(subject);
        quoteReply_ = quoteReply;
    }
    // The local file a download writes: named instead when it cannot be created.
    void SetLocalTarget(std::string path) { localTarget_ = std::move(path); }
    // The first failure printed (S_OK when none): it decides the exit status.
    HRESULT failure() const { return failure_; }

    // -v: the protocol lines go to standard error from now on.
    // The control's transcript, written to standard error when print is set.
    void StartTranscript(bool print);
    bool verbose() const { return verbose_; }

  private:
    bool Report(HRESULT hr, EXCEPINFO& exception);
    std::string ServerRefusal(HRESULT hr);
    bool ReadQuietly(std::string_view name, VARIANT* value);

    std::ostream& out_;
    std::ostream& err_;
    std::istream& in_;
    ComPtr<IDispatch> control_;
    // Ends before the control goes.
    std::unique_ptr<TranscriptAdvise> transcript_;
    bool verbose_ = false;  // -v: the transcript is written to standard error
    HRESULT failure_ = S_OK;
    std::string subject_;
    bool quoteReply_ = true;
    std::string localTarget_;
};

// The options every command that connects accepts (see command_table.h).
//   -q, --quiet     no progress output
//   -k, --insecure  accept a server certificate that is not valid, and leave
//                   an SSH server's host key unchecked
//   --implicit      implicit TLS on any port (for ftps:// URLs)
//   --known-hosts FILE  the known_hosts file instead of ~/.ssh/known_hosts
//   -i, --identity FILE  the private key for SSH login (else ~/.ssh's default keys)
//   --no-mlsd       list with LIST even where the server offers MLSD
//   -v, --verbose   the protocol lines on stderr (see transcript_sink.h)
//   --proxy URL, --noproxy LIST  the HTTP proxy, instead of the environment's
//
// SSH host keys are checked against known_hosts (HostKeyPolicy 1 unless --set
// chose 2): an unknown host is recorded (one line on stderr says so), a changed
// or revoked key ends the command with the key's fingerprint and the entry it
// contradicts.
//
// A key's passphrase, or the login password of a URL with a user and none, is
// asked for on the terminal when a connect fails for the want of it (never
// without a terminal: the error says so instead).
//
// Connects to the URL with ThrowError on, so that a failed connect (and any
// later failure) ends with its error. With TLS, a certificate whose status
// is not valid ends the command unless --insecure was given. Returns false
// after printing the failure; the connection is then closed.
bool ConnectFor(Session& session, const std::string& url, const ParsedCommand& command);
// A secure connection whose certificate is not valid (the first one, or one a
// redirect led to) is closed with "filetransfer: certificate not valid: NAME
// (N)"; true when it was refused (or its status could not be read, which is
// printed), false when it is valid or not secure.
bool RefuseInvalidCertificate(Session& session);
// Disconnects; false after printing a failure.
bool DisconnectFrom(Session& session);

// The remote path an FTP or SFTP URL names, relative to the login folder as
// curl and lftp read such URLs: "ftp://h/a/b.txt" is "a/b.txt", "ftp://h/" is
// "" (the login folder itself), "ftp://h//srv/x" and "ftp://h/%2Fsrv/x" are
// "/srv/x". Dot segments go ("ftp://h/./a" is "a"), percent escapes are
// decoded and a ";type=" suffix is dropped. Over sftp:// a first "~/" (as curl
// names the home folder) is the login folder too: "sftp://h/~/a" is "a".
std::string UrlPath(std::string_view url);
