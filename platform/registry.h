// The registry: a key tree with named text values, kept in one file per tree.
// The machine's tree is /etc/tollane/registry, the user's
// $XDG_DATA_HOME/tollane/registry (default ~/.local/share/tollane/registry).
// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER are those trees; HKEY_CLASSES_ROOT
// is their "Software\Classes" keys seen as one: a key the user's tree has is
// read from there, else from the machine's, and subkeys from both count.
// Writes through HKEY_CLASSES_ROOT go to the machine's tree unless
// RegOverridePredefKey points it elsewhere. Each call reads the file again and
// each change writes the whole file anew (a temporary file renamed over it),
// so another process sees a change whole or not at all. Key and value names
// ignore case. The file format is in docs/hosting.md.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/wintypes.h"

struct HKEY__;
using HKEY = HKEY__*;
using PHKEY = HKEY*;
using REGSAM = DWORD;

inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(std::uintptr_t{0x80000000});
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(std::uintptr_t{0x80000001});
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(std::uintptr_t{0x80000002});

// Result codes (the system's error numbers).
constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr LONG ERROR_WRITE_FAULT = 29;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_BADDB = 1009;   // the file is not a registry file or is damaged
constexpr LONG ERROR_BADKEY = 1010;  // a key name that is empty, too long or has control characters

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;  // the one value type kept: text with its NUL
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;
constexpr REGSAM KEY_READ = 0x20019;
constexpr REGSAM KEY_WRITE = 0x20006;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Bounds of what a tree may hold; a file beyond them is refused as ERROR_BADDB.
constexpr std::size_t kRegistryMaxFileBytes = 1 << 20;
constexpr std::size_t kRegistryMaxKeyName = 255;
constexpr std::size_t kRegistryMaxValueName = 16383;
constexpr std::size_t kRegistryMaxData = 65535;
constexpr std::size_t kRegistryMaxDepth = 64;

// subKey may be null or "" (the key itself); parts are separated by '\'.
// keyClass, security and the access mask are accepted and ignored.
LONG RegCreateKeyEx(HKEY key, const char* subKey, DWORD reserved, char* keyClass, DWORD options,
                    REGSAM access, void* security, PHKEY result, DWORD* disposition);
LONG RegOpenKeyEx(HKEY key, const char* subKey, DWORD options, REGSAM access, PHKEY result);
LONG RegCloseKey(HKEY key);
// valueName null or "" is the key's default value. Only REG_SZ is kept; size
// counts the bytes with the NUL.
LONG RegSetValueEx(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                   DWORD size);
// data may be null to learn the size; a small buffer gives ERROR_MORE_DATA with
// *size the bytes needed.
LONG RegQueryValueEx(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                     DWORD* size);
// Removes the subkey with everything under it (subKey null: everything under key).
LONG RegDeleteTree(HKEY key, const char* subKey);
// Makes later calls on the predefined key (HKEY_CLASSES_ROOT) work on newKey;
// null newKey restores it. Process-wide.
LONG RegOverridePredefKey(HKEY key, HKEY newKey);

// ---- Helpers over the calls above ---------------------------------------------
// The text of a value under key\subKey (valueName "" is the default value).
LONG RegistryReadText(HKEY key, std::string_view subKey, std::string_view valueName,
                      std::string* text);
// What went wrong with the last ERROR_BADDB on this thread: "FILE:LINE: reason".
std::string RegistryLastFault();
// A short English text for a result code above.
const char* RegistryErrorText(LONG code);

namespace platform {

// Points the two trees at other files ("" restores the default); for tests.
void UseRegistryFiles(std::string machineFile, std::string userFile);
// The files the trees live in now.
std::string MachineRegistryFile();
std::string UserRegistryFile();

// The text reader behind the files: true and the number of key lines when text
// is a well-formed registry file, with the tree written anew in *rewritten
// (when given) as a change would write it; else false with "LINE: reason" in *fault.
bool CheckRegistryText(std::string_view text, std::size_t* keys, std::string* fault,
                       std::string* rewritten = nullptr);

}  // namespace platform
