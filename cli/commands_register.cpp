// register and unregister: the shared library's own registration entry point,
// run on the machine's registry or (--user) the user's.
#include <cstdio>
#include <string>
#include <string_view>

#include "cli/command_line.h"
#include "cli/command_table.h"
#include "cli/session.h"
#include "control/class_factory.h"
#include "platform/file.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "resources/version.h"

namespace {

// The shared library the program belongs to: the installed layout keeps it in
// ../lib beside bin/, the build keeps it one folder above bin/.
std::string FindModule(const ParsedCommand& command) {
    if (auto given = command.Value("--module")) return *given;
    const std::string program = platform::ProgramPath();
    const std::string folder = program.substr(0, program.rfind('/') + 1);
    const std::string name = "libfiletransfer.so." + std::to_string(kFileVersion.major);
    for (const char* place : {"../lib/", "../", ""}) {
        const std::string path = folder + place + name;
        if (platform::FileExists(path)) return path;
    }
    return "";
}

// The reason a registry file was refused, read again here: the module keeps
// its own copy of the registry code and of its last fault.
std::string FaultOf(bool user) {
    HKEY key = nullptr;
    if (RegOpenKeyEx(user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, "", 0, KEY_READ, &key) ==
        ERROR_SUCCESS)
        RegCloseKey(key);
    return RegistryLastFault();
}

std::string FailureText(HRESULT hr, bool user) {
    const auto bits = static_cast<DWORD>(hr);
    char number[24];
    std::snprintf(number, sizeof number, "error 0x%08X: ", static_cast<unsigned>(bits));
    std::string text = number;
    if ((bits & 0xFFFF0000u) == 0x80070000u) {
        const LONG code = static_cast<LONG>(bits & 0xFFFFu);
        text += RegistryErrorText(code);
        if (code == ERROR_BADDB) {
            if (const std::string fault = FaultOf(user); !fault.empty()) text += " (" + fault + ")";
        }
        return text;
    }
    return text + (hr == E_INVALIDARG ? "Invalid argument" : "Registration failed");
}

int RunRegistration(Session& session, const ParsedCommand& command, bool install) {
    const bool user = command.Has("--user");
    const std::string path = FindModule(command);
    if (path.empty()) {
        session.err() << "filetransfer: no libfiletransfer.so." << kFileVersion.major
                      << " beside the program; name one with --module\n";
        return kExitFailure;
    }
    std::string reason;
    void* module = platform::LoadModule(path, &reason);
    auto entry = reinterpret_cast<DllInstallFunction>(platform::ModuleSymbol(module, "DllInstall"));
    if (!entry) {
        session.err() << "filetransfer: " << path << ": "
                      << (module ? "not a module of this control (no DllInstall)" : reason) << '\n';
        return kExitFailure;
    }
    const HRESULT hr = entry(install ? TRUE : FALSE, user ? u"user" : u"machine");
    const std::string where = user ? platform::UserRegistryFile() : platform::MachineRegistryFile();
    if (FAILED(hr)) {
        session.err() << "filetransfer: " << (install ? "register" : "unregister") << ": "
                      << FailureText(hr, user) << " [" << where << "]\n";
        return kExitFailure;
    }
    if (install) {
        // What was registered, as the module wrote it.
        const std::string clsid = GuidToString(CLSID_FileTransfer);
        std::string registered = path;
        RegistryReadText(user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE,
                         "Software\\Classes\\CLSID\\" + clsid + "\\InprocServer32", "",
                         &registered);
        session.out() << "registered " << kProgId << ' ' << clsid << " (" << registered << ") in "
                      << where << '\n';
    } else {
        session.out() << "unregistered " << kProgId << " from " << where << '\n';
    }
    return kExitSuccess;
}

int RunRegister(Session& session, const ParsedCommand& command) {
    return RunRegistration(session, command, true);
}

int RunUnregister(Session& session, const ParsedCommand& command) {
    return RunRegistration(session, command, false);
}

constexpr OptionSpec kRegisterOptions[] = {{"--user", "", false}, {"--module", "", true}};

const CommandSpec kRegisterCommands[] = {
    {.name = "register",
     .usage = "[--user] [--module LIBRARY]",
     .options = kRegisterOptions,
     .run = RunRegister},
    {.name = "unregister",
     .usage = "[--user] [--module LIBRARY]",
     .options = kRegisterOptions,
     .run = RunUnregister},
};

const CommandRegistration kRegistration(kRegisterCommands);

}  // namespace
