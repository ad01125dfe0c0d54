#include "cli/session.h"

#include <algorithm>
#include <charconv>
#include <filesystem>

#include "cli/command_table.h"
#include "cli/hresult_text.h"
#include "cli/netrc.h"
#include "cli/prompt.h"
#include "cli/transcript_sink.h"
#include "control/FileTransfer.h"
#include "control/class_factory.h"
#include "platform/file.h"
#include "platform/text.h"
#include "platform/wipe.h"
#include "resources/version.h"
#include "url/proxy_env.h"
#include "url/urlparts.h"

namespace {

// A quoted reply is cut to this many characters.
constexpr std::size_t kMaxQuotedReply = 200;
constexpr int kExitNotFound = 78;

// Whether a local file cannot be made because its folder is missing.
bool LocalFolderMissing(const std::string& path) {
    std::error_code error;
    const std::filesystem::path file(path);
    return file.has_parent_path() && !std::filesystem::is_directory(file.parent_path(), error);
}

// Reads that only fail because no engine is started or no connection is open.
constexpr int kSkippedWithoutSession[] = {fileErrorNetworkNotInitialized, fileErrorNotConnected};

constexpr LONG kImplicitTls = fileOptionSecureImplicit;
constexpr LONG kExplicitTls = fileOptionSecureExplicit;

std::optional<LONG> ParseIndex(std::string_view text) {
    LONG value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

HRESULT EffectiveResult(HRESULT hr, const EXCEPINFO& exception) {
    return hr == DISP_E_EXCEPTION && exception.scode != 0 ? exception.scode : hr;
}

bool IsSkippable(HRESULT hr, const EXCEPINFO& exception) {
    const HRESULT effective = EffectiveResult(hr, exception);
    for (int number : kSkippedWithoutSession) {
        if (effective == kAutomationErrorBase + number) return true;
    }
    return false;
}

HRESULT IdOfName(IDispatch* control, std::string_view name, DISPID* dispid) {
    return DispatchGetIdOfName(control, Utf8ToUtf16(name), dispid);
}

LONG ReadLong(Session& session, std::string_view name, bool* ok) {
    ScopedVariant value;
    *ok = *ok && session.Get(name, value.get());
    return *ok && (*value).vt == VT_I4 ? (*value).lVal : 0;
}

bool WriteLong(Session& session, std::string_view name, LONG number) {
    ScopedVariant value;
    value.get()->vt = VT_I4;
    value.get()->lVal = number;
    return session.Put(name, value.get());
}

// --implicit: the URL's host, port and credentials, then implicit TLS
// whatever the port.
bool ApplyUrlForImplicitTls(Session& session, const std::string& url) {
    ScopedVariant text;
    SetTextVariant(text.get(), url);
    bool ok = session.Put("URL", text.get());
    const LONG options = ReadLong(session, "Options", &ok);
    return ok && WriteLong(session, "Options", (options | kImplicitTls) & ~kExplicitTls);
}

// Host keys of SSH servers: off with --insecure, else new hosts are recorded
// unless --set chose strict checking.
bool ApplyHostKeyPolicy(Session& session, const ParsedCommand& command) {
    bool ok = true;
    const LONG policy = ReadLong(session, "HostKeyPolicy", &ok);
    if (!ok) return false;
    if (command.Has("--insecure"))
        ok = WriteLong(session, "HostKeyPolicy", fileHostKeyOff);
    else if (policy == fileHostKeyOff)
        ok = WriteLong(session, "HostKeyPolicy", fileHostKeyAcceptNew);
    if (const std::optional<std::string> file = command.Value("--known-hosts"); ok && file) {
        ScopedVariant text;
        SetTextVariant(text.get(), *file);
        ok = session.Put("KnownHostsFile", text.get());
    }
    return ok;
}

// Public-key login: -i names the key file; without it OpenSSH's default keys in
// ~/.ssh are tried. The agent is asked either way (UseAgent).
bool ApplyIdentity(Session& session, const ParsedCommand& command) {
    if (const std::optional<std::string> file = command.Value("--identity")) {
        ScopedVariant text;
        SetTextVariant(text.get(), *file);
        return session.Put("PrivateKey", text.get());
    }
    ScopedVariant on;
    on.get()->vt = VT_BOOL;
    on.get()->boolVal = VARIANT_TRUE;
    return session.Put("DefaultIdentities", on.get());
}

// --max-decoded-size and --max-decoded-ratio (checked when the words were read).
bool ApplyDecodeLimits(Session& session, const ParsedCommand& command) {
    if (const auto size = command.Value("--max-decoded-size")) {
        ScopedVariant value;
        value.get()->vt = VT_I8;
        value.get()->llVal = DecimalOption(*size, kMaxDecodedSize).value_or(0);
        if (!session.Put("MaxDecodedSize", value.get())) return false;
    }
    const auto ratio = command.Value("--max-decoded-ratio");
    return !ratio ||
           WriteLong(session, "MaxDecodedRatio",
                     static_cast<LONG>(DecimalOption(*ratio, kMaxDecodedRatio).value_or(0)));
}

// The login of a command: the user and password (percent-decoded) of the URL's
// authority, of -u, or of the netrc file, and the URL without them.
struct UrlLogin {
    std::string user;
    std::string host;
    SecretBytes password;
    bool hasPassword = false;
    std::string bareUrl;  // the URL without its user and password
    bool apart = false;   // UserName and Password are set apart from the URL
};

void SplitUserInfo(std::string_view info, UrlLogin& login) {
    const std::size_t colon = info.find(':');
    login.user = urlparts::PercentDecoded(info.substr(0, colon));
    login.hasPassword = colon != std::string_view::npos;
    if (!login.hasPassword) return;
    std::string password = urlparts::PercentDecoded(info.substr(colon + 1));
    login.password.assign(password);
    SecureWipe(password.data(), password.size());
}

UrlLogin LoginOf(std::string_view url) {
    UrlLogin login;
    std::size_t start = 0;
    if (const std::size_t scheme = url.find("://"); scheme != std::string_view::npos)
        start = scheme + 3;
    std::string_view authority = url.substr(start);
    authority = authority.substr(0, authority.find('/'));
    login.bareUrl = std::string(url);
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) {
        SplitUserInfo(authority.substr(0, at), login);
        login.bareUrl.erase(start, at + 1);
        login.apart = true;
        authority.remove_prefix(at + 1);
    }
    const bool bracketed = !authority.empty() && authority[0] == '[';
    login.host =
        std::string(authority.substr(0, bracketed ? authority.find(']') + 1 : authority.find(':')));
    return login;
}

constexpr std::size_t kMaxNetrcBytes = 64 * 1024;

// A small file whole into a wiping buffer; false when it cannot be read or is
// larger than limit.
bool ReadSmallFile(const std::string& path, std::size_t limit, SecretBytes* text) {
    platform::LocalFile file;
    if (file.Open(path, platform::FileAccess::Read, platform::FileDisposition::OpenExisting) != 0)
        return false;
    const std::int64_t size = file.Size();
    if (size < 0 || static_cast<std::uint64_t>(size) > limit) return false;
    const std::span<char> room = text->Resize(static_cast<std::size_t>(size));
    for (std::size_t got = 0; got < room.size();) {
        const std::int64_t read = file.Read(room.data() + got, room.size() - got);
        if (read <= 0) return false;
        got += static_cast<std::size_t>(read);
    }
    return true;
}

// -u USER[:PASSWORD] wins over the URL's login; with -n (~/.netrc) or
// --netrc-file a URL without a password takes the host's entry. A netrc file
// that others may read is refused, as OpenSSH refuses such key files.
bool ResolveLogin(Session& session, const ParsedCommand& command, UrlLogin& login) {
    if (const std::optional<std::string> given = command.Value("--user")) {
        SplitUserInfo(*given, login);
        login.apart = true;
        return true;
    }
    std::optional<std::string> netrc = command.Value("--netrc-file");
    if (!netrc && command.Has("--netrc")) netrc = platform::HomeDirectory() + "/.netrc";
    if (!netrc || login.hasPassword) return true;
    if (!platform::FileExists(*netrc)) {
        if (command.Has("--netrc-file")) {
            session.err() << "filetransfer: netrc file " << *netrc << " does not exist\n";
            return false;
        }
        return true;  // -n without a ~/.netrc: nothing to add
    }
    if (!platform::FileIsPrivate(*netrc)) {
        session.err() << "filetransfer: netrc file " << *netrc
                      << " may be read by others: refused (chmod 600 it)\n";
        return false;
    }
    SecretBytes text;
    if (!ReadSmallFile(*netrc, kMaxNetrcBytes, &text)) {
        session.err() << "filetransfer: cannot read netrc file " << *netrc << "\n";
        return false;
    }
    std::optional<NetrcLogin> entry = FindNetrcLogin(text.view(), login.host, login.user);
    if (!entry) return true;
    login.user = entry->login;
    login.password = std::move(entry->password);
    login.hasPassword = entry->hasPassword;
    login.apart = true;
    return true;
}

// Writes a secret property; the BSTR's characters are wiped before it is freed.
bool PutSecret(Session& session, std::string_view name, const SecretBytes& secret) {
    ScopedVariant text;
    SetTextVariant(text.get(), secret.view());
    const bool ok = session.Put(name, text.get());
    if ((*text).vt == VT_BSTR && (*text).bstrVal)
        SecureWipe((*text).bstrVal, SysStringLen((*text).bstrVal) * sizeof(OLECHAR));
    return ok;
}

// A password written with --set before is kept for a URL that names the same
// user (or any user, when --set named none) without a password of its own.
void KeepSetPassword(Session& session, UrlLogin& login) {
    if (login.hasPassword) return;
    ScopedVariant password, user;
    if (!session.Get("Password", password.get()) || (*password).vt != VT_BSTR ||
        SysStringLen((*password).bstrVal) == 0 || !session.Get("UserName", user.get()) ||
        (*user).vt != VT_BSTR)
        return;
    const std::string setUser = Utf16ToUtf8(BstrView((*user).bstrVal));
    if (!setUser.empty() && setUser != login.user) return;
    std::string text = Utf16ToUtf8(BstrView((*password).bstrVal));
    login.password.assign(text);
    login.hasPassword = true;
    SecureWipe(text.data(), text.size());
    SecureWipe((*password).bstrVal, SysStringLen((*password).bstrVal) * sizeof(OLECHAR));
}

HRESULT TryConnect(Session& session, UrlLogin& login, const ParsedCommand& command) {
    if (!login.apart && !command.Has("--implicit")) {
        ScopedVariant serverName;
        SetTextVariant(serverName.get(), login.bareUrl);
        return session.TryCall("Connect", std::span<VARIANT>(serverName.get(), 1));
    }
    if (login.apart) KeepSetPassword(session, login);
    bool applied = false;
    if (command.Has("--implicit")) {
        applied = ApplyUrlForImplicitTls(session, login.bareUrl);
    } else {
        ScopedVariant url;
        SetTextVariant(url.get(), login.bareUrl);
        applied = session.Put("URL", url.get());
    }
    if (!applied) return E_FAIL;
    if (login.apart) {
        ScopedVariant user;
        SetTextVariant(user.get(), login.user);
        if (!session.Put("UserName", user.get())) return E_FAIL;
        // Empty without one: a URL without a login leaves an anonymous password.
        if (!PutSecret(session, "Password", login.password)) return E_FAIL;
    }
    return session.TryCall("Connect", {});
}

// What to ask after a failed connect: a key's passphrase (again, at most three
// times), or once the login password of a user given without one.
enum class Ask { Nothing, Passphrase, Password };

Ask WhatToAsk(Session& session, const ParsedCommand& command, const UrlLogin& login,
              int passphrasesAsked, bool passwordAsked) {
    bool ok = true;
    const LONG error = ReadLong(session, "LastError", &ok);
    if (!ok) return Ask::Nothing;
    if (error == fileErrorPrivateKeyPassphrase && command.Has("--identity"))
        return passphrasesAsked < 3 ? Ask::Passphrase : Ask::Nothing;
    const bool refused = error == fileErrorAuthenticationFailed ||
                         error == fileErrorInvalidAuthenticationType ||
                         error == fileErrorInvalidPassword;
    // After a passphrase, Password holds it: it cannot be the login password too.
    if (refused && !passwordAsked && passphrasesAsked == 0 && !login.user.empty() &&
        !login.hasPassword) {
        ScopedVariant password;
        if (session.Get("Password", password.get()) && (*password).vt == VT_BSTR &&
            SysStringLen((*password).bstrVal) == 0)
            return Ask::Password;
    }
    return Ask::Nothing;
}

// Connects, asking for what is missing when a terminal is there to ask.
HRESULT ConnectAsking(Session& session, const std::string& url, const ParsedCommand& command) {
    UrlLogin login = LoginOf(url);
    if (!ResolveLogin(session, command, login)) return E_FAIL;
    int passphrasesAsked = 0;
    bool passwordAsked = false;
    HRESULT hr = TryConnect(session, login, command);
    while (FAILED(hr)) {
        const Ask ask = WhatToAsk(session, command, login, passphrasesAsked, passwordAsked);
        if (ask == Ask::Nothing) break;
        if (!CanPrompt()) {
            session.err() << "filetransfer: standard input is not a terminal: cannot ask for the "
                          << (ask == Ask::Passphrase ? "passphrase" : "password") << "\n";
            break;
        }
        SecretBytes secret;
        const std::string prompt =
            ask == Ask::Passphrase
                ? "Enter passphrase for key '" + *command.Value("--identity") + "': "
                : login.user + "@" + login.host + "'s password: ";
        if (ask == Ask::Passphrase)
            ++passphrasesAsked;
        else
            passwordAsked = true;
        if (!PromptSecret(prompt, &secret) || !PutSecret(session, "Password", secret)) break;
        // The URL is applied already; given again it would clear Password.
        hr = session.TryCall("Connect", {});
    }
    return hr;
}

// The check's line for the user: a recorded host, or a key that could not be
// recorded. A refusal is told by the error line itself.
void ReportHostKey(Session& session, bool connected) {
    bool ok = true;
    const LONG status = ReadLong(session, "HostKeyStatus", &ok);
    ScopedVariant text;
    if (!ok || status == fileHostKeyNotChecked || status == fileHostKeyKnown ||
        !session.Get("HostKeyText", text.get()) || (*text).vt != VT_BSTR)
        return;
    const std::string line = Utf16ToUtf8(BstrView((*text).bstrVal));
    if (status == fileHostKeyAdded)
        session.err() << line << "\n";
    else if (connected && !line.empty())
        session.err() << "filetransfer: warning: " << line << "\n";
}

// A secure connection whose certificate is not valid is closed again. SSH
// sessions have no certificate (their host key is checked while connecting).
// --insecure is the decision for every server of the command: the servers a
// redirect leads to are accepted the same way.
bool AcceptCertificate(Session& session, const ParsedCommand& command) {
    bool ok = true;
    const LONG options = ReadLong(session, "Options", &ok);
    if (!ok) return false;
    if (command.Has("--insecure"))
        return WriteLong(session, "Options", options | fileOptionAcceptInvalidCertificate);
    if (options & fileOptionSecureShell) return true;
    return !RefuseInvalidCertificate(session);
}

}  // namespace

