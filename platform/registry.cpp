#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "platform/file.h"
#include "platform/system.h"
#include "platform/text.h"

namespace {

// ---- The tree -------------------------------------------------------------------

constexpr int Lower(char c) {
    return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : static_cast<unsigned char>(c);
}

struct LessIgnoringCase {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const {
        const std::size_t n = std::min(a.size(), b.size());
        for (std::size_t i = 0; i < n; ++i) {
            const int x = Lower(a[i]), y = Lower(b[i]);
            if (x != y) return x < y;
        }
        return a.size() < b.size();
    }
};

struct Key {
    std::map<std::string, std::unique_ptr<Key>, LessIgnoringCase> subkeys;
    std::map<std::string, std::string, LessIgnoringCase> values;
};

std::vector<std::string_view> SplitPath(std::string_view path) {
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        const std::size_t cut = path.find('\\');
        std::string_view part = path.substr(0, cut);
        if (!part.empty()) parts.push_back(part);
        if (cut == std::string_view::npos) break;
        path.remove_prefix(cut + 1);
    }
    return parts;
}

bool ValidKeyName(std::string_view name) {
    if (name.empty() || name.size() > kRegistryMaxKeyName) return false;
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '\\' || c == '[' || c == ']')
            return false;
    return true;
}

bool ValidPath(std::string_view path) {
    if (!path.empty() && (path.front() == '\\' || path.back() == '\\' ||
                          path.find("\\\\") != std::string_view::npos))
        return false;
    const auto parts = SplitPath(path);
    if (parts.size() > kRegistryMaxDepth) return false;
    for (std::string_view part : parts)
        if (!ValidKeyName(part)) return false;
    return true;
}

const Key* FindKey(const Key& root, std::string_view path) {
    const Key* key = &root;
    for (std::string_view part : SplitPath(path)) {
        auto it = key->subkeys.find(part);
        if (it == key->subkeys.end()) return nullptr;
        key = it->second.get();
    }
    return key;
}

Key* MakeKey(Key& root, std::string_view path, bool* created) {
    Key* key = &root;
    *created = false;
    for (std::string_view part : SplitPath(path)) {
        auto it = key->subkeys.find(part);
        if (it == key->subkeys.end()) {
            it = key->subkeys.emplace(std::string(part), std::make_unique<Key>()).first;
            *created = true;
        }
        key = it->second.get();
    }
    return key;
}

// ---- The file format --------------------------------------------------------------

constexpr std::string_view kHeader = "; tollane registry 1";

std::string Quote(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out + '"';
}

void WriteKey(const Key& key, const std::string& path, std::string* out) {
    if (!path.empty()) {
        *out += '[' + path + "]\n";
        for (const auto& [name, data] : key.values)
            *out += (name.empty() ? std::string("@") : Quote(name)) + '=' + Quote(data) + '\n';
    }
    for (const auto& [name, child] : key.subkeys)
        WriteKey(*child, path.empty() ? name : path + '\\' + name, out);
}

std::string WriteTree(const Key& root) {
    std::string out(kHeader);
    out += '\n';
    WriteKey(root, "", &out);
    return out;
}

// Reads a quoted text at the front of line, taking it off.
bool ReadQuoted(std::string_view* line, std::size_t limit, std::string* text) {
    if (line->empty() || line->front() != '"') return false;
    std::size_t i = 1;
    text->clear();
    for (; i < line->size(); ++i) {
        char c = (*line)[i];
        if (c == '"') break;
        if (c == '\\') {
            if (++i == line->size()) return false;
            c = (*line)[i];
            if (c == 'n') {
                c = '\n';
            } else if (c != '\\' && c != '"') {
                return false;
            }
        } else if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
            return false;
        }
        if (text->size() == limit) return false;
        *text += c;
    }
    if (i == line->size()) return false;
    line->remove_prefix(i + 1);
    return true;
}

