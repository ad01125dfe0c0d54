// version, props, info and cmd.
#include <iterator>
#include <span>
#include <string>
#include <string_view>

#include "cli/command_line.h"
#include "cli/command_table.h"
#include "cli/session.h"
#include "control/FileTransfer.h"

namespace {

// What `info` prints of an open connection, in this order.
constexpr const char* kInfoProperties[] = {"System", "ServerDirectory", "Features", "ResultCode",
                                           "ResultString"};

std::string FeaturesDisplay(const VARIANT& value) {
    return value.vt == VT_I4 ? FeatureNames(value.lVal) : VariantToDisplay(value);
}

std::string CipherDisplay(const VARIANT& value) {
    return value.vt == VT_I4 ? ConstantName("CipherConstants", value.lVal)
                             : VariantToDisplay(value);
}

std::string ProtocolDisplay(const VARIANT& value) {
    return value.vt == VT_I4 ? ConstantName("SecureProtocolConstants", value.lVal)
                             : VariantToDisplay(value);
}

std::string HashDisplay(const VARIANT& value) {
    return value.vt == VT_I4 ? ConstantName("HashConstants", value.lVal) : VariantToDisplay(value);
}

std::string KeyExchangeDisplay(const VARIANT& value) {
    return value.vt == VT_I4 ? ConstantName("KeyExchangeConstants", value.lVal)
                             : VariantToDisplay(value);
}

// ssh-keygen's form of the MD5 fingerprint.
std::string Md5FingerprintDisplay(const VARIANT& value) {
    const std::string digest = VariantToDisplay(value);
    return digest.empty() ? digest : "MD5:" + digest;
}

std::string HostKeyDisplay(const VARIANT& value) {
    return value.vt == VT_I4 ? ConstantName("HostKeyStatusConstants", value.lVal)
                             : VariantToDisplay(value);
}

struct SecureInfoLine {
    const char* name;
    Session::Formatter format;
};

// What `info` adds for a secure connection.
constexpr SecureInfoLine kSecureInfo[] = {
    {"SecureProtocol", ProtocolDisplay}, {"SecureCipher", CipherDisplay},
    {"CipherStrength", nullptr},         {"CertificateIssuer", nullptr},
    {"CertificateSubject", nullptr},     {"CertificateIssued", nullptr},
    {"CertificateExpires", nullptr},
};

// What `info` prints of a secure-shell connection (SFTP has no system type, features
// or reply texts): the server's version, then what the key exchange settled.
constexpr SecureInfoLine kShellInfoBefore[] = {
    {"ServerVersion", nullptr},
    {"ServerDirectory", nullptr},
    {"SecureProtocol", ProtocolDisplay},
};
constexpr SecureInfoLine kShellInfoAfter[] = {
    {"SecureKeyExchange", KeyExchangeDisplay},
    {"SecureCipher", CipherDisplay},
    {"CipherStrength", nullptr},
    {"SecureHash", HashDisplay},
    {"HashStrength", nullptr},
    {"Fingerprint", Md5FingerprintDisplay},
    {"FingerprintSHA256", nullptr},
    {"HostKeyStatus", HostKeyDisplay},
};
// Labels of the names in SecureAlgorithms, in its order; Out is client to server.
constexpr const char* kAlgorithmLabels[] = {"KeyExchange",    "HostKey",      "CipherOut",
                                            "CipherIn",       "MacOut",       "MacIn",
                                            "CompressionOut", "CompressionIn"};
constexpr std::size_t kFirstMac = 4;

int ExitCodeOf(bool ok) {
    return ok ? kExitSuccess : kExitFailure;
}

int RunVersion(Session& session, const ParsedCommand&) {
    const MemberInfo& version = *FindMemberByName("Version");
    return ExitCodeOf(session.Print(version, std::nullopt, false, false));
}

void ValidateProps(const ParsedCommand& command) {
    for (const std::string& name : command.arguments)
        ResolveProperty(name);
}

int RunProps(Session& session, const ParsedCommand& command) {
    if (command.arguments.empty()) {
        for (const MemberInfo& member : InterfaceMembers()) {
            if (!member.IsProperty() || !member.readable) continue;
            if (!session.PrintAll(member, std::nullopt, true)) return kExitFailure;
        }
        return kExitSuccess;
    }
    for (const std::string& name : command.arguments) {
        const PropertyRef ref = ResolveProperty(name);
        if (!session.PrintAll(*ref.member, ref.index, false)) return kExitFailure;
    }
    return kExitSuccess;
}

bool IsSecure(Session& session) {
    ScopedVariant secure;
    return session.Get("Secure", secure.get()) && (*secure).vt == VT_BOOL &&
           (*secure).boolVal != VARIANT_FALSE;
}

bool PrintLines(Session& session, std::span<const SecureInfoLine> lines) {
    bool printed = true;
    for (const SecureInfoLine& line : lines)
        printed = printed && session.PrintNamed(line.name, line.format);
    return printed;
}

bool PrintSecureInfo(Session& session) {
    return PrintLines(session, kSecureInfo);
}

// The negotiated names of a secure-shell connection; empty for any other.
std::string ShellAlgorithms(Session& session) {
    ScopedVariant algorithms;
    if (!session.Get("SecureAlgorithms", algorithms.get())) return {};
    return VariantToDisplay(*algorithms);
}

bool PrintShellInfo(Session& session, std::string_view algorithms) {
    if (!PrintLines(session, kShellInfoBefore)) return false;
    for (std::size_t i = 0; i < std::size(kAlgorithmLabels); ++i) {
        const std::size_t comma = algorithms.find(',');
        std::string_view name = algorithms.substr(0, comma);
        algorithms.remove_prefix(comma == std::string_view::npos ? algorithms.size() : comma + 1);
        // An authenticated cipher carries its own integrity check.
        if (name.empty() && (i == kFirstMac || i == kFirstMac + 1)) name = "(implicit)";
        session.out() << kAlgorithmLabels[i] << " = " << name << "\n";
    }
    return PrintLines(session, kShellInfoAfter);
}

// Connects to the URL, prints what the server told about itself, disconnects.
int RunInfo(Session& session, const ParsedCommand& command) {
    if (!ConnectFor(session, command.arguments[0], command)) return kExitFailure;
    if (const std::string algorithms = ShellAlgorithms(session); !algorithms.empty()) {
        const bool printed = PrintShellInfo(session, algorithms);
        const bool disconnected = DisconnectFrom(session);
        return ExitCodeOf(printed && disconnected);
    }
    bool printed = true;
    for (const char* name : kInfoProperties) {
        const bool features = std::string_view(name) == "Features";
        printed = printed && session.PrintNamed(name, features ? FeaturesDisplay : nullptr);
    }
    if (printed && IsSecure(session)) printed = PrintSecureInfo(session);
    const bool disconnected = DisconnectFrom(session);
    return ExitCodeOf(printed && disconnected);
}

// Sends one raw command after the login and prints the server's reply.
int RunCmd(Session& session, const ParsedCommand& command) {
    if (!ConnectFor(session, command.arguments[0], command)) return kExitFailure;
    std::string line;
    for (std::size_t i = 1; i < command.arguments.size(); ++i)
        line += (line.empty() ? "" : " ") + command.arguments[i];
    ScopedVariant text;
    SetTextVariant(text.get(), line);
    const bool sent = session.Call("Command", std::span<VARIANT>(text.get(), 1)) &&
                      session.PrintNamed("ResultCode") && session.PrintNamed("ResultString");
    const bool disconnected = DisconnectFrom(session);
    return ExitCodeOf(sent && disconnected);
}

const CommandSpec kBasicCommands[] = {
    {.name = "version", .usage = "", .minArguments = 0, .maxArguments = 0, .run = RunVersion},
    {.name = "props",
     .usage = "[NAME]...",
     .minArguments = 0,
     .maxArguments = kAnyCount,
     .run = RunProps,
     .validate = ValidateProps},
    {.name = "info",
     .usage = "URL",
     .minArguments = 1,
     .maxArguments = 1,
     .run = RunInfo,
     .connects = true},
    {.name = "cmd",
     .usage = "URL COMMAND...",
     .minArguments = 2,
     .maxArguments = kAnyCount,
     .run = RunCmd,
     .connects = true,
     .verbatimAfter = 1},
};

const CommandRegistration kRegistration(kBasicCommands);

}  // namespace
