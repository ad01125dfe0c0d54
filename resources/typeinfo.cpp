#include "resources/typeinfo.h"

#include <algorithm>
#include <cstddef>

namespace {

constexpr unsigned kIn = kParamIn;
constexpr unsigned kInOpt = kParamIn | kParamOptional;
constexpr unsigned kInOut = kParamIn | kParamOut;
constexpr unsigned kInOutOpt = kParamIn | kParamOut | kParamOptional;

// ---- Parameter lists -------------------------------------------------------

constexpr ParamInfo kIndexParam[] = {{"Index", VT_I4, kIn}};

constexpr ParamInfo kConnectParams[] = {
    {"ServerName", VT_VARIANT, kInOpt}, {"ServerPort", VT_VARIANT, kInOpt},
    {"UserName", VT_VARIANT, kInOpt},   {"Password", VT_VARIANT, kInOpt},
    {"Timeout", VT_VARIANT, kInOpt},    {"Options", VT_VARIANT, kInOpt},
};
constexpr ParamInfo kFileTransferParams[] = {
    {"LocalFile", VT_VARIANT, kIn},
    {"RemoteFile", VT_VARIANT, kInOpt},
    {"RestartOffset", VT_VARIANT, kInOpt},
};
constexpr ParamInfo kGetDataParams[] = {
    {"RemoteFile", VT_VARIANT, kIn},
    {"Buffer", VT_VARIANT, kInOut},
    {"Length", VT_VARIANT, kInOutOpt},
    {"Reserved", VT_VARIANT, kInOpt},
};
constexpr ParamInfo kPutDataParams[] = {
    {"RemoteFile", VT_VARIANT, kIn},
    {"Buffer", VT_VARIANT, kIn},
    {"Length", VT_VARIANT, kInOpt},
    {"Reserved", VT_VARIANT, kInOpt},
};
constexpr ParamInfo kPostFileParams[] = {
    {"LocalFile", VT_VARIANT, kIn},
    {"RemoteFile", VT_VARIANT, kInOpt},
    {"FieldName", VT_VARIANT, kInOpt},
    {"Options", VT_VARIANT, kInOpt},
};
constexpr ParamInfo kMultipleFilesParams[] = {
    {"LocalDir", VT_VARIANT, kIn},
    {"RemoteDir", VT_VARIANT, kIn},
    {"FileMask", VT_VARIANT, kIn},
};
constexpr ParamInfo kDirNameParams[] = {{"DirName", VT_VARIANT, kIn}};
constexpr ParamInfo kGetDirectoryParams[] = {{"RemotePath", VT_VARIANT, kInOut}};
constexpr ParamInfo kOpenDirectoryParams[] = {
    {"DirName", VT_VARIANT, kInOpt},
    {"ParseList", VT_VARIANT, kInOpt},
};
constexpr ParamInfo kReadDirectoryParams[] = {
    {"FileName", VT_VARIANT, kInOut},       {"FileLength", VT_VARIANT, kInOutOpt},
    {"FileDate", VT_VARIANT, kInOutOpt},    {"FileOwner", VT_VARIANT, kInOutOpt},
    {"FileGroup", VT_VARIANT, kInOutOpt},   {"FilePerms", VT_VARIANT, kInOutOpt},
    {"IsDirectory", VT_VARIANT, kInOutOpt},
};
constexpr ParamInfo kGetFileListParams[] = {
    {"RemotePath", VT_VARIANT, kIn},
    {"Buffer", VT_VARIANT, kInOut},
    {"Length", VT_VARIANT, kInOpt},
    {"Options", VT_VARIANT, kInOpt},
};
constexpr ParamInfo kGetFileStatusParams[] = {
    {"FileName", VT_VARIANT, kIn},          {"FileLength", VT_VARIANT, kInOutOpt},
    {"FileDate", VT_VARIANT, kInOutOpt},    {"FileOwner", VT_VARIANT, kInOutOpt},
    {"FileGroup", VT_VARIANT, kInOutOpt},   {"FilePerms", VT_VARIANT, kInOutOpt},
    {"IsDirectory", VT_VARIANT, kInOutOpt},
};
constexpr ParamInfo kGetFileSizeParams[] = {
    {"FileName", VT_VARIANT, kIn},
    {"FileSize", VT_VARIANT, kInOut},
};
constexpr ParamInfo kGetFileTimeParams[] = {
    {"FileName", VT_VARIANT, kIn},
    {"FileDate", VT_VARIANT, kInOut},
};
constexpr ParamInfo kGetFilePermissionsParams[] = {
    {"FileName", VT_VARIANT, kIn},
    {"FilePerms", VT_VARIANT, kInOut},
};
constexpr ParamInfo kFileNameParams[] = {{"FileName", VT_VARIANT, kIn}};
constexpr ParamInfo kRenameFileParams[] = {
    {"OldFileName", VT_VARIANT, kIn},
    {"NewFileName", VT_VARIANT, kIn},
};
constexpr ParamInfo kSetFilePermissionsParams[] = {
    {"FileName", VT_VARIANT, kIn},
    {"FilePerms", VT_VARIANT, kIn},
};
constexpr ParamInfo kSetFileTimeParams[] = {
    {"FileName", VT_VARIANT, kIn},
    {"FileDate", VT_VARIANT, kIn},
};
constexpr ParamInfo kCommandParams[] = {{"Command", VT_VARIANT, kIn}};
// VerifyFile and AddFileType define defaults for every absent argument, so
// all of their arguments may be left out.
constexpr ParamInfo kVerifyFileParams[] = {
    {"LocalFile", VT_VARIANT, kInOpt},
    {"RemoteFile", VT_VARIANT, kInOpt},
    {"Options", VT_VARIANT, kInOpt},
};
constexpr ParamInfo kAddFileTypeParams[] = {
    {"FileExtension", VT_VARIANT, kInOpt},
    {"FileType", VT_VARIANT, kInOpt},
};

constexpr ParamInfo kOnCommandParams[] = {
    {"ResultCode", VT_I4, kIn},
    {"ResultString", VT_BSTR, kIn},
};
constexpr ParamInfo kOnErrorParams[] = {
    {"ErrorCode", VT_I4, kIn},
    {"Description", VT_BSTR, kIn},
};
constexpr ParamInfo kOnProgressParams[] = {
    {"FileName", VT_BSTR, kIn},
    {"FileSize", VT_I4, kIn},
    {"BytesCopied", VT_I4, kIn},
    {"Percent", VT_I4, kIn},
};

// ---- Members ---------------------------------------------------------------

constexpr MemberInfo Prop(const char* name, DISPID dispid, VARTYPE type, bool writable) {
    return {name, dispid, MemberKind::Property, type, true, writable, {}, nullptr};
}
constexpr MemberInfo ReadOnly(const char* name, DISPID dispid, VARTYPE type) {
    return Prop(name, dispid, type, false);
}
constexpr MemberInfo ReadWrite(const char* name, DISPID dispid, VARTYPE type) {
    return Prop(name, dispid, type, true);
}
constexpr MemberInfo Indexed(const char* name, DISPID dispid, VARTYPE type) {
    return {name, dispid, MemberKind::Property, type, true, true, kIndexParam, nullptr};
}
constexpr MemberInfo Method(const char* name, DISPID dispid, std::span<const ParamInfo> params) {
    return {name, dispid, MemberKind::Method, VT_VARIANT, false, false, params, "Error"};
}
constexpr MemberInfo PlainMethod(const char* name, DISPID dispid,
                                 std::span<const ParamInfo> params = {}) {
    return {name, dispid, MemberKind::Method, VT_EMPTY, false, false, params, nullptr};
}
constexpr MemberInfo Event(const char* name, DISPID dispid,
                           std::span<const ParamInfo> params = {}) {
    return {name, dispid, MemberKind::Event, VT_EMPTY, false, false, params, nullptr};
}

constexpr MemberInfo kMembers[] = {
    ReadWrite("Enabled", kDispidEnabled, VT_BOOL),
    ReadWrite("Account", 0x01, VT_BSTR),
    Indexed("ActivePort", 0x02, VT_I4),
    ReadWrite("AppendFile", 0x03, VT_BOOL),
    ReadOnly("CertificateExpires", 0x04, VT_BSTR),
    ReadOnly("CertificateIssued", 0x05, VT_BSTR),
    ReadOnly("CertificateIssuer", 0x06, VT_BSTR),
    ReadWrite("CertificateName", 0x07, VT_BSTR),
    ReadOnly("CertificateStatus", 0x08, VT_I4),
    ReadWrite("CertificateStore", 0x09, VT_BSTR),
    ReadOnly("CertificateSubject", 0x0A, VT_BSTR),
    Indexed("ChannelMode", 0x0B, VT_I4),
    ReadOnly("CipherStrength", 0x0C, VT_I4),
    ReadWrite("DirectoryFormat", 0x0D, VT_I4),
    ReadWrite("Features", 0x0E, VT_I4),
    ReadWrite("FileType", 0x0F, VT_I4),
    ReadOnly("Fingerprint", 0x10, VT_BSTR),
    ReadOnly("HashStrength", 0x11, VT_I4),
    ReadWrite("KeepAlive", 0x12, VT_BOOL),
    ReadWrite("LastError", 0x13, VT_I4),
    ReadOnly("LastErrorString", 0x14, VT_BSTR),
    ReadWrite("Library", 0x15, VT_BSTR),
    ReadOnly("LocalAddress", 0x16, VT_BSTR),
    ReadWrite("Localize", 0x17, VT_BOOL),
    ReadOnly("LocalName", 0x18, VT_BSTR),
    ReadWrite("Options", 0x19, VT_I4),
    ReadWrite("Passive", 0x1A, VT_BOOL),
    ReadWrite("Password", 0x1B, VT_BSTR),
    ReadWrite("Priority", 0x1C, VT_I4),
    ReadWrite("PrivateKey", 0x1D, VT_BSTR),
    ReadWrite("ProtocolVersion", 0x1E, VT_BSTR),
    ReadWrite("ProxyPassword", 0x1F, VT_BSTR),
    ReadWrite("ProxyPort", 0x20, VT_I4),
    ReadWrite("ProxyServer", 0x21, VT_BSTR),
    ReadWrite("ProxyType", 0x22, VT_I4),
    ReadWrite("ProxyUser", 0x23, VT_BSTR),
    ReadWrite("Resource", 0x24, VT_BSTR),
    ReadOnly("ResultCode", 0x25, VT_I4),
    ReadOnly("ResultString", 0x26, VT_BSTR),
    ReadWrite("Secure", 0x27, VT_BOOL),
    ReadOnly("SecureCipher", 0x28, VT_I4),
    ReadOnly("SecureHash", 0x29, VT_I4),
    ReadOnly("SecureKeyExchange", 0x2A, VT_I4),
    ReadWrite("SecureProtocol", 0x2B, VT_I4),
    ReadWrite("ServerDirectory", 0x2C, VT_BSTR),
    ReadWrite("ServerName", 0x2D, VT_BSTR),
    ReadWrite("ServerPort", 0x2E, VT_I4),
    ReadWrite("ServerType", 0x2F, VT_I4),
    ReadOnly("System", 0x30, VT_BSTR),
    ReadWrite("ThrowError", 0x31, VT_BOOL),
    ReadWrite("Timeout", 0x32, VT_I4),
    ReadWrite("Trace", 0x33, VT_BOOL),
    ReadWrite("TraceFile", 0x34, VT_BSTR),
    ReadWrite("TraceFlags", 0x35, VT_I4),
    ReadOnly("TransferBytes", 0x36, VT_I4),
    ReadOnly("TransferTime", 0x37, VT_I4),
    ReadWrite("URL", 0x38, VT_BSTR),
    ReadWrite("UserName", 0x39, VT_BSTR),
    ReadOnly("Version", 0x3A, VT_BSTR),
    ReadWrite("Compression", 0x5A, VT_BOOL),
    ReadOnly("SecureAlgorithms", 0x5C, VT_BSTR),
    ReadOnly("FingerprintSHA256", 0x5D, VT_BSTR),
    ReadOnly("ServerVersion", 0x5E, VT_BSTR),
    ReadWrite("HostKeyPolicy", 0x60, VT_I4),
    ReadWrite("KnownHostsFile", 0x61, VT_BSTR),
    ReadOnly("HostKeyStatus", 0x62, VT_I4),
    ReadOnly("HostKeyText", 0x63, VT_BSTR),
    ReadWrite("UseAgent", 0x64, VT_BOOL),
    ReadWrite("DefaultIdentities", 0x65, VT_BOOL),
    ReadOnly("TransferBytes64", 0x6D, VT_I8),
    ReadOnly("TransferSize64", 0x6E, VT_I8),
    ReadOnly("ResponseFileName", 0x78, VT_BSTR),
    ReadWrite("UseMlsd", 0x70, VT_BOOL),

    PlainMethod("AddFileType", 0x3B, kAddFileTypeParams),
    Method("Cancel", 0x3C, {}),
    Method("ChangeDirectory", 0x3D, kDirNameParams),
    Method("CloseDirectory", 0x3E, {}),
    Method("Command", 0x3F, kCommandParams),
    Method("Connect", 0x40, kConnectParams),
    Method("DeleteFile", 0x41, kFileNameParams),
    Method("Disconnect", 0x42, {}),
    Method("GetData", 0x43, kGetDataParams),
    Method("GetDirectory", 0x44, kGetDirectoryParams),
    Method("GetFile", 0x45, kFileTransferParams),
    Method("GetFilePermissions", 0x46, kGetFilePermissionsParams),
    Method("GetFileStatus", 0x47, kGetFileStatusParams),
    Method("GetFileSize", 0x48, kGetFileSizeParams),
    Method("GetFileTime", 0x49, kGetFileTimeParams),
    Method("GetMultipleFiles", 0x4A, kMultipleFilesParams),
    Method("Initialize", 0x4B, {}),
    Method("MakeDirectory", 0x4C, kDirNameParams),
    Method("OpenDirectory", 0x4D, kOpenDirectoryParams),
    Method("PostFile", 0x4E, kPostFileParams),
    Method("PutData", 0x4F, kPutDataParams),
    Method("PutFile", 0x50, kFileTransferParams),
    Method("PutMultipleFiles", 0x51, kMultipleFilesParams),
    Method("ReadDirectory", 0x52, kReadDirectoryParams),
    Method("RemoveDirectory", 0x53, kDirNameParams),
    Method("RenameFile", 0x54, kRenameFileParams),
    PlainMethod("Reset", 0x55),
    Method("SetFilePermissions", 0x56, kSetFilePermissionsParams),
    Method("SetFileTime", 0x57, kSetFileTimeParams),
    PlainMethod("Uninitialize", 0x58),
    Method("VerifyFile", 0x59, kVerifyFileParams),
    Method("GetFileList", 0x5B, kGetFileListParams),
    Method("GetFile64", 0x68, kFileTransferParams),
    Method("PutFile64", 0x69, kFileTransferParams),
    Method("GetFileSize64", 0x6A, kGetFileSizeParams),
    Method("GetFileStatus64", 0x6B, kGetFileStatusParams),
    Method("ReadDirectory64", 0x6C, kReadDirectoryParams),
    PlainMethod("About", kDispidAbout),
};

constexpr MemberInfo kEventMembers[] = {
    Event("OnCancel", 1),
    Event("OnCommand", 2, kOnCommandParams),
    Event("OnError", 3, kOnErrorParams),
    Event("OnProgress", 4, kOnProgressParams),
    Event("OnTimeout", 5),
};

// ---- Constant enumerations -------------------------------------------------

#define FT_ENUM_BEGIN(name, alias) constexpr ConstantInfo k##name[] = {
#define FT_CONST(name, value) {#name, (value)},
#define FT_ENUM_END() \
    }                 \
    ;
