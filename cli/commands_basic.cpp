// version, props, info and cmd.
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

bool IsSecureShell(Session& session) {
    ScopedVariant options;
    return session.Get("Options", options.get()) && (*options).vt == VT_I4 &&
           ((*options).lVal & fileOptionSecureShell) != 0;
}

bool PrintSecureInfo(Session& session) {
    bool printed = true;
    for (const SecureInfoLine& line : kSecureInfo)
        printed = printed && session.PrintNamed(line.name, line.format);
    return printed;
}

// Connects to the URL, prints what the server told about itself, disconnects.
int RunInfo(Session& session, const ParsedCommand& command) {
    if (!ConnectFor(session, command.arguments[0], command)) return kExitFailure;
    bool printed = true;
    const bool secureShell = IsSecureShell(session);
    for (const char* name : kInfoProperties) {
        const bool features = std::string_view(name) == "Features";
        // An SSH server has no system name to ask for.
        if (secureShell && std::string_view(name) == "System") continue;
        printed = printed && session.PrintNamed(name, features ? FeaturesDisplay : nullptr);
    }
    if (printed && IsSecure(session)) printed = PrintSecureInfo(session);
    if (printed && secureShell) printed = session.PrintNamed("HostKeyStatus", HostKeyDisplay);
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