bool RefuseInvalidCertificate(Session& session) {
    ScopedVariant secure;
    if (!session.Get("Secure", secure.get())) return true;
    if ((*secure).vt != VT_BOOL || (*secure).boolVal == VARIANT_FALSE) return false;
    bool ok = true;
    const LONG status = ReadLong(session, "CertificateStatus", &ok);
    if (!ok) return true;
    if (status == fileCertificateValid) return false;
    session.TryCall("Disconnect", {});
    session.err() << "filetransfer: certificate not valid: "
                  << ConstantName("CertificateConstants", status) << " (" << status << ")\n";
    return true;
}

PropertyRef ResolveProperty(std::string_view written) {
    PropertyRef ref;
    std::string_view name = written;
    if (std::size_t open = written.find('('); open != std::string_view::npos) {
        if (written.back() != ')')
            throw UsageError{"malformed property name " + std::string(written)};
        name = written.substr(0, open);
        ref.index = ParseIndex(written.substr(open + 1, written.size() - open - 2));
        if (!ref.index) throw UsageError{"malformed property index in " + std::string(written)};
    }
    ref.member = FindMemberByName(name);
    if (!ref.member || !ref.member->IsProperty()) {
        throw UsageError{"unknown property " + std::string(name)};
    }
    if (ref.index && !ref.member->IsIndexed()) {
        throw UsageError{std::string(ref.member->name) + " takes no index"};
    }
    return ref;
}

