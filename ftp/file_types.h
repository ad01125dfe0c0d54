// The automatic file type: the extension rules that FtpAddFileType adds, the
// fixed list of text extensions, and the look at a file's first bytes.
#pragma once

#include <span>
#include <string_view>

namespace ftp {

inline constexpr std::size_t kMaxExtensionLength = 63;
inline constexpr std::size_t kSniffLength = 4096;

// The extension of a path's last element (after its last '.'), or empty.
// Elements are separated by '\' or '/'; a drive prefix ("c:") is skipped.
std::string_view ExtensionOf(std::string_view path);
// True for the extensions that always mean text, compared without case.
bool IsTextExtension(std::string_view extension);
// The type of an extension by the process-wide rules, then the text list; 0 for none.
int FileTypeOfExtension(std::string_view extension);
// 1 (text) when every byte is printable or one of 7..13 and 27, else 3; 0 for no bytes.
int SniffFileType(std::span<const unsigned char> head);
// The type for a local or remote name: the extension, then (with sniff) the
// content of the local file of that name, then defaultType. -1 for an empty name.
int GuessFileTypeOfName(std::string_view name, bool sniff, int defaultType);
// The type the content of a local file gives (SniffFileType of its head); 0
// when it cannot be read or is empty. The local name's extension plays no part.
int SniffLocalFileType(std::string_view name);

// Adds or changes a rule; 0, or the error number (the caller holds no lock).
int AddFileTypeRule(std::string_view extension, int type);
// Forgets every rule (at the last shut-down of the engine).
void ClearFileTypeRules();

}  // namespace ftp
