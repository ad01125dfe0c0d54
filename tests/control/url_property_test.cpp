#include "control_test_support.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

using UrlWrite = ControlTest;
using UrlRead = ControlTest;

// A URL written after Options was set to optionsBefore, and what the session
// properties read then: "ServerType ServerName:ServerPort UserName:Password
// Resource Options(hex) Secure FileType".
struct WriteCase {
    const char* name;
    LONG optionsBefore;
    const char* url;
    const char* properties;
};

const WriteCase kWrites[] = {
    {"PlainFtpLogsInAnonymously", 0, "ftp://h/pub/file.zip",
     "1 h:21 anonymous:user@ pub/file.zip 0 clear 3"},
    {"AnonymousKeepsAGivenPassword", 0, "ftp://:secret@h/", "1 h:21 anonymous:secret  0 clear 3"},
    {"UserWithoutPasswordClearsIt", 0, "ftp://bob@h/", "1 h:21 bob:  0 clear 3"},
    {"FileAtTheRootKeepsItsSlash", 0, "ftp://host/a.txt",
     "1 host:21 anonymous:user@ /a.txt 0 clear 3"},
    {"NoPath", 0, "ftp://host", "1 host:21 anonymous:user@  0 clear 3"},
    {"DirectoryOnly", 0, "ftp://host/d/", "1 host:21 anonymous:user@ d/ 0 clear 3"},
    {"FtpsOnTheImplicitPortIsImplicitOnly", 0, "ftps://u:p@h:990/x",
     "1 h:990 u:p /x 1000 secure 3"},
    {"FtpsOnOtherPortsIsExplicit", 0, "ftps://h/x", "1 h:21 anonymous:user@ /x 3000 secure 3"},
    {"FtpsAddsBitsWithoutClearingOthers", fileOptionNoCache | fileOptionSecureShell,
     "ftps://h:990/x", "1 h:990 anonymous:user@ /x 5001 secure 3"},
    {"SftpSelectsSecureShell", fileOptionSecureExplicit, "sftp://h/x",
     "1 h:22 anonymous:user@ /x 5000 secure 3"},
    {"PlainFtpClearsTlsBitsButNotSecureShell", fileOptionSecureShell | fileOptionNoCache,
     "ftp://h/x", "1 h:21 anonymous:user@ /x 4001 clear 3"},
    {"TypeSuffixAscii", 0, "ftp://h/a;type=a", "1 h:21 anonymous:user@ /a 0 clear 1"},
    {"Ipv6LiteralHostAndPort", 0, "ftp://[::1]:2121/f", "1 ::1:2121 anonymous:user@ /f 0 clear 3"},
    {"PortOutOfRangeKeepsTheDefault", 0, "ftp://h:70000/f", "1 h:21 anonymous:user@ /f 0 clear 3"},
    {"UpperCaseHttpsWithQuery", 0, "HTTPS://u:p@www.example.com:8443/a/../b/c.html?x=1&y=2",
     "2 www.example.com:8443 u:p /b/c.html?x=1&y=2 0 secure 0"},
};

class UrlWriteCase : public ControlTest, public ::testing::WithParamInterface<WriteCase> {
  protected:
    std::string Properties() {
        char numbers[64];
        std::snprintf(numbers, sizeof numbers, " %lx %s %ld",
                      static_cast<unsigned long>(Long(&CFileTransfer::get_Options)),
                      Bool(&CFileTransfer::get_Secure) ? "secure" : "clear",
                      static_cast<long>(Long(&CFileTransfer::get_FileType)));
        return std::to_string(Long(&CFileTransfer::get_ServerType)) + " " +
               Text(&CFileTransfer::get_ServerName) + ":" +
               std::to_string(Long(&CFileTransfer::get_ServerPort)) + " " +
               Text(&CFileTransfer::get_UserName) + ":" + Text(&CFileTransfer::get_Password) + " " +
               Text(&CFileTransfer::get_Resource) + numbers;
    }
};

TEST_P(UrlWriteCase, SetsTheSessionProperties) {
    const WriteCase& c = GetParam();
    ASSERT_EQ(control_->put_Options(c.optionsBefore), S_OK);
    ASSERT_EQ(SetUrl(c.url), S_OK);
    EXPECT_EQ(Properties(), c.properties);
}