Assignment ParseAssignment(std::string_view text) {
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos || equals == 0) {
        throw UsageError{"malformed --set " + std::string(text)};
    }
    Assignment assignment{ResolveProperty(text.substr(0, equals)),
                          std::string(text.substr(equals + 1))};
    if (assignment.property.member->IsIndexed() && !assignment.property.index) {
        throw UsageError{std::string(assignment.property.member->name) + " needs an index"};
    }
    return assignment;
}

void SetTextVariant(VARIANT* value, std::string_view text) {
    VariantClear(value);
    value->vt = VT_BSTR;
    value->bstrVal = BstrFromUtf8(text);
}

Session::Session(std::ostream& out, std::ostream& err, std::istream& in)
    : out_(out), err_(err), in_(in) {}

// Destroying the control leaves its connection open until the process ends, so
// the paths that return early (a failed command after the connect) close it here.
Session::~Session() {
    transcript_.reset();
    if (control_) TryCall("Disconnect", {});
}

void Session::StartTranscript(bool print) {
    if (transcript_ || !control_) return;
    verbose_ = print;
    transcript_ = std::make_unique<TranscriptAdvise>(control_.get(), print ? &err_ : nullptr);
}

bool Session::Create() {
    const HRESULT hr = CreateControlByProgId(Utf8ToUtf16(kProgId), IID_IDispatch,
                                             reinterpret_cast<void**>(control_.Receive()));
    return SUCCEEDED(hr) || Fail(hr);
}

