#include "control_test_support.h"

namespace {

using Properties = ControlTest;

// Each table runs in order on a fresh control.
const std::vector<PropertyStep> kRules[] = {
    // The defaults no other test reads (Reset's test covers the rest).
    {{"ServerPort", nullptr, S_OK, "ServerPort", "0"},
     {"Passive", nullptr, S_OK, "Passive", "True"},
     {"Secure", nullptr, S_OK, "Secure", "False"},
     {"ProtocolVersion", nullptr, S_OK, "ProtocolVersion", "1.0"},
     {"Version", nullptr, S_OK, "Version", "7.2.7210.1848"},
     // Off by default, so that programs written before the check connect as they did.
     {"HostKeyPolicy", nullptr, S_OK, "HostKeyPolicy", "0"},
     {"Library", "/lib/x.so", CTL_E_SETNOTSUPPORTED, "Library", ""},
     {"Features", "5", S_OK, "Features", "5"}},
    // Well-known ports choose an undefined server type (one port of each
    // kind here); any number is kept.
    {{"ServerPort", "21", S_OK, "ServerType", "1"},
     {"ServerType", "0", S_OK, "ServerType", "0"},
     {"ServerPort", "80", S_OK, "ServerType", "2"},
     {"ServerType", "0", S_OK, "ServerType", "0"},
     {"ServerPort", "22", S_OK, "ServerType", "0"},
     {"ServerPort", "-5", S_OK, "ServerPort", "-5"},
     // ... but never override a chosen one.
     {"ServerType", "1", S_OK, "ServerType", "1"},
     {"ServerPort", "443", S_OK, "ServerType", "1"},
     {"ServerType", "2", S_OK, "ServerType", "2"},
     {"ServerPort", "21", S_OK, "ServerType", "2"}},
    // Secure-shell and explicit options imply implicit security and Secure,
    // which Options never clears.
    {{"Options", "262145", S_OK, "Secure", "False"},
     {"Options", "16384", S_OK, "Options", "20480"},
     {"Options", nullptr, S_OK, "Secure", "True"},
     {"Options", "0", S_OK, "Options", "0"},
     {"Options", nullptr, S_OK, "Secure", "True"},
     {"Options", "8193", S_OK, "Options", "12289"}},
    // Secure and SecureProtocol follow each other; a chosen protocol stays.
    {{"SecureProtocol", nullptr, S_OK, "SecureProtocol", "0"},
     {"Secure", "True", S_OK, "SecureProtocol", "10"},
     {"SecureProtocol", "8", S_OK, "SecureProtocol", "8"},
     {"SecureProtocol", nullptr, S_OK, "Secure", "True"},
     {"Secure", "True", S_OK, "SecureProtocol", "8"},
     {"SecureProtocol", "0", S_OK, "Secure", "False"},
     // While not secure the protocol reads 0, and comes back with Secure.
     {"SecureProtocol", "32", S_OK, "SecureProtocol", "32"},
     {"Secure", "False", S_OK, "SecureProtocol", "0"},
     {"Secure", "True", S_OK, "SecureProtocol", "32"}},
    // Enumerations outside their range are rejected, keeping the value.
    {{"ServerType", "-1", CTL_E_INVALIDPROPERTYVALUE, "ServerType", "0"},
     {"ServerType", "2", S_OK, "ServerType", "2"},
     {"ServerType", "3", CTL_E_INVALIDPROPERTYVALUE, "ServerType", "2"},
     {"DirectoryFormat", "7", CTL_E_INVALIDPROPERTYVALUE, "DirectoryFormat", "0"},
     {"DirectoryFormat", "6", S_OK, "DirectoryFormat", "6"},
     {"DirectoryFormat", "-1", CTL_E_INVALIDPROPERTYVALUE, "DirectoryFormat", "6"},
     {"HostKeyPolicy", "3", CTL_E_INVALIDPROPERTYVALUE, "HostKeyPolicy", "0"},
     {"HostKeyPolicy", "-1", CTL_E_INVALIDPROPERTYVALUE, "HostKeyPolicy", "0"},
     {"HostKeyPolicy", "2", S_OK, "HostKeyPolicy", "2"},
     {"MaxDecodedRatio", "-1", CTL_E_INVALIDPROPERTYVALUE, "MaxDecodedRatio", "1000"},
     {"MaxDecodedSize", "9000000000", S_OK, "MaxDecodedSize", "9000000000"},
     {"MaxDecodedSize", "-1", CTL_E_INVALIDPROPERTYVALUE, "MaxDecodedSize", "9000000000"}},
    // ProxyType is checked against the server type (undefined: anything goes).
    {{"ProxyType", "77", S_OK, "ProxyType", "77"},
     {"ServerType", "1", S_OK, "ServerType", "1"},
     {"ProxyType", "4", S_OK, "ProxyType", "4"},
     {"ProxyType", "5", CTL_E_INVALIDPROPERTYVALUE, "ProxyType", "4"},
     {"ProxyType", "-1", CTL_E_INVALIDPROPERTYVALUE, "ProxyType", "4"},
     {"ProxyType", "255", S_OK, "ProxyType", "255"},
     {"ServerType", "2", S_OK, "ServerType", "2"},
     {"ProxyType", "3", S_OK, "ProxyType", "3"},
     {"ProxyType", "4", CTL_E_INVALIDPROPERTYVALUE, "ProxyType", "3"},
     {"ProxyType", "255", CTL_E_INVALIDPROPERTYVALUE, "ProxyType", "3"},
     {"ProxyType", "0", S_OK, "ProxyType", "0"}},
    // A priority outside the range becomes normal.
    {{"Priority", "0", S_OK, "Priority", "0"},
     {"Priority", "4", S_OK, "Priority", "4"},
     {"Priority", "-1", S_OK, "Priority", "2"},
     {"Priority", "5", S_OK, "Priority", "2"}},
    // ProtocolVersion reads back normalised (the forms are
    // ProtocolVersionParsing's).
    {{"ProtocolVersion", "2", S_OK, "ProtocolVersion", "2.0"},
     {"ProtocolVersion", " 1.0 ", S_OK, "ProtocolVersion", "1.0"}},
    // The views of a connection are empty without one.
    {{"ServerType", "1", S_OK, "CertificateIssuer", ""},
     {"CertificateExpires", nullptr, S_OK, "CertificateExpires", ""},
     {"Fingerprint", nullptr, S_OK, "Fingerprint", ""},
     {"System", nullptr, S_OK, "System", ""},
     {"ResultString", nullptr, S_OK, "ResultString", ""},
     {"CertificateStatus", nullptr, S_OK, "CertificateStatus", "0"},
     {"SecureCipher", nullptr, S_OK, "SecureCipher", "0"},
     {"TransferBytes", nullptr, S_OK, "TransferBytes", "0"},
     {"ResultCode", nullptr, S_OK, "ResultCode", "0"}},
};

TEST_F(Properties, WritesAndReadsFollowTheirRules) {
    RunRules(kRules);
}

// Indexed properties accept only 0 and 1 (index 2 and the kept value are in
// Dispatch's indexed test); ChannelMode is not kept without a session and reads
// as clear.
TEST_F(Properties, IndexedPropertiesAcceptOnlyZeroAndOne) {
    LONG value = 0;
    EXPECT_EQ(control_->get_ActivePort(-1, &value), CTL_E_INVALIDPROPERTYARRAYINDEX);
    EXPECT_EQ(control_->put_ActivePort(2, 5000), CTL_E_INVALIDPROPERTYARRAYINDEX);
    EXPECT_EQ(control_->get_ChannelMode(2, &value), CTL_E_INVALIDPROPERTYARRAYINDEX);
    EXPECT_EQ(control_->put_ChannelMode(-1, 1), CTL_E_INVALIDPROPERTYARRAYINDEX);
    ASSERT_EQ(control_->get_ActivePort(0, &value), S_OK);
    EXPECT_EQ(value, 1025);
    ASSERT_EQ(control_->put_ChannelMode(ftpChannelData, ftpChannelSecure), S_OK);
    ASSERT_EQ(control_->get_ChannelMode(ftpChannelData, &value), S_OK);
    EXPECT_EQ(value, ftpChannelClear);
}

}  // namespace