bool ParseTree(std::string_view text, Key* root, std::size_t* keys, std::string* fault) {
    *keys = 0;
    if (text.size() > kRegistryMaxFileBytes) {
        *fault = "1: larger than " + std::to_string(kRegistryMaxFileBytes) + " bytes";
        return false;
    }
    Key* current = nullptr;
    std::size_t number = 0;
    auto fail = [&](const char* reason) {
        *fault = std::to_string(number) + ": " + reason;
        return false;
    };
    while (!text.empty()) {
        ++number;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (number == 1) {
            if (line != kHeader) return fail("not a registry file (no \"; tollane registry 1\")");
            continue;
        }
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;
        if (line.front() == '[') {
            if (line.back() != ']' || line.size() < 3) return fail("a key line without its ']'");
            const std::string_view path = line.substr(1, line.size() - 2);
            if (!ValidPath(path))
                return fail("a key path that is empty, too deep or has a bad name");
            bool created = false;
            current = MakeKey(*root, path, &created);
            ++*keys;
            continue;
        }
        if (!current) return fail("a value before the first key");
        std::string name, data;
        if (line.front() == '@') {
            line.remove_prefix(1);
        } else if (!ReadQuoted(&line, kRegistryMaxValueName, &name) || name.empty()) {
            return fail("a value line without a quoted name or '@'");
        }
        if (line.empty() || line.front() != '=') return fail("a value without '='");
        line.remove_prefix(1);
        if (!ReadQuoted(&line, kRegistryMaxData, &data) || !line.empty())
            return fail("a value's data is not one quoted text");
        current->values[name] = std::move(data);
    }
    return true;
}

// ---- The files --------------------------------------------------------------------

std::mutex g_mutex;
std::string g_machineFile, g_userFile;
thread_local std::string t_fault;

std::string DefaultUserFile() {
    std::string base = EnvironmentValue("XDG_DATA_HOME");
    if (base.empty() || base.front() != '/') {
        const std::string home = platform::HomeDirectory();
        if (home.empty()) return "";
        base = home + "/.local/share";
    }
    return base + "/tollane/registry";
}

enum class Tree { Machine, User };

std::string FileOf(Tree tree) {
    return tree == Tree::Machine ? platform::MachineRegistryFile() : platform::UserRegistryFile();
}

// Reads a tree; a missing file is an empty tree.
LONG LoadTree(Tree tree, Key* root) {
    const std::string path = FileOf(tree);
    if (path.empty()) return ERROR_SUCCESS;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    std::string text;
    char buffer[16384];
    LONG result = ERROR_SUCCESS;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            result = ERROR_ACCESS_DENIED;
            break;
        }
        if (got == 0) break;
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > kRegistryMaxFileBytes) break;  // ParseTree refuses it
    }
    ::close(fd);
    if (result != ERROR_SUCCESS) return result;
    std::size_t keys = 0;
    std::string fault;
    if (!ParseTree(text, root, &keys, &fault)) {
        t_fault = path + ':' + fault;
        return ERROR_BADDB;
    }
    return ERROR_SUCCESS;
}

// Creates the folders above path.
void MakeParents(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1))
        ::mkdir(path.substr(0, slash).c_str(), 0755);
}

// Holds a tree's file for one read-change-write against other processes (the
// threads of this one take g_mutex): an exclusive lock on "FILE.lock", which
// stays beside the file. Without a lock file (a folder that cannot be written)
// the change goes on unlocked, and saving it reports the failure.
class TreeWriteLock {
  public:
    explicit TreeWriteLock(Tree tree) {
        const std::string path = FileOf(tree);
        if (path.empty()) return;
        MakeParents(path);
        fd_ = ::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        while (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~TreeWriteLock() {
        if (fd_ >= 0) ::close(fd_);
    }
    TreeWriteLock(const TreeWriteLock&) = delete;
    TreeWriteLock& operator=(const TreeWriteLock&) = delete;

  private:
    int fd_ = -1;
};

LONG SaveTree(Tree tree, const Key& root) {
    const std::string path = FileOf(tree);
    if (path.empty()) return ERROR_FILE_NOT_FOUND;
    MakeParents(path);
    const std::string temporary = path + ".new." + std::to_string(::getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return errno == ENOSPC ? ERROR_WRITE_FAULT : ERROR_ACCESS_DENIED;
    const std::string text = WriteTree(root);
    std::string_view rest = text;
    bool written = true;
    while (!rest.empty()) {
        const ssize_t put = ::write(fd, rest.data(), rest.size());
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            written = false;
            break;
        }
        rest.remove_prefix(static_cast<std::size_t>(put));
    }
    written = ::fsync(fd) == 0 && written;
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return ERROR_WRITE_FAULT;
    }
    return ERROR_SUCCESS;
}

// ---- Handles ----------------------------------------------------------------------

enum class Root { Classes, User, Machine };

}  // namespace