bool Session::Assign(const Assignment& assignment) {
    ScopedVariant value;
    LiteralToVariant(assignment.value, value.get());
    ScopedVariant index;
    std::span<VARIANT> indices;
    if (assignment.property.index) {
        LiteralToVariant(std::to_string(*assignment.property.index), index.get());
        indices = std::span<VARIANT>(index.get(), 1);
    }
    EXCEPINFO exception{};
    DISPID dispid = DISPID_UNKNOWN;
    HRESULT hr = IdOfName(control_.get(), assignment.property.member->name, &dispid);
    if (SUCCEEDED(hr)) {
        hr = DispatchPutProperty(control_.get(), dispid, indices, value.get(), &exception);
    }
    return Report(hr, exception);
}

bool Session::Put(std::string_view name, VARIANT* value) {
    EXCEPINFO exception{};
    DISPID dispid = DISPID_UNKNOWN;
    HRESULT hr = IdOfName(control_.get(), name, &dispid);
    if (SUCCEEDED(hr)) hr = DispatchPutProperty(control_.get(), dispid, {}, value, &exception);
    return Report(hr, exception);
}

bool Session::Get(std::string_view name, VARIANT* value) {
    EXCEPINFO exception{};
    DISPID dispid = DISPID_UNKNOWN;
    HRESULT hr = IdOfName(control_.get(), name, &dispid);
    if (SUCCEEDED(hr)) hr = DispatchGetProperty(control_.get(), dispid, {}, value, &exception);
    return Report(hr, exception);
}

