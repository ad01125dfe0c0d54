#include "resources/typeinfo.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

namespace {

constexpr unsigned kIn = kParamIn;
constexpr unsigned kInOpt = kParamIn | kParamOptional;
constexpr unsigned kInOut = kParamIn | kParamOut;
constexpr unsigned kInOutOpt = kParamIn | kParamOut | kParamOptional;

// ---- Members ---------------------------------------------------------------

constexpr std::span<const ParamInfo> kNoParams{};
#define FT_PARAM(Name, type, flags) \
    ParamInfo {                     \
#Name, type, k##flags       \
    }
#define FT_PARAMS(List, ...) constexpr ParamInfo k##List[] = {__VA_ARGS__};
#define FT_PROPERTY(Name, dispid, Value, Access, help)
#define FT_METHOD(Name, dispid, List, help)
#define FT_PLAIN_METHOD(Name, dispid, List, help)
#include "resources/members.inc"
#undef FT_PARAMS
#undef FT_PROPERTY
#undef FT_METHOD
#undef FT_PLAIN_METHOD

constexpr MemberInfo Property(const char* name, DISPID dispid, VARTYPE type, MemberAccess access,
                              const char* help) {
    const bool indexed = access == MemberAccess::Indexed;
    return {name,
            dispid,
            MemberKind::Property,
            type,
            true,
            access != MemberAccess::ReadOnly,
            indexed ? std::span<const ParamInfo>(kIndexParams) : kNoParams,
            nullptr,
            help};
}

constexpr MemberInfo kMembers[] = {
#define FT_PROPERTY(Name, dispid, Value, Access, help) \
    Property(#Name, dispid, kVarTypeOf<MemberValue::Value>, MemberAccess::Access, help),
#define FT_METHOD(Name, dispid, List, help) \
    {#Name, dispid, MemberKind::Method, VT_VARIANT, false, false, k##List, "Error", help},
#define FT_PLAIN_METHOD(Name, dispid, List, help) \
    {#Name, dispid, MemberKind::Method, VT_EMPTY, false, false, k##List, nullptr, help},
#include "resources/members.inc"
#undef FT_PROPERTY
#undef FT_METHOD
#undef FT_PLAIN_METHOD
};
static_assert(std::size(kMembers) == kInterfaceMemberCount);

constexpr MemberInfo kEventMembers[] = {
#define FT_PROPERTY(Name, dispid, Value, Access, help)
#define FT_METHOD(Name, dispid, List, help)
#define FT_PLAIN_METHOD(Name, dispid, List, help)
#define FT_EVENT(Name, dispid, List, help) \
    {#Name, dispid, MemberKind::Event, VT_EMPTY, false, false, k##List, nullptr, help},
#include "resources/members.inc"
#undef FT_PROPERTY
#undef FT_METHOD
#undef FT_PLAIN_METHOD
#undef FT_EVENT
};
#undef FT_PARAM

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

template <typename Range, typename Pred>
auto FindIn(const Range& range, Pred pred) -> decltype(&*std::begin(range)) {
    auto it = std::find_if(std::begin(range), std::end(range), pred);
    return it != std::end(range) ? &*it : nullptr;
}

}  // namespace

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