#include "resources/typeinfo.inc"
#undef FT_ENUM_BEGIN
#undef FT_CONST
#undef FT_ENUM_END

constexpr ConstantInfo kErrorConstants[] = {
    {"fileError", fileError},
#define FT_ERROR(number, name, text) {#name, number},
#define FT_ERROR_UNNAMED(number, text)
#include "resources/errors.inc"
#undef FT_ERROR
#undef FT_ERROR_UNNAMED
};

constexpr EnumInfo kEnums[] = {
#define FT_ENUM_BEGIN(name, alias) {#name, #alias, k##name},
#define FT_CONST(name, value)
#define FT_ENUM_END()
#include "resources/typeinfo.inc"
#undef FT_ENUM_BEGIN
#undef FT_CONST
#undef FT_ENUM_END
    {"ErrorConstants", "_fileErrorConstants", kErrorConstants},
};

constexpr TypeLibraryInfo kTypeLibrary{
    "FileTransferCtl",
    1,
    0,
    "Tollane File Transfer Control 7.2",
    "IFileTransfer",
    "IFileTransfer Interface",
    "_IFileTransferEvents",
    "_IFileTransferEvents Interface",
    "FileTransfer",
    "Tollane File Transfer Control 7.2",
};

constexpr char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

template <typename Range, typename Pred>
auto FindIn(const Range& range, Pred pred) -> decltype(&*std::begin(range)) {
    auto it = std::find_if(std::begin(range), std::end(range), pred);
    return it != std::end(range) ? &*it : nullptr;
}

}  // namespace

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