struct HKEY__ {
    Root root;
    std::string path;
};

namespace {

std::set<HKEY> g_open;  // handles from RegCreateKeyEx and RegOpenKeyEx
bool g_classesOverridden = false;
HKEY__ g_classesOverride{Root::Machine, "Software\\Classes"};

// Resolves a handle (predefined or open) to its root and path; false if unknown.
bool Resolve(HKEY key, HKEY__* out) {
    if (key == HKEY_CLASSES_ROOT) {
        *out = g_classesOverridden ? g_classesOverride : HKEY__{Root::Classes, ""};
    } else if (key == HKEY_CURRENT_USER) {
        *out = {Root::User, ""};
    } else if (key == HKEY_LOCAL_MACHINE) {
        *out = {Root::Machine, ""};
    } else if (g_open.count(key)) {
        *out = *key;
    } else {
        return false;
    }
    return true;
}

std::string Join(const std::string& path, const char* subKey) {
    std::string sub = subKey ? subKey : "";
    if (path.empty()) return sub;
    if (sub.empty()) return path;
    return path + '\\' + sub;
}

// The key that subKey names below key (key itself without one). Called with
// g_mutex held.
LONG ResolveSubKey(HKEY key, const char* subKey, HKEY__* target) {
    HKEY__ where;
    if (!Resolve(key, &where)) return ERROR_INVALID_HANDLE;
    if (subKey && !ValidPath(subKey)) return ERROR_BADKEY;
    *target = {where.root, Join(where.path, subKey)};
    return ERROR_SUCCESS;
}

std::string ClassesPath(const std::string& path) {
    return path.empty() ? "Software\\Classes" : "Software\\Classes\\" + path;
}

// The tree and path where a key of the classes view is written.
void WriteTarget(const HKEY__& where, Tree* tree, std::string* path) {
    if (where.root == Root::Classes) {
        *tree = Tree::Machine;
        *path = ClassesPath(where.path);
    } else {
        *tree = where.root == Root::User ? Tree::User : Tree::Machine;
        *path = where.path;
    }
}

// The keys that a read of (root, path) sees, most important first.
struct ReadView {
    Key user, machine;
    std::vector<const Key*> keys;
};

LONG LoadView(const HKEY__& where, ReadView* view) {
    view->keys.clear();
    if (where.root == Root::Classes) {
        if (LONG r = LoadTree(Tree::User, &view->user); r != ERROR_SUCCESS) return r;
        if (LONG r = LoadTree(Tree::Machine, &view->machine); r != ERROR_SUCCESS) return r;
        for (const Key* root : {&view->user, &view->machine})
            if (const Key* key = FindKey(*root, ClassesPath(where.path))) view->keys.push_back(key);
        return ERROR_SUCCESS;
    }
    Key& root = where.root == Root::User ? view->user : view->machine;
    if (LONG r = LoadTree(where.root == Root::User ? Tree::User : Tree::Machine, &root);
        r != ERROR_SUCCESS)
        return r;
    if (const Key* key = FindKey(root, where.path)) view->keys.push_back(key);
    return ERROR_SUCCESS;
}

HKEY NewHandle(Root root, std::string path) {
    auto* key = new (std::nothrow) HKEY__{root, std::move(path)};
    if (key) g_open.insert(key);
    return key;
}

}  // namespace

