// The control's type library, made from the member table and the constant
// enumerations (resources/typeinfo.h): the coclass, the dispatch interface, the
// event interface and one type description per enumeration. Nothing here names
// a member or a dispid; every description is read from those tables.
#pragma once

#include <span>

#include "platform/typelib.h"
#include "resources/typeinfo.h"

// The positions of the type descriptions in the library; each is also the
// HREFTYPE the coclass refers to it by.
enum ControlTypeInfoIndex : UINT {
    kCoclassTypeInfo = 0,
    kInterfaceTypeInfo = 1,
    kEventsTypeInfo = 2,
    kFirstEnumTypeInfo = 3,  // then one per ConstantEnumerations() row
};

// Enumeration constants are numbered from here in their enumeration's order.
constexpr MEMBERID kFirstConstantMemid = 0x40000000;

// A new type library (one reference, to the caller).
HRESULT CreateControlTypeLib(ITypeLib** library);
// One type description of a new library; it keeps its library alive.
HRESULT GetControlTypeInfo(UINT index, ITypeInfo** info);

// Resolves names[0] as a member name and the names after it as that member's
// parameter names (their dispids are their positions), ignoring ASCII case.
// Unknown names get DISPID_UNKNOWN and the result DISP_E_UNKNOWNNAME.
HRESULT ResolveMemberNames(std::span<const MemberInfo> members, LPOLESTR* names, UINT count,
                           DISPID* dispids);
