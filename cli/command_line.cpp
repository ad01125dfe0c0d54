#include "cli/command_line.h"

#include <charconv>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/hresult_text.h"
#include "cli/values.h"
#include "control/FileTransfer.h"
#include "control/class_factory.h"
#include "platform/text.h"
#include "resources/typeinfo.h"
#include "resources/version.h"

namespace {

constexpr const char* kUsage =
    "usage: filetransfer [--set NAME=VALUE]... COMMAND\n"
    "       filetransfer --set NAME=VALUE [--set NAME=VALUE]...\n"
    "commands: version | props [NAME]... | info URL | cmd URL COMMAND...\n";

// What `info` prints of an open connection, in this order.
constexpr const char* kInfoProperties[] = {"System", "ServerDirectory", "Features", "ResultCode",
                                           "ResultString"};

// Reads that only fail because no engine is started or no connection is open;
// a listing of all properties leaves such properties out.
constexpr int kSkippedWithoutSession[] = {fileErrorNetworkNotInitialized, fileErrorNotConnected};

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

struct Invocation {
    std::vector<Assignment> assignments;
    std::string command;
    std::vector<PropertyRef> names;
    std::string url;                 // info, cmd
    std::vector<std::string> words;  // cmd
};

std::optional<LONG> ParseIndex(std::string_view text) {
    LONG value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
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

Invocation ParseArguments(int argc, char** argv) {
    Invocation invocation;
    int i = 1;
    for (; i < argc && std::string_view(argv[i]) == "--set"; i += 2) {
        if (i + 1 >= argc) throw UsageError{"--set needs NAME=VALUE"};
        invocation.assignments.push_back(ParseAssignment(argv[i + 1]));
    }
    if (i >= argc) {
        // Writes alone are allowed: they are applied and checked, nothing is printed.
        if (invocation.assignments.empty()) throw UsageError{"missing command"};
        return invocation;
    }
    invocation.command = argv[i++];
    if (invocation.command == "props") {
        for (; i < argc; ++i)
            invocation.names.push_back(ResolveProperty(argv[i]));
    } else if (invocation.command == "info") {
        if (i + 1 != argc) throw UsageError{"info takes one URL"};
        invocation.url = argv[i];
    } else if (invocation.command == "cmd") {
        if (i + 2 > argc) throw UsageError{"cmd takes a URL and a command"};
        invocation.url = argv[i++];
        invocation.words.assign(argv + i, argv + argc);
    } else if (invocation.command == "version") {
        if (i < argc) throw UsageError{"version takes no arguments"};
    } else {
        throw UsageError{"unknown command " + invocation.command};
    }
    return invocation;
}

// The control, driven only through its dispatch interface.
class Session {
  public:
    Session(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

    bool Create() {
        const HRESULT hr = CreateControlByProgId(Utf8ToUtf16(kProgId), IID_IDispatch,
                                                 reinterpret_cast<void**>(control_.Receive()));
        if (FAILED(hr)) Fail(hr);
        return SUCCEEDED(hr);
    }

    bool Assign(const Assignment& assignment) {
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
        HRESULT hr = DispatchGetIdOfName(control_.get(),
                                         Utf8ToUtf16(assignment.property.member->name), &dispid);
        if (SUCCEEDED(hr)) {
            hr = DispatchPutProperty(control_.get(), dispid, indices, value.get(), &exception);
        }
        return Report(hr, exception);
    }

    // Reads one property (one index of an indexed one); prints it or its failure.
    // A failure listed in skippable leaves the property out silently.
    using Formatter = std::string (*)(const VARIANT&);

    bool Print(const MemberInfo& member, std::optional<LONG> index, bool skippable,
               bool labelled = true, Formatter format = nullptr) {
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

    bool PrintAll(const MemberInfo& member, std::optional<LONG> index, bool skippable) {
        if (!member.IsIndexed() || index) return Print(member, index, skippable);
        return Print(member, 0, skippable) && Print(member, 1, skippable);
    }

    // Calls a method by name with its arguments in written order.
    bool Call(std::string_view name, std::span<VARIANT> arguments) {
        DISPID dispid = DISPID_UNKNOWN;
        HRESULT hr = DispatchGetIdOfName(control_.get(), Utf8ToUtf16(name), &dispid);
        ScopedVariant result;
        EXCEPINFO exception{};
        if (SUCCEEDED(hr))
            hr = DispatchCall(control_.get(), dispid, arguments, result.get(), &exception);
        return Report(hr, exception);
    }

    bool Fail(HRESULT hr) {
        err_ << "filetransfer: " << DescribeFailure(hr) << "\n";
        return false;
    }

  private:
    static HRESULT EffectiveResult(HRESULT hr, const EXCEPINFO& exception) {
        return hr == DISP_E_EXCEPTION && exception.scode != 0 ? exception.scode : hr;
    }

    static bool IsSkippable(HRESULT hr, const EXCEPINFO& exception) {
        const HRESULT effective = EffectiveResult(hr, exception);
        for (int number : kSkippedWithoutSession) {
            if (effective == kAutomationErrorBase + number) return true;
        }
        return false;
    }

    bool Report(HRESULT hr, EXCEPINFO& exception) {
        const HRESULT effective = EffectiveResult(hr, exception);
        ClearExcepInfo(&exception);
        return SUCCEEDED(hr) || Fail(effective);
    }

    std::ostream& out_;
    std::ostream& err_;
    ComPtr<IDispatch> control_;
};

int RunProps(Session& session, const std::vector<PropertyRef>& names) {
    if (names.empty()) {
        for (const MemberInfo& member : InterfaceMembers()) {
            if (!member.IsProperty() || !member.readable) continue;
            if (!session.PrintAll(member, std::nullopt, true)) return kExitFailure;
        }
        return kExitSuccess;
    }
    for (const PropertyRef& ref : names) {
        if (!session.PrintAll(*ref.member, ref.index, false)) return kExitFailure;
    }
    return kExitSuccess;
}

std::string FeaturesDisplay(const VARIANT& value) {
    return value.vt == VT_I4 ? FeatureNames(value.lVal) : VariantToDisplay(value);
}

// Opens a connection to the URL. ThrowError is switched on so that a failed
// connect (and any later failure) ends with its error.
bool ConnectTo(Session& session, const std::string& url) {
    if (!session.Assign(Assignment{ResolveProperty("ThrowError"), "True"})) return false;
    ScopedVariant serverName;
    serverName.get()->vt = VT_BSTR;
    serverName.get()->bstrVal = BstrFromUtf8(url);
    return session.Call("Connect", std::span<VARIANT>(serverName.get(), 1));
}

bool PrintNamed(Session& session, const char* name, Session::Formatter format = nullptr) {
    return session.Print(*FindMemberByName(name), std::nullopt, false, true, format);
}

// Connects to the URL, prints what the server told about itself, disconnects.
int RunInfo(Session& session, const std::string& url) {
    if (!ConnectTo(session, url)) return kExitFailure;
    bool printed = true;
    for (const char* name : kInfoProperties) {
        const bool features = std::string_view(name) == "Features";
        printed = printed && PrintNamed(session, name, features ? FeaturesDisplay : nullptr);
    }
    const bool disconnected = session.Call("Disconnect", {});
    return printed && disconnected ? kExitSuccess : kExitFailure;
}

// Sends one raw command after the login and prints the server's reply.
int RunCmd(Session& session, const std::string& url, const std::vector<std::string>& words) {
    if (!ConnectTo(session, url)) return kExitFailure;
    std::string line;
    for (const std::string& word : words)
        line += (line.empty() ? "" : " ") + word;
    ScopedVariant command;
    command.get()->vt = VT_BSTR;
    command.get()->bstrVal = BstrFromUtf8(line);
    const bool sent = session.Call("Command", std::span<VARIANT>(command.get(), 1)) &&
                      PrintNamed(session, "ResultCode") && PrintNamed(session, "ResultString");
    const bool disconnected = session.Call("Disconnect", {});
    return sent && disconnected ? kExitSuccess : kExitFailure;
}

}  // namespace

int RunCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err) {
    Invocation invocation;
    try {
        invocation = ParseArguments(argc, argv);
    } catch (const UsageError& usage) {
        err << "filetransfer: " << usage.message << "\n" << kUsage;
        return kExitUsage;
    }
    Session session(out, err);
    if (!session.Create()) return kExitFailure;
    for (const Assignment& assignment : invocation.assignments) {
        if (!session.Assign(assignment)) return kExitFailure;
    }
    if (invocation.command.empty()) return kExitSuccess;
    if (invocation.command == "version") {
        const MemberInfo& version = *FindMemberByName("Version");
        return session.Print(version, std::nullopt, false, false) ? kExitSuccess : kExitFailure;
    }
    if (invocation.command == "info") return RunInfo(session, invocation.url);
    if (invocation.command == "cmd") return RunCmd(session, invocation.url, invocation.words);
    return RunProps(session, invocation.names);
}