bool Session::Print(const MemberInfo& member, std::optional<LONG> index, bool skippable,
                    bool labelled, Formatter format) {
    ScopedVariant value;
    ScopedVariant indexValue;
    std::span<VARIANT> indices;
    std::string label = member.name;
    if (index) {
        LiteralToVariant(std::to_string(*index), indexValue.get());
        indices = std::span<VARIANT>(indexValue.get(), 1);
        label += "(" + std::to_string(*index) + ")";
    }
    EXCEPINFO exception{};
    const HRESULT hr =
        DispatchGetProperty(control_.get(), member.dispid, indices, value.get(), &exception);
    if (FAILED(hr)) {
        if (skippable && IsSkippable(hr, exception)) {
            ClearExcepInfo(&exception);
            return true;
        }
        return Report(hr, exception);
    }
    if (labelled) out_ << label << " = ";
    out_ << (format ? format(*value) : VariantToDisplay(*value)) << "\n";
    return true;
}

bool Session::PrintAll(const MemberInfo& member, std::optional<LONG> index, bool skippable) {
    if (!member.IsIndexed() || index) return Print(member, index, skippable);
    return Print(member, 0, skippable) && Print(member, 1, skippable);
}

bool Session::PrintNamed(std::string_view name, Formatter format) {
    const MemberInfo* member = FindMemberByName(name);
    return member ? Print(*member, std::nullopt, false, true, format) : Fail(DISP_E_UNKNOWNNAME);
}

