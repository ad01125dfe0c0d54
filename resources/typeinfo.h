// The type information of the control: every property, method and event of the
// dispatch interfaces with its dispid and parameters (from the member table,
// resources/members.inc), and the constant enumerations. This table is what
// callers resolve names against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/text.h"
#include "platform/wintypes.h"
#include "resources/errors.h"

#define FT_ENUM_BEGIN(name, alias) enum name : LONG {
#define FT_CONST(name, value) name = (value),
#define FT_ENUM_END() \
    }                 \
    ;
#include "resources/typeinfo.inc"
#undef FT_ENUM_BEGIN
#undef FT_CONST
#undef FT_ENUM_END

// Stock and ambient dispids the control deals with.
constexpr DISPID kDispidEnabled = -514;
constexpr DISPID kDispidAbout = -552;
constexpr DISPID kDispidAmbientUserMode = -709;

enum class MemberKind : std::uint8_t { Property, Method, Event };

// The Value column of resources/members.inc: the C++ type a property's value
// travels as in its accessors, and the automation type of that.
struct MemberValue {
    using Text = BSTR;
    using Long = LONG;
    using Bool = VARIANT_BOOL;
    using Int64 = LONGLONG;
};
template <class T>
inline constexpr VARTYPE kVarTypeOf = VT_EMPTY;
template <>
inline constexpr VARTYPE kVarTypeOf<BSTR> = VT_BSTR;
template <>
inline constexpr VARTYPE kVarTypeOf<LONG> = VT_I4;
template <>
inline constexpr VARTYPE kVarTypeOf<VARIANT_BOOL> = VT_BOOL;
template <>
inline constexpr VARTYPE kVarTypeOf<LONGLONG> = VT_I8;

// The Access column of resources/members.inc.
enum class MemberAccess : std::uint8_t { ReadWrite, ReadOnly, Indexed };

// The number of properties and methods of IFileTransfer.
inline constexpr std::size_t kInterfaceMemberCount = 0
#define FT_PROPERTY(...) +1
#define FT_METHOD(...) +1
#define FT_PLAIN_METHOD(...) +1
#include "resources/members.inc"
#undef FT_PROPERTY
#undef FT_METHOD
#undef FT_PLAIN_METHOD
    ;

enum ParamFlags : unsigned {
    kParamIn = 1u,
    kParamOut = 2u,
    kParamOptional = 4u,
};

struct ParamInfo {
    const char* name;
    VARTYPE type;
    unsigned flags;  // ParamFlags

    bool IsOptional() const { return (flags & kParamOptional) != 0; }
    bool IsOut() const { return (flags & kParamOut) != 0; }
};

struct MemberInfo {
    const char* name;
    DISPID dispid;
    MemberKind kind;
    VARTYPE type;   // property value type; VT_VARIANT for a method's retval, VT_EMPTY for none
    bool readable;  // properties only
    bool writable;  // properties only
    std::span<const ParamInfo> params;  // the index of an indexed property; a method's arguments
    const char* retval;                 // name of a method's retval ("Error"), or null
    const char* helpText;

    bool IsProperty() const { return kind == MemberKind::Property; }
    bool IsMethod() const { return kind == MemberKind::Method; }
    bool IsIndexed() const { return IsProperty() && !params.empty(); }
};

struct ConstantInfo {
    const char* name;
    LONG value;
};

struct EnumInfo {
    const char* name;
    const char* alias;
    std::span<const ConstantInfo> constants;
};

struct TypeLibraryInfo {
    const char* name;
    WORD majorVersion;
    WORD minorVersion;
    const char* helpText;
    const char* interfaceName;
    const char* interfaceHelpText;
    const char* eventInterfaceName;
    const char* eventInterfaceHelpText;
    const char* coclassName;
    const char* coclassHelpText;
};

const TypeLibraryInfo& TypeLibrary();

// Properties and methods of IFileTransfer, in type-information order (the
// properties first): kInterfaceMemberCount rows, in the order of members.inc.
std::span<const MemberInfo> InterfaceMembers();
// Events of _IFileTransferEvents.
std::span<const MemberInfo> EventMembers();
std::span<const EnumInfo> ConstantEnumerations();

// Names are matched ignoring ASCII case, as automation clients resolve them.
const MemberInfo* FindMemberByName(std::string_view name);
const MemberInfo* FindMemberByDispid(DISPID dispid);
const MemberInfo* FindEventByName(std::string_view name);
const MemberInfo* FindEventByDispid(DISPID dispid);
const EnumInfo* FindEnumByName(std::string_view nameOrAlias);
const ConstantInfo* FindConstantByName(std::string_view name);

