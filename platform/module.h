// Modules (shared libraries and the program): the path of the one that holds
// an address, and loading one by path for its exported functions.
#pragma once

#include <string>
#include <vector>

namespace platform {

// The full path of the module that holds the code or data at address ("" when
// none does): its folder without links or dot segments, and the name it was
// loaded by (a library's soname link stays the link).
std::string ModulePathOf(const void* address);
// The running program's full path.
std::string ProgramPath();
// Loads the module at path once and keeps it loaded for the rest of the
// process; later calls with the same path give the same handle. Null with the
// loader's reason in *error when it cannot be loaded.
void* LoadModule(const std::string& path, std::string* error);
// An exported function or object of a loaded module, or null.
void* ModuleSymbol(void* module, const char* name);
// The modules LoadModule has loaded so far, in the order loaded.
std::vector<void*> LoadedModules();
// Serves the calling thread's messages in the queues of the loaded modules that
// have one of their own (their DllPumpMessages); returns how many were dispatched.
unsigned PumpLoadedModules();
// The descriptors that are readable while this copy's queue or a loaded
// module's own has a message for the calling thread: what a wait that should
// wake for any of them watches.
std::vector<int> ModuleMessageWaitFds();

}  // namespace platform