HRESULT Session::TryCall(std::string_view name, std::span<VARIANT> arguments, VARIANT* result) {
    DISPID dispid = DISPID_UNKNOWN;
    HRESULT hr = IdOfName(control_.get(), name, &dispid);
    ScopedVariant ignored;
    EXCEPINFO exception{};
    if (SUCCEEDED(hr)) {
        hr = DispatchCall(control_.get(), dispid, arguments, result ? result : ignored.get(),
                          &exception);
    }
    const HRESULT effective = EffectiveResult(hr, exception);
    ClearExcepInfo(&exception);
    return FAILED(hr) ? effective : hr;
}

bool Session::Call(std::string_view name, std::span<VARIANT> arguments, VARIANT* result) {
    const HRESULT hr = TryCall(name, arguments, result);
    return SUCCEEDED(hr) || Fail(hr);
}

bool Session::Fail(HRESULT hr) {
    if (SUCCEEDED(failure_)) failure_ = hr;
    // The control's own text may say more than the number's (LastErrorString).
    std::string reported;
    ScopedVariant text;
    if (ReadQuietly("LastErrorString", text.get()) && (*text).vt == VT_BSTR)
        reported = Utf8FromBstr((*text).bstrVal);
    err_ << "filetransfer: " << DescribeFailure(hr, reported);
    if (!localTarget_.empty() && (IsFileNotCreated(hr) || (ExitStatusOf(hr) == kExitNotFound &&
                                                           LocalFolderMissing(localTarget_))))
        err_ << ": local file " << localTarget_;
    else if (!subject_.empty())
        err_ << ": " << subject_;
    if (const std::string reply = ServerRefusal(hr); !reply.empty()) err_ << " (" << reply << ")";
    err_ << "\n";
    return false;
}

