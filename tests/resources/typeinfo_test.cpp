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
    EXPECT_EQ(events, (std::set<DISPID>{1, 2, 3, 4, 5}));
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

TEST(TypeInfoLookup, NamesResolveIgnoringCase) {
    const MemberInfo* url = FindMemberByName("url");
    ASSERT_NE(url, nullptr);
    EXPECT_STREQ(url->name, "URL");
    EXPECT_EQ(url->dispid, 0x38);
    EXPECT_EQ(FindMemberByName("SERVERNAME"), FindMemberByDispid(0x2D));
    EXPECT_EQ(FindMemberByName("ServerNam"), nullptr);
    EXPECT_EQ(FindMemberByName(""), nullptr);
    EXPECT_EQ(FindMemberByDispid(0x5F), nullptr);
    EXPECT_EQ(FindEventByName("onerror"), FindEventByDispid(3));
    EXPECT_EQ(FindEnumByName("_fileOptionsConstants"), FindEnumByName("OptionsConstants"));
}

TEST(TypeInfoSpotValues, Properties) {
    struct Expect {
        const char* name;
        DISPID dispid;
        VARTYPE type;
        bool writable;
    };
    const Expect expected[] = {
        {"Enabled", -514, VT_BOOL, true},          {"Account", 1, VT_BSTR, true},
        {"CertificateExpires", 4, VT_BSTR, false}, {"DirectoryFormat", 0xD, VT_I4, true},
        {"Library", 0x15, VT_BSTR, true},          {"LastErrorString", 0x14, VT_BSTR, false},
        {"ProtocolVersion", 0x1E, VT_BSTR, true},  {"Secure", 0x27, VT_BOOL, true},
        {"ServerType", 0x2F, VT_I4, true},         {"Version", 0x3A, VT_BSTR, false},
        {"Compression", 0x5A, VT_BOOL, true},
    };
    for (const Expect& e : expected) {
        const MemberInfo* m = FindMemberByName(e.name);
        ASSERT_NE(m, nullptr) << e.name;
        EXPECT_TRUE(m->IsProperty()) << e.name;
        EXPECT_EQ(m->dispid, e.dispid) << e.name;
        EXPECT_EQ(m->type, e.type) << e.name;
        EXPECT_TRUE(m->readable) << e.name;
        EXPECT_EQ(m->writable, e.writable) << e.name;
    }
}

TEST(TypeInfoSpotValues, OnlyActivePortAndChannelModeAreIndexed) {
    std::set<std::string> indexed;
    for (const MemberInfo& m : InterfaceMembers()) {
        if (m.IsIndexed()) indexed.insert(m.name);
    }
    EXPECT_EQ(indexed, (std::set<std::string>{"ActivePort", "ChannelMode"}));
    const MemberInfo* port = FindMemberByName("ActivePort");
    ASSERT_EQ(port->params.size(), 1u);
    EXPECT_EQ(port->params[0].type, VT_I4);
}

TEST(TypeInfoSpotValues, PropertiesComeBeforeMethods) {
    bool seenMethod = false;
    int properties = 0;
    for (const MemberInfo& m : InterfaceMembers()) {
        if (m.IsMethod()) seenMethod = true;
        if (m.IsProperty()) {
            EXPECT_FALSE(seenMethod) << m.name;
            ++properties;
        }
    }
    EXPECT_EQ(properties, 67);
}

TEST(TypeInfoSpotValues, Methods) {
    const MemberInfo* connect = FindMemberByName("Connect");
    ASSERT_NE(connect, nullptr);
    EXPECT_EQ(connect->dispid, 0x40);
    ASSERT_EQ(connect->params.size(), 6u);
    for (const ParamInfo& p : connect->params)
        EXPECT_TRUE(p.IsOptional()) << p.name;
    EXPECT_STREQ(connect->params[5].name, "Options");
    EXPECT_STREQ(connect->retval, "Error");

    const MemberInfo* getData = FindMemberByDispid(0x43);
    ASSERT_NE(getData, nullptr);
    EXPECT_STREQ(getData->name, "GetData");
    EXPECT_FALSE(getData->params[0].IsOptional());
    EXPECT_TRUE(getData->params[1].IsOut());
    EXPECT_FALSE(getData->params[1].IsOptional());
    EXPECT_TRUE(getData->params[2].IsOut() && getData->params[2].IsOptional());

    for (const char* plain : {"Reset", "Uninitialize", "AddFileType", "About"}) {
        const MemberInfo* m = FindMemberByName(plain);
        ASSERT_NE(m, nullptr) << plain;
        EXPECT_EQ(m->retval, nullptr) << plain;
    }
    EXPECT_EQ(FindMemberByName("About")->dispid, -552);
    EXPECT_EQ(FindMemberByName("GetFileList")->dispid, 0x5B);
    EXPECT_EQ(FindMemberByName("ReadDirectory")->params.size(), 7u);
}

TEST(TypeInfoSpotValues, EventArguments) {
    const MemberInfo* progress = FindEventByName("OnProgress");
    ASSERT_NE(progress, nullptr);
    ASSERT_EQ(progress->params.size(), 4u);
    EXPECT_EQ(progress->params[0].type, VT_BSTR);
    EXPECT_STREQ(progress->params[3].name, "Percent");
    EXPECT_TRUE(FindEventByName("OnCancel")->params.empty());
    EXPECT_EQ(FindEventByName("OnTimeout")->dispid, 5);
}

TEST(TypeInfoConstants, SpotValues) {
    struct Expect {
        const char* name;
        LONG value;
    };
    const Expect expected[] = {
        {"fileInvalidHandle", -1},
        {"filePortFTPS", 990},
        {"fileOptionSecureExplicit", 8192},
        {"fileOptionIpv6Only", 262144},
        {"fileProxyOther", 255},
        {"fileSterlingStatusOther", INT32_MIN},
        {"fileFeatureAll", -1},
        {"fileFeatureUTIME", 524288},
        {"fileProtocolDefault", 10},
        {"fileTraceProcess", 4096},
        {"ftpChannelSecure", 1},
        {"fileError", -1},
        {"fileErrorOperationTimeout", 10060},
    };
    for (const Expect& e : expected) {
        const ConstantInfo* c = FindConstantByName(e.name);
        ASSERT_NE(c, nullptr) << e.name;
        EXPECT_EQ(c->value, e.value) << e.name;
    }
    EXPECT_EQ(fileOptionSecureShell, 16384);
    EXPECT_STREQ(FindEnumByName("ChannelConstants")->alias, "_ftpChannelConstants");
    EXPECT_EQ(ConstantEnumerations().size(), 25u);
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

TEST(TypeInfoLibrary, Attributes) {
    EXPECT_STREQ(TypeLibrary().name, "FileTransferCtl");
    EXPECT_EQ(TypeLibrary().majorVersion, 1);
    EXPECT_STREQ(TypeLibrary().helpText, "Tollane File Transfer Control 7.2");
    EXPECT_STREQ(TypeLibrary().eventInterfaceHelpText, "_IFileTransferEvents Interface");
}

}  // namespace