const TypeLibraryInfo& TypeLibrary() {
    return kTypeLibrary;
}
std::span<const MemberInfo> InterfaceMembers() {
    return kMembers;
}
std::span<const MemberInfo> EventMembers() {
    return kEventMembers;
}
std::span<const EnumInfo> ConstantEnumerations() {
    return kEnums;
}

const MemberInfo* FindMemberByName(std::string_view name) {
    return FindIn(kMembers,
                  [name](const MemberInfo& m) { return EqualsIgnoringCase(m.name, name); });
}

const MemberInfo* FindMemberByDispid(DISPID dispid) {
    return FindIn(kMembers, [dispid](const MemberInfo& m) { return m.dispid == dispid; });
}

const MemberInfo* FindEventByName(std::string_view name) {
    return FindIn(kEventMembers,
                  [name](const MemberInfo& m) { return EqualsIgnoringCase(m.name, name); });
}

const MemberInfo* FindEventByDispid(DISPID dispid) {
    return FindIn(kEventMembers, [dispid](const MemberInfo& m) { return m.dispid == dispid; });
}

const EnumInfo* FindEnumByName(std::string_view nameOrAlias) {
    return FindIn(kEnums, [nameOrAlias](const EnumInfo& e) {
        return EqualsIgnoringCase(e.name, nameOrAlias) || EqualsIgnoringCase(e.alias, nameOrAlias);
    });
}

const ConstantInfo* FindConstantByName(std::string_view name) {
    for (const EnumInfo& e : kEnums) {
        if (const ConstantInfo* c = FindIn(e.constants, [name](const ConstantInfo& c) {
                return EqualsIgnoringCase(c.name, name);
            })) {
            return c;
        }
    }
    return nullptr;
}