// A property of the control, without printing a failure.
bool Session::ReadQuietly(std::string_view name, VARIANT* value) {
    DISPID dispid = DISPID_UNKNOWN;
    EXCEPINFO exception{};
    const bool read = control_ && SUCCEEDED(IdOfName(control_.get(), name, &dispid)) &&
                      SUCCEEDED(DispatchGetProperty(control_.get(), dispid, {}, value, &exception));
    ClearExcepInfo(&exception);
    return read;
}

// The server's reply to quote after a failure that is its refusal (a file it
// has not, a command or login it refused): its first line, as it came.
std::string Session::ServerRefusal(HRESULT hr) {
    if (!control_ || !quoteReply_ || !IsServerRefusal(hr)) return {};
    ScopedVariant code, text;
    if (!ReadQuietly("ResultCode", code.get()) || !ReadQuietly("ResultString", text.get()) ||
        (*code).vt != VT_I4 || (*text).vt != VT_BSTR) {
        return {};
    }
    std::string reply = Utf8FromBstr((*text).bstrVal);
    if (reply.empty() && transcript_) {
        // No connection is left after a refused login: the transcript kept its reply.
        return transcript_->lastRefusal().substr(0, kMaxQuotedReply);
    }
    if ((*code).lVal < 400) return {};
    reply = reply.substr(0, std::min(reply.find_first_of("\r\n"), kMaxQuotedReply));
    if (reply.empty()) return {};
    // FTP replies carry their code; HTTP's status text does not.
    const std::string number = std::to_string((*code).lVal);
    return reply.starts_with(number) ? reply : number + " " + reply;
}

bool Session::Report(HRESULT hr, EXCEPINFO& exception) {
    const HRESULT effective = EffectiveResult(hr, exception);
    ClearExcepInfo(&exception);
    return SUCCEEDED(hr) || Fail(effective);
}

namespace {

bool WriteText(Session& session, std::string_view name, std::string_view text) {
    ScopedVariant value;
    SetTextVariant(value.get(), text);
    return session.Put(name, value.get());
}

// The proxy of an http:// or https:// URL: --proxy (empty: none), else the
// environment's (url/proxy_env.h) unless --noproxy exempts the host. FTP and
// SSH URLs always go direct. The proxy's login goes to the proxy only.
bool ApplyProxy(Session& session, const std::string& url, const ParsedCommand& command) {
    const std::size_t mark = url.find("://");
    const std::string scheme = mark == std::string::npos ? "" : url.substr(0, mark);
    const bool https = urlparts::EqualsIgnoreCase(scheme, "https");
    if (!https && !urlparts::EqualsIgnoreCase(scheme, "http")) {
        const auto given = command.Value("--proxy");
        if (session.verbose() && given && !given->empty()) {
            TellInformation(session.err(), "no proxy for " + scheme +
                                               "://: --proxy serves http:// and https:// only");
        }
        return true;
    }
    const std::string host = LoginOf(url).host;
    std::string proxy;
    std::string origin = "--proxy";
    if (const auto given = command.Value("--proxy")) {
        proxy = *given;
    } else {
        proxyenv::ProxyEnvironment environment = proxyenv::ReadProxyEnvironment();
        if (const auto list = command.Value("--noproxy")) environment.noProxy = *list;
        proxy = proxyenv::EnvironmentProxyFor(environment, scheme, host);
        origin = https ? (environment.https.empty() ? "all_proxy" : "https_proxy")
                       : (environment.http.empty() ? "all_proxy" : "http_proxy");
        WipeString(environment.http);
        WipeString(environment.https);
        WipeString(environment.all);
    }
    const auto exempt = command.Value("--noproxy");
    if (proxy.empty() || (exempt && proxyenv::NoProxyExempts(*exempt, host))) {
        WipeString(proxy);
        return true;
    }
    std::optional<proxyenv::ProxyUrl> parsed = proxyenv::ParseProxyUrl(proxy);
    WipeString(proxy);
    if (!parsed) {
        session.err() << "filetransfer: the proxy of " << origin
                      << " is not http://[USER[:PASSWORD]@]HOST[:PORT]\n";
        return false;
    }
    if (session.verbose()) {
        TellInformation(session.err(), "proxy " + parsed->host + ":" +
                                           std::to_string(parsed->port) + " (" + origin + ")");
    }
    bool ok = WriteText(session, "ProxyServer", parsed->host) &&
              WriteLong(session, "ProxyPort", parsed->port) &&
              WriteText(session, "ProxyUser", parsed->user);
    const SecretBytes password(parsed->password);
    WipeString(parsed->password);
    ok = ok && PutSecret(session, "ProxyPassword", password) &&
         WriteLong(session, "ProxyType", https ? fileProxyTunnel : fileProxyCern);
    return ok;
}

// -v over SSH: what the key exchange settled, from the control's properties.
void TellShellSession(Session& session) {
    ScopedVariant algorithms;
    if (!session.Get("SecureAlgorithms", algorithms.get()) ||
        VariantToDisplay(*algorithms).empty()) {
        return;
    }
    constexpr std::pair<const char*, const char*> kLines[] = {
        {"ServerVersion", "SSH server: "},
        {"SecureAlgorithms", "SSH algorithms: "},
        {"FingerprintSHA256", "SSH host key: "},
    };
    for (const auto& [name, label] : kLines) {
        ScopedVariant value;
        if (session.Get(name, value.get())) {
            TellInformation(session.err(), label + VariantToDisplay(*value));
        }
    }
}

}  // namespace