LONG RegCreateKeyEx(HKEY key, const char* subKey, DWORD, char*, DWORD, REGSAM, void*, PHKEY result,
                    DWORD* disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::lock_guard lock(g_mutex);
    HKEY__ target;
    if (LONG r = ResolveSubKey(key, subKey, &target); r != ERROR_SUCCESS) return r;
    Tree tree;
    std::string path;
    WriteTarget(target, &tree, &path);
    const TreeWriteLock held(tree);
    Key root;
    if (LONG r = LoadTree(tree, &root); r != ERROR_SUCCESS) return r;
    bool created = false;
    MakeKey(root, path, &created);
    if (created) {
        if (LONG r = SaveTree(tree, root); r != ERROR_SUCCESS) return r;
    }
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    // A key made through the classes view is then written where it was made.
    *result = target.root == Root::Classes
                  ? NewHandle(Root::Classes, target.path)
                  : NewHandle(tree == Tree::User ? Root::User : Root::Machine, path);
    return *result ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

LONG RegOpenKeyEx(HKEY key, const char* subKey, DWORD, REGSAM, PHKEY result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::lock_guard lock(g_mutex);
    HKEY__ target;
    if (LONG r = ResolveSubKey(key, subKey, &target); r != ERROR_SUCCESS) return r;
    ReadView view;
    if (LONG r = LoadView(target, &view); r != ERROR_SUCCESS) return r;
    if (view.keys.empty()) return ERROR_FILE_NOT_FOUND;
    *result = NewHandle(target.root, target.path);
    return *result ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

LONG RegCloseKey(HKEY key) {
    std::lock_guard lock(g_mutex);
    if (key == HKEY_CLASSES_ROOT || key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE)
        return ERROR_SUCCESS;
    if (!g_open.erase(key)) return ERROR_INVALID_HANDLE;
    delete key;
    return ERROR_SUCCESS;
}

LONG RegSetValueEx(HKEY key, const char* valueName, DWORD, DWORD type, const BYTE* data,
                   DWORD size) {
    if (type != REG_SZ) return ERROR_INVALID_PARAMETER;
    if (!data && size) return ERROR_INVALID_PARAMETER;
    std::string name = valueName ? valueName : "";
    if (name.size() > kRegistryMaxValueName) return ERROR_INVALID_PARAMETER;
    std::string text(reinterpret_cast<const char*>(data), size);
    if (!text.empty() && text.back() == '\0') text.pop_back();
    if (text.find('\0') != std::string::npos || text.size() > kRegistryMaxData)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard lock(g_mutex);
    HKEY__ where;
    if (!Resolve(key, &where)) return ERROR_INVALID_HANDLE;
    Tree tree;
    std::string path;
    WriteTarget(where, &tree, &path);
    const TreeWriteLock held(tree);
    Key root;
    if (LONG r = LoadTree(tree, &root); r != ERROR_SUCCESS) return r;
    bool created = false;
    MakeKey(root, path, &created)->values[name] = std::move(text);
    return SaveTree(tree, root);
}

LONG RegQueryValueEx(HKEY key, const char* valueName, DWORD*, DWORD* type, BYTE* data,
                     DWORD* size) {
    if (data && !size) return ERROR_INVALID_PARAMETER;
    std::lock_guard lock(g_mutex);
    HKEY__ where;
    if (!Resolve(key, &where)) return ERROR_INVALID_HANDLE;
    ReadView view;
    if (LONG r = LoadView(where, &view); r != ERROR_SUCCESS) return r;
    if (view.keys.empty()) return ERROR_FILE_NOT_FOUND;
    // The user's key, when there is one, stands for the whole key.
    const Key& found = *view.keys.front();
    auto it = found.values.find(std::string_view(valueName ? valueName : ""));
    if (it == found.values.end()) return ERROR_FILE_NOT_FOUND;
    const DWORD needed = static_cast<DWORD>(it->second.size() + 1);
    if (type) *type = REG_SZ;
    if (!size) return ERROR_SUCCESS;
    const DWORD room = *size;
    *size = needed;
    if (!data) return ERROR_SUCCESS;
    if (room < needed) return ERROR_MORE_DATA;
    std::memcpy(data, it->second.c_str(), needed);
    return ERROR_SUCCESS;
}

LONG RegDeleteTree(HKEY key, const char* subKey) {
    std::lock_guard lock(g_mutex);
    HKEY__ target;
    if (LONG r = ResolveSubKey(key, subKey, &target); r != ERROR_SUCCESS) return r;
    Tree tree;
    std::string path;
    WriteTarget(target, &tree, &path);
    const TreeWriteLock held(tree);
    Key root;
    if (LONG r = LoadTree(tree, &root); r != ERROR_SUCCESS) return r;
    const auto parts = SplitPath(path);
    if (!subKey || !*subKey) {
        Key* self = const_cast<Key*>(FindKey(root, path));
        if (!self) return ERROR_FILE_NOT_FOUND;
        self->subkeys.clear();
        self->values.clear();
        return SaveTree(tree, root);
    }
    std::string parentPath;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i)
        parentPath = Join(parentPath, std::string(parts[i]).c_str());
    Key* parent = const_cast<Key*>(FindKey(root, parentPath));
    if (!parent || !parent->subkeys.erase(std::string(parts.back()))) return ERROR_FILE_NOT_FOUND;
    return SaveTree(tree, root);
}

LONG RegOverridePredefKey(HKEY key, HKEY newKey) {
    if (key != HKEY_CLASSES_ROOT) return ERROR_INVALID_HANDLE;
    std::lock_guard lock(g_mutex);
    if (!newKey) {
        g_classesOverridden = false;
        return ERROR_SUCCESS;
    }
    HKEY__ where;
    if (!Resolve(newKey, &where) || where.root == Root::Classes) return ERROR_INVALID_HANDLE;
    g_classesOverride = where;
    g_classesOverridden = true;
    return ERROR_SUCCESS;
}

LONG RegistryReadText(HKEY key, std::string_view subKey, std::string_view valueName,
                      std::string* text) {
    HKEY opened = nullptr;
    const std::string sub(subKey);
    if (LONG r = RegOpenKeyEx(key, sub.c_str(), 0, KEY_READ, &opened); r != ERROR_SUCCESS) return r;
    const std::string name(valueName);
    std::string buffer(kRegistryMaxData + 1, '\0');
    DWORD size = static_cast<DWORD>(buffer.size());
    const LONG r = RegQueryValueEx(opened, name.c_str(), nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(buffer.data()), &size);
    RegCloseKey(opened);
    if (r != ERROR_SUCCESS) return r;
    buffer.resize(size ? size - 1 : 0);
    *text = std::move(buffer);
    return ERROR_SUCCESS;
}

std::string RegistryLastFault() {
    return t_fault;
}

const char* RegistryErrorText(LONG code) {
    switch (code) {
        case ERROR_SUCCESS:
            return "The operation completed successfully";
        case ERROR_FILE_NOT_FOUND:
            return "The registry key or value does not exist";
        case ERROR_ACCESS_DENIED:
            return "The registry file cannot be read or written (access denied)";
        case ERROR_INVALID_HANDLE:
            return "The registry key handle is not valid";
        case ERROR_NOT_ENOUGH_MEMORY:
            return "Not enough memory for the registry key";
        case ERROR_WRITE_FAULT:
            return "The registry file could not be written";
        case ERROR_INVALID_PARAMETER:
            return "A registry value of a type or size not kept";
        case ERROR_MORE_DATA:
            return "The registry value is larger than the buffer";
        case ERROR_BADDB:
            return "The registry file is damaged or not a registry file";
        case ERROR_BADKEY:
            return "A registry key name is empty, too long or not valid";
        default:
            return "Unknown registry error";
    }
}

namespace platform {

void UseRegistryFiles(std::string machineFile, std::string userFile) {
    std::lock_guard lock(g_mutex);
    g_machineFile = std::move(machineFile);
    g_userFile = std::move(userFile);
}

std::string MachineRegistryFile() {
    return g_machineFile.empty() ? std::string("/etc/tollane/registry") : g_machineFile;
}

std::string UserRegistryFile() {
    return g_userFile.empty() ? DefaultUserFile() : g_userFile;
}

bool CheckRegistryText(std::string_view text, std::size_t* keys, std::string* fault,
                       std::string* rewritten) {
    Key root;
    if (!ParseTree(text, &root, keys, fault)) return false;
    if (rewritten) *rewritten = WriteTree(root);
    return true;
}

}  // namespace platform
