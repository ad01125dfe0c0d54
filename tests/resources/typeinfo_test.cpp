#include "resources/typeinfo.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

std::string Lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Names compare ignoring case, as callers look them up.
template <class Items, class Key>
void ExpectUnique(const Items& items, Key key, const std::string& what) {
    std::set<std::string> seen;
    for (const auto& item : items)
        EXPECT_TRUE(seen.insert(Lower(key(item))).second)
            << "duplicate " << what << " " << key(item);
}

TEST(TypeInfoUniqueness, DispidsAndNamesOfMembersConstantsAndParameters) {
    auto name = [](const auto& item) { return std::string(item.name); };
    auto dispid = [](const MemberInfo& m) { return std::to_string(m.dispid); };
    for (std::span<const MemberInfo> members : {InterfaceMembers(), EventMembers()}) {
        ExpectUnique(members, name, "member");
        ExpectUnique(members, dispid, "dispid");
    }
    std::set<DISPID> events;
    for (const MemberInfo& m : EventMembers())
        events.insert(m.dispid);
    EXPECT_EQ(events, (std::set<DISPID>{1, 2, 3, 4, 5, 6}));
    for (const MemberInfo& m : InterfaceMembers())
        ExpectUnique(m.params, name, std::string(m.name) + " parameter");

    std::vector<std::string> enums, constants;
    for (const EnumInfo& e : ConstantEnumerations()) {
        enums.insert(enums.end(), {e.name, e.alias});
        EXPECT_FALSE(e.constants.empty()) << e.name;
        for (const ConstantInfo& c : e.constants)
            constants.push_back(c.name);
    }
    auto self = [](const std::string& text) { return text; };
    ExpectUnique(enums, self, "enumeration");
    ExpectUnique(constants, self, "constant");
}

// Names resolve ignoring case (every member and event both ways is
// dispatch_test.cpp's); the flags behind the member queries, and properties
// before the methods, as the type library lists them.
TEST(TypeInfoMembers, LookupsKindsOrderAndParameterFlags) {
    EXPECT_EQ(FindMemberByName("ServerNam"), nullptr);
    EXPECT_EQ(FindMemberByName(""), nullptr);
    EXPECT_EQ(FindMemberByDispid(0x5F), nullptr);
    EXPECT_EQ(FindEventByName("onerror"), FindEventByDispid(3));
    EXPECT_EQ(FindEnumByName("_fileOptionsConstants"), FindEnumByName("OptionsConstants"));
    std::set<std::string> indexed;
    bool seenMethod = false;
    for (const MemberInfo& m : InterfaceMembers()) {
        if (m.IsIndexed()) indexed.insert(m.name);
        if (m.IsMethod()) seenMethod = true;
        EXPECT_FALSE(m.IsProperty() && seenMethod) << m.name << " after the methods";
    }
    EXPECT_EQ(indexed, (std::set<std::string>{"ActivePort", "ChannelMode"}));
    const MemberInfo* getData = FindMemberByName("GetData");
    EXPECT_FALSE(getData->params[1].IsOptional());
    EXPECT_TRUE(getData->params[2].IsOut() && getData->params[2].IsOptional());
    EXPECT_STREQ(FindMemberByName("Connect")->retval, "Error");
    EXPECT_EQ(FindMemberByName("Reset")->retval, nullptr);
}

TEST(TypeInfoConstants, EveryErrorNumberIsAnErrorConstant) {
    const EnumInfo* errors = FindEnumByName("_fileErrorConstants");
    ASSERT_NE(errors, nullptr);
    std::size_t named = 0;
    for (const ErrorInfo& info : ErrorTable()) {
        if (info.name[0] == '\0') continue;
        ++named;
        const ConstantInfo* c = FindConstantByName(info.name);
        ASSERT_NE(c, nullptr) << info.name;
        EXPECT_EQ(c->value, info.number) << info.name;
    }
    EXPECT_EQ(errors->constants.size(), named + 1);  // plus fileError
}

}  // namespace
