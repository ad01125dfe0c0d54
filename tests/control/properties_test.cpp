#include "control_test_support.h"

namespace {

using Properties = ControlTest;

// The defaults no other test reads (Reset's test covers the rest).
TEST_F(Properties, FreshControlHasTheInitialValues) {
    EXPECT_EQ(Long(&CFileTransfer::get_ServerPort), 0);
    EXPECT_TRUE(Bool(&CFileTransfer::get_Passive));
    EXPECT_FALSE(Bool(&CFileTransfer::get_Secure));
    EXPECT_EQ(Text(&CFileTransfer::get_ProtocolVersion), "1.0");
}

TEST_F(Properties, StringsAreReturnedAsNewCopies) {
    ASSERT_EQ(SetText(&CFileTransfer::put_ServerName, "h\xC3\xA9st"), S_OK);
    BSTR first = nullptr, second = nullptr;
    ASSERT_EQ(control_->get_ServerName(&first), S_OK);
    ASSERT_EQ(control_->get_ServerName(&second), S_OK);
    EXPECT_NE(first, second);
    EXPECT_EQ(Utf8FromBstr(first), "h\xC3\xA9st");
    SysFreeString(first);
    SysFreeString(second);
    // An empty text still reads as a string, not as a null pointer.
    BSTR empty = nullptr;
    ASSERT_EQ(control_->get_Account(&empty), S_OK);
    EXPECT_NE(empty, nullptr);
    SysFreeString(empty);
}

// ---- Server type inference ---------------------------------------------------

TEST_F(Properties, WellKnownPortsSetAnUndefinedServerType) {
    struct Case {
        LONG port;
        LONG serverType;
    };
    // No range check either: any number is kept.
    for (Case c : {Case{21, 1}, Case{990, 1}, Case{80, 2}, Case{443, 2}, Case{8080, 0}, Case{22, 0},
                   Case{0, 0}, Case{-5, 0}, Case{70000, 0}}) {
        ASSERT_EQ(control_->put_ServerType(0), S_OK);
        ASSERT_EQ(control_->put_ServerPort(c.port), S_OK);
        EXPECT_EQ(Long(&CFileTransfer::get_ServerType), c.serverType) << c.port;
        EXPECT_EQ(Long(&CFileTransfer::get_ServerPort), c.port);
    }
}

TEST_F(Properties, PortsDoNotOverrideAChosenServerType) {
    ASSERT_EQ(control_->put_ServerType(1), S_OK);
    ASSERT_EQ(control_->put_ServerPort(443), S_OK);
    EXPECT_EQ(Long(&CFileTransfer::get_ServerType), 1);
    ASSERT_EQ(control_->put_ServerType(2), S_OK);
    ASSERT_EQ(control_->put_ServerPort(21), S_OK);
    EXPECT_EQ(Long(&CFileTransfer::get_ServerType), 2);
}

// ---- Security coupling ---------------------------------------------------------

TEST_F(Properties, SecureShellAndExplicitOptionsImplyImplicitAndSecure) {
    ASSERT_EQ(control_->put_Options(fileOptionNoCache | fileOptionIpv6Only), S_OK);
    EXPECT_FALSE(Bool(&CFileTransfer::get_Secure)) << "no security bits, no Secure";
    ASSERT_EQ(control_->put_Options(fileOptionSecureShell), S_OK);
    EXPECT_EQ(Long(&CFileTransfer::get_Options), 0x5000);
    EXPECT_TRUE(Bool(&CFileTransfer::get_Secure));
    ASSERT_EQ(control_->put_Options(0), S_OK);
    EXPECT_EQ(Long(&CFileTransfer::get_Options), 0);
    EXPECT_TRUE(Bool(&CFileTransfer::get_Secure)) << "Options never clears Secure";
    ASSERT_EQ(control_->put_Options(fileOptionSecureExplicit | fileOptionNoCache), S_OK);
    EXPECT_EQ(Long(&CFileTransfer::get_Options), 0x3001);
}

TEST_F(Properties, SecureAndSecureProtocolFollowEachOther) {
    EXPECT_EQ(Long(&CFileTransfer::get_SecureProtocol), 0);
    ASSERT_EQ(control_->put_Secure(VARIANT_TRUE), S_OK);
    EXPECT_EQ(Long(&CFileTransfer::get_SecureProtocol), fileProtocolDefault);
    ASSERT_EQ(control_->put_SecureProtocol(fileProtocolTLS1), S_OK);
    EXPECT_EQ(Long(&CFileTransfer::get_SecureProtocol), 8);
    EXPECT_TRUE(Bool(&CFileTransfer::get_Secure));
    // Writing Secure again keeps a protocol that is already chosen.
    ASSERT_EQ(control_->put_Secure(VARIANT_TRUE), S_OK);
    EXPECT_EQ(Long(&CFileTransfer::get_SecureProtocol), 8);
    ASSERT_EQ(control_->put_SecureProtocol(0), S_OK);
    EXPECT_FALSE(Bool(&CFileTransfer::get_Secure));
}

TEST_F(Properties, SecureProtocolReadsZeroWhileNotSecure) {
    ASSERT_EQ(control_->put_SecureProtocol(fileProtocolSSH2), S_OK);
    ASSERT_EQ(control_->put_Secure(VARIANT_FALSE), S_OK);
    EXPECT_EQ(Long(&CFileTransfer::get_SecureProtocol), 0);
    ASSERT_EQ(control_->put_Secure(VARIANT_TRUE), S_OK);
    EXPECT_EQ(Long(&CFileTransfer::get_SecureProtocol), fileProtocolSSH2);
}

TEST_F(Properties, AnyNonZeroBooleanIsTrue) {
    ASSERT_EQ(control_->put_KeepAlive(1), S_OK);
    VARIANT_BOOL value = 0;
    ASSERT_EQ(control_->get_KeepAlive(&value), S_OK);
    EXPECT_EQ(value, VARIANT_TRUE);
}

// ---- Validation ----------------------------------------------------------------------

TEST_F(Properties, EnumerationsOutsideTheirRangeAreRejectedAndKept) {
    for (LONG bad : {3, -1})
        EXPECT_EQ(control_->put_ServerType(bad), CTL_E_INVALIDPROPERTYVALUE) << bad;
    for (LONG bad : {fileDirectoryNetWare + 1, -1})
        EXPECT_EQ(control_->put_DirectoryFormat(bad), CTL_E_INVALIDPROPERTYVALUE) << bad;
    ASSERT_EQ(control_->put_ServerType(2), S_OK);
    ASSERT_EQ(control_->put_DirectoryFormat(fileDirectoryNetWare), S_OK);
    EXPECT_EQ(control_->put_ServerType(3), CTL_E_INVALIDPROPERTYVALUE);
    EXPECT_EQ(control_->put_DirectoryFormat(-1), CTL_E_INVALIDPROPERTYVALUE);
    EXPECT_EQ(Long(&CFileTransfer::get_ServerType), 2);
    EXPECT_EQ(Long(&CFileTransfer::get_DirectoryFormat), fileDirectoryNetWare);
    // Off by default, so that programs written before the check connect as they did.
    EXPECT_EQ(Long(&CFileTransfer::get_HostKeyPolicy), fileHostKeyOff);
    for (LONG bad : {fileHostKeyStrict + 1, -1})
        EXPECT_EQ(control_->put_HostKeyPolicy(bad), CTL_E_INVALIDPROPERTYVALUE) << bad;
}

TEST_F(Properties, ProxyTypeIsCheckedAgainstTheServerType) {
    // Undefined server type: anything goes.
    EXPECT_EQ(control_->put_ProxyType(77), S_OK);
    ASSERT_EQ(control_->put_ServerType(1), S_OK);
    for (LONG ok : {0, 1, 2, 3, 4, 255})
        EXPECT_EQ(control_->put_ProxyType(ok), S_OK) << ok;
    for (LONG bad : {5, 254, 256, -1})
        EXPECT_EQ(control_->put_ProxyType(bad), CTL_E_INVALIDPROPERTYVALUE) << bad;
    EXPECT_EQ(Long(&CFileTransfer::get_ProxyType), 255);
    ASSERT_EQ(control_->put_ServerType(2), S_OK);
    for (LONG ok : {0, 1, 2, 3})
        EXPECT_EQ(control_->put_ProxyType(ok), S_OK) << ok;
    for (LONG bad : {4, 255})
        EXPECT_EQ(control_->put_ProxyType(bad), CTL_E_INVALIDPROPERTYVALUE) << bad;
    EXPECT_EQ(Long(&CFileTransfer::get_ProxyType), 3);
}

TEST_F(Properties, IndexedPropertiesAcceptOnlyZeroAndOne) {
    LONG value = 0;
    EXPECT_EQ(control_->get_ActivePort(2, &value), CTL_E_INVALIDPROPERTYARRAYINDEX);
    EXPECT_EQ(control_->get_ActivePort(-1, &value), CTL_E_INVALIDPROPERTYARRAYINDEX);
    EXPECT_EQ(control_->put_ActivePort(2, 5000), CTL_E_INVALIDPROPERTYARRAYINDEX);
    EXPECT_EQ(control_->get_ChannelMode(2, &value), CTL_E_INVALIDPROPERTYARRAYINDEX);
    EXPECT_EQ(control_->put_ChannelMode(-1, 1), CTL_E_INVALIDPROPERTYARRAYINDEX);
    ASSERT_EQ(control_->put_ActivePort(1, 6000), S_OK);
    ASSERT_EQ(control_->get_ActivePort(1, &value), S_OK);
    EXPECT_EQ(value, 6000);
    ASSERT_EQ(control_->get_ActivePort(0, &value), S_OK);
    EXPECT_EQ(value, 1025);
}

TEST_F(Properties, ChannelModeIsNotKeptWithoutASession) {
    ASSERT_EQ(control_->put_ChannelMode(ftpChannelData, ftpChannelSecure), S_OK);
    LONG value = -1;
    ASSERT_EQ(control_->get_ChannelMode(ftpChannelData, &value), S_OK);
    EXPECT_EQ(value, ftpChannelClear);
}

TEST_F(Properties, PriorityOutsideTheRangeBecomesNormal) {
    for (LONG p : {0, 4, -1, 5, 1000}) {
        ASSERT_EQ(control_->put_Priority(p), S_OK);
        EXPECT_EQ(Long(&CFileTransfer::get_Priority), p == 0 || p == 4 ? p : filePriorityNormal);
    }
}

TEST_F(Properties, LibraryCannotBeWritten) {
    EXPECT_EQ(SetText(&CFileTransfer::put_Library, "/lib/x.so"), CTL_E_SETNOTSUPPORTED);
    EXPECT_EQ(Text(&CFileTransfer::get_Library), "");
}

TEST_F(Properties, FeaturesWriteMarksThemForTheNextConnect) {
    EXPECT_FALSE(control_->State().featuresSet);
    ASSERT_EQ(control_->put_Features(fileFeatureSIZE | fileFeatureMDTM), S_OK);
    EXPECT_TRUE(control_->State().featuresSet);
    EXPECT_EQ(Long(&CFileTransfer::get_Features), 5);
}

// ---- ProtocolVersion and Version ------------------------------------------------

TEST_F(Properties, ProtocolVersionReadsBackNormalised) {
    struct Case {
        const char* written;
        const char* read;
    };
    for (Case c : {Case{"1.1", "1.1"}, Case{"2", "2.0"}, Case{"0.5", "0.9"}, Case{"", "0.9"},
                   Case{" 1.0 ", "1.0"}}) {
        ASSERT_EQ(SetText(&CFileTransfer::put_ProtocolVersion, c.written), S_OK);
        EXPECT_EQ(Text(&CFileTransfer::get_ProtocolVersion), c.read) << c.written;
    }
}

TEST_F(Properties, VersionComesFromTheFileVersion) {
    EXPECT_EQ(Text(&CFileTransfer::get_Version), "7.2.7210.1848");
}

// ---- Without a session ------------------------------------------------------------

TEST_F(Properties, ConnectionViewsAreEmptyWithoutAConnection) {
    ASSERT_EQ(control_->put_ServerType(1), S_OK);
    for (TextGetter get : {&CFileTransfer::get_CertificateIssuer,
                           &CFileTransfer::get_CertificateExpires, &CFileTransfer::get_Fingerprint,
                           &CFileTransfer::get_System, &CFileTransfer::get_ResultString})
        EXPECT_EQ(Text(get), "");
    for (LongGetter get : {&CFileTransfer::get_CertificateStatus, &CFileTransfer::get_SecureCipher,
                           &CFileTransfer::get_TransferBytes, &CFileTransfer::get_ResultCode})
        EXPECT_EQ(Long(get), 0);
}

}  // namespace
