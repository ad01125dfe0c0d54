#include "platform/module.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <mutex>

#include "platform/com.h"
#include "platform/messages.h"

namespace platform {

namespace {

// The folder resolved, the file's own name kept: a library loaded by its
// soname link stays named by that link, which survives an update of the file.
std::string FullPath(const char* path) {
    if (!path || !*path) return "";
    const std::string text = path;
    const std::size_t slash = text.rfind('/');
    if (slash == std::string::npos) return text;
    const std::string folder = slash == 0 ? "/" : text.substr(0, slash);
    char resolved[PATH_MAX];
    if (!::realpath(folder.c_str(), resolved)) return text;
    const std::string base = resolved;
    return (base == "/" ? "" : base) + text.substr(slash);
}

std::mutex g_mutex;
std::map<std::string, void*> g_modules;
std::vector<void*> g_order;

}  // namespace

std::string ModulePathOf(const void* address) {
    Dl_info info{};
    if (!address || ::dladdr(address, &info) == 0 || !info.dli_fname) return "";
    // The program itself may be named as it was started; /proc names it whole.
    const std::string path = FullPath(info.dli_fname);
    return path.find('/') == std::string::npos ? ProgramPath() : path;
}

std::string ProgramPath() {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return "";
    return std::string(buffer, static_cast<std::size_t>(length));
}

void* LoadModule(const std::string& path, std::string* error) {
    std::lock_guard lock(g_mutex);
    if (auto it = g_modules.find(path); it != g_modules.end()) return it->second;
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        if (error) {
            const char* reason = ::dlerror();
            *error = reason ? reason : "the module cannot be loaded";
        }
        return nullptr;
    }
    if (g_modules.emplace(path, module).second &&
        std::find(g_order.begin(), g_order.end(), module) == g_order.end())
        g_order.push_back(module);
    return module;
}

void* ModuleSymbol(void* module, const char* name) {
    return module && name ? ::dlsym(module, name) : nullptr;
}

std::vector<void*> LoadedModules() {
    std::lock_guard lock(g_mutex);
    return g_order;
}

namespace {

using PumpEntry = unsigned (*)();
using WaitFdEntry = int (*)();

// The pump entries of the loaded modules whose queue is not this copy's own (a
// program linked with the shared library loads that same copy again).
std::vector<void*> ForeignEntries(const char* name, void* own) {
    std::vector<void*> entries;
    for (void* module : LoadedModules()) {
        void* entry = ModuleSymbol(module, name);
        if (entry && entry != own) entries.push_back(entry);
    }
    return entries;
}

}  // namespace

unsigned PumpLoadedModules() {
    unsigned dispatched = 0;
    for (void* entry : ForeignEntries("DllPumpMessages", reinterpret_cast<void*>(&DllPumpMessages)))
        dispatched += reinterpret_cast<PumpEntry>(entry)();
    return dispatched;
}

std::vector<int> ModuleMessageWaitFds() {
    std::vector<int> fds{GetThreadMessageWaitFd()};
    for (void* entry :
         ForeignEntries("DllMessageWaitFd", reinterpret_cast<void*>(&DllMessageWaitFd))) {
        const int fd = reinterpret_cast<WaitFdEntry>(entry)();
        if (fd >= 0) fds.push_back(fd);
    }
    return fds;
}

}  // namespace platform