INSTANTIATE_TEST_SUITE_P(Urls, UrlWriteCase, ::testing::ValuesIn(kWrites),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UrlWrite, MalformedUrlsAreRejected) {
    ASSERT_EQ(control_->put_ServerType(2), S_OK);
    for (const char* url : {"ftp://h:2x/f", "ftp://[::1/f", "ftp://h/a;type=x"})
        EXPECT_EQ(SetUrl(url), CTL_E_INVALIDPROPERTYVALUE) << url;
    // Those may already have chosen the server type; without a known scheme
    // nothing changes.
    ASSERT_EQ(control_->put_ServerType(2), S_OK);
    for (const char* url : {"gopher://h/", "h/x", ""})
        EXPECT_EQ(SetUrl(url), CTL_E_INVALIDPROPERTYVALUE) << url;
    EXPECT_EQ(Long(&CFileTransfer::get_ServerType), 2);
    EXPECT_EQ(Text(&CFileTransfer::get_ServerName), "");
}

// Writes and reads of URL beside the other properties, each table on a fresh
// control.
const std::vector<PropertyStep> kUrlRules[] = {
    // A path alone changes only the resource.
    {{"URL", "ftp://u:p@h:2121/a", S_OK, "URL", "ftp://u:p@h:2121/a"},
     {"URL", "/dir/file", S_OK, "Resource", "/dir/file"},
     {"URL", nullptr, S_OK, "ServerName", "h"},
     {"URL", nullptr, S_OK, "ServerPort", "2121"},
     {"URL", nullptr, S_OK, "UserName", "u"}},
    // An HTTP URL without credentials keeps the old ones.
    {{"UserName", "keep", S_OK, "UserName", "keep"},
     {"Secure", "True", S_OK, "Secure", "True"},
     {"URL", "http://h", S_OK, "Secure", "False"},
     {"URL", nullptr, S_OK, "ServerPort", "80"},
     {"URL", nullptr, S_OK, "Resource", "/"},
     {"URL", nullptr, S_OK, "UserName", "keep"}},
    // Reading composes nothing without a server name or a server type, and
    // leaves out the anonymous user and the default port.
    {{"URL", nullptr, S_OK, "URL", ""},
     {"ServerName", "h", S_OK, "URL", ""},
     {"URL", "ftp://h/pub/file.zip", S_OK, "URL", "ftp://h/pub/file.zip"},
     {"ServerPort", "2121", S_OK, "URL", "ftp://h:2121/pub/file.zip"}},
    // The scheme follows Secure and Options; dot segments are normalised.
    {{"ServerType", "1", S_OK, "ServerType", "1"},
     {"ServerName", "h", S_OK, "ServerName", "h"},
     {"Resource", "f", S_OK, "URL", "ftp://h/f"},
     {"Secure", "True", S_OK, "URL", "ftps://h/f"},
     {"Options", "16384", S_OK, "URL", "sftp://h/f"},
     {"Options", "0", S_OK, "Secure", "True"},
     {"Secure", "False", S_OK, "URL", "ftp://h/f"},
     {"Resource", "a/./b/../c/f.txt", S_OK, "URL", "ftp://h/a/c/f.txt"}},
};

TEST_F(UrlWrite, FollowsAndSetsTheOtherProperties) {
    RunRules(kUrlRules);
}

// ---- Reading ----------------------------------------------------------------------

TEST_F(UrlRead, RoundTrips) {
    const char* urls[] = {
        "ftp://u:p@h/d/s/a.txt",
        "ftp://h/a.txt",
        "ftps://u:p@h:990/x",
        "ftps://h/x",
        "sftp://me@h/home/me/f",
        "ftp://[::1]:2121/f",
        "http://h/",
        "https://u:p@h:8443/a/b?q=1",
        "http://[::1]:8080/x",
    };
    for (const char* url : urls) {
        // HTTP URLs without credentials keep the old ones, so start afresh.
        control_->Release();
        control_ = CFileTransfer::Create();
        ASSERT_EQ(SetUrl(url), S_OK) << url;
        EXPECT_EQ(Url(), url);
    }
}

TEST_F(UrlRead, LongSettingsStillFit) {
    const std::string longName(600, 'n');
    const std::string longResource = "/" + std::string(2000, 'r');
    ASSERT_EQ(control_->put_ServerType(2), S_OK);
    ASSERT_EQ(SetText(&CFileTransfer::put_ServerName, longName), S_OK);
    ASSERT_EQ(SetText(&CFileTransfer::put_Resource, longResource), S_OK);
    ASSERT_EQ(control_->put_ServerPort(65535), S_OK);
    EXPECT_EQ(Url(), "http://" + longName + ":65535" + longResource);
}

}  // namespace