bool ConnectFor(Session& session, const std::string& url, const ParsedCommand& command) {
    session.StartTranscript(command.Has("--verbose"));
    if (!ApplyProxy(session, url, command)) return false;
    ScopedVariant on;
    on.get()->vt = VT_BOOL;
    on.get()->boolVal = VARIANT_TRUE;
    if (!session.Put("ThrowError", on.get()) || !ApplyHostKeyPolicy(session, command) ||
        !ApplyIdentity(session, command))
        return false;
    if (command.Has("--compressed-ssh")) {
        bool ok = true;
        const LONG options = ReadLong(session, "Options", &ok);
        if (!ok || !WriteLong(session, "Options", options | fileOptionCompressedShell))
            return false;
    }
    if (!ApplyDecodeLimits(session, command)) return false;
    if (command.Has("--no-mlsd")) {
        ScopedVariant off;
        off.get()->vt = VT_BOOL;
        off.get()->boolVal = VARIANT_FALSE;
        if (!session.Put("UseMlsd", off.get())) return false;
    }
    const HRESULT hr = ConnectAsking(session, url, command);
    const bool connected = SUCCEEDED(hr);
    ReportHostKey(session, connected);
    if (connected && session.verbose()) TellShellSession(session);
    if (!connected) {
        if (hr != E_FAIL) session.Fail(hr);  // E_FAIL: the --implicit set-up said why
        return false;
    }
    return AcceptCertificate(session, command);
}

bool DisconnectFrom(Session& session) {
    return session.Call("Disconnect", {});
}

std::string UrlPath(std::string_view url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) return {};
    const std::size_t slash = url.find('/', scheme + 3);
    if (slash == std::string_view::npos) return {};
    std::string_view path = url.substr(slash + 1);
    if (const std::size_t type = path.find(";type="); type != std::string_view::npos) {
        path = path.substr(0, type);
    }
    // Normalised below a root of its own, so a leading "./" goes too.
    const std::string normalized = urlparts::NormalizedCopy("/" + std::string(path));
    std::string decoded = urlparts::PercentDecoded(std::string_view(normalized).substr(1));
    // curl's way of naming the home folder over SSH: sftp://h/~/a is "a".
    if (StartsWithIgnoringCase(url, "sftp://") && (decoded == "~" || decoded.starts_with("~/")))
        decoded.erase(0, decoded.size() > 1 ? 2 : 1);
    return decoded;
}
