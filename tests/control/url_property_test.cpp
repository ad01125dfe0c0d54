#include "control_test_support.h"

namespace {

using UrlWrite = ControlTest;
using UrlRead = ControlTest;

TEST_F(UrlWrite, PlainFtpUrlLogsInAnonymously) {
    ASSERT_EQ(SetUrl("ftp://h/pub/file.zip"), S_OK);
    EXPECT_EQ(Long(&CFileTransfer::get_ServerType), 1);
    EXPECT_EQ(Text(&CFileTransfer::get_ServerName), "h");
    EXPECT_EQ(Long(&CFileTransfer::get_ServerPort), 21);
    EXPECT_EQ(Text(&CFileTransfer::get_UserName), "anonymous");
    EXPECT_EQ(Text(&CFileTransfer::get_Password), "user@");
    EXPECT_EQ(Text(&CFileTransfer::get_Resource), "pub/file.zip");
    EXPECT_EQ(Long(&CFileTransfer::get_FileType), fileTypeBinary);
    EXPECT_FALSE(Bool(&CFileTransfer::get_Secure));
}

TEST_F(UrlWrite, AnonymousRuleKeepsAGivenPassword) {
    ASSERT_EQ(SetUrl("ftp://:secret@h/"), S_OK);
    EXPECT_EQ(Text(&CFileTransfer::get_UserName), "anonymous");
    EXPECT_EQ(Text(&CFileTransfer::get_Password), "secret");
    ASSERT_EQ(SetUrl("ftp://bob@h/"), S_OK);
    EXPECT_EQ(Text(&CFileTransfer::get_UserName), "bob");
    EXPECT_EQ(Text(&CFileTransfer::get_Password), "") << "a user without password clears it";
}

TEST_F(UrlWrite, FileAtTheRootKeepsItsSlash) {
    ASSERT_EQ(SetUrl("ftp://host/a.txt"), S_OK);
    EXPECT_EQ(Text(&CFileTransfer::get_Resource), "/a.txt");
    ASSERT_EQ(SetUrl("ftp://host"), S_OK);
    EXPECT_EQ(Text(&CFileTransfer::get_Resource), "");
    ASSERT_EQ(SetUrl("ftp://host/d/"), S_OK);
    EXPECT_EQ(Text(&CFileTransfer::get_Resource), "d/");
    ASSERT_EQ(SetUrl("ftp://host/d/s/a.txt"), S_OK);
    EXPECT_EQ(Text(&CFileTransfer::get_Resource), "d/s/a.txt");
}

TEST_F(UrlWrite, DotSegmentsAreRemoved) {
    ASSERT_EQ(SetUrl("ftp://host/a/./b/../c.txt"), S_OK);
    EXPECT_EQ(Text(&CFileTransfer::get_Resource), "a/c.txt");
}

TEST_F(UrlWrite, FtpsOnTheImplicitPortIsImplicitOnly) {
    ASSERT_EQ(SetUrl("ftps://u:p@h:990/x"), S_OK);
    EXPECT_EQ(Text(&CFileTransfer::get_UserName), "u");
    EXPECT_EQ(Text(&CFileTransfer::get_Password), "p");
    EXPECT_TRUE(Bool(&CFileTransfer::get_Secure));
    EXPECT_EQ(Long(&CFileTransfer::get_Options), 0x1000);
    EXPECT_EQ(Long(&CFileTransfer::get_ServerPort), 990);
    EXPECT_EQ(Text(&CFileTransfer::get_Resource), "/x");
}

TEST_F(UrlWrite, FtpsOnOtherPortsIsExplicit) {
    ASSERT_EQ(SetUrl("ftps://h/x"), S_OK);
    EXPECT_EQ(Long(&CFileTransfer::get_Options), 0x3000);
    EXPECT_EQ(Long(&CFileTransfer::get_ServerPort), 21);
}

TEST_F(UrlWrite, FtpsAddsBitsWithoutClearingOthers) {
    ASSERT_EQ(control_->put_Options(fileOptionNoCache | fileOptionSecureShell), S_OK);
    ASSERT_EQ(SetUrl("ftps://h:990/x"), S_OK);
    EXPECT_EQ(Long(&CFileTransfer::get_Options), 0x5001);
}

TEST_F(UrlWrite, SftpSelectsSecureShell) {
    ASSERT_EQ(control_->put_Options(fileOptionSecureExplicit), S_OK);
    ASSERT_EQ(SetUrl("sftp://h/x"), S_OK);
    EXPECT_EQ(Long(&CFileTransfer::get_ServerPort), 22);
    EXPECT_EQ(Long(&CFileTransfer::get_Options), 0x5000);
    EXPECT_TRUE(Bool(&CFileTransfer::get_Secure));
}

TEST_F(UrlWrite, PlainFtpClearsTlsBitsButNotSecureShell) {
    ASSERT_EQ(control_->put_Options(fileOptionSecureShell | fileOptionNoCache), S_OK);
    ASSERT_EQ(SetUrl("ftp://h/x"), S_OK);
    EXPECT_EQ(Long(&CFileTransfer::get_Options), 0x4001);
    EXPECT_FALSE(Bool(&CFileTransfer::get_Secure));
}

TEST_F(UrlWrite, TypeSuffixSelectsTheTransferType) {
    ASSERT_EQ(SetUrl("ftp://h/a;type=a"), S_OK);
    EXPECT_EQ(Long(&CFileTransfer::get_FileType), fileTypeASCII);
    EXPECT_EQ(Text(&CFileTransfer::get_Resource), "/a");
    ASSERT_EQ(SetUrl("ftp://h/a;TYPE=I"), S_OK);
    EXPECT_EQ(Long(&CFileTransfer::get_FileType), fileTypeImage);
    EXPECT_EQ(SetUrl("ftp://h/a;type=x"), CTL_E_INVALIDPROPERTYVALUE);
}

TEST_F(UrlWrite, Ipv6LiteralHostsAndPorts) {
    ASSERT_EQ(SetUrl("ftp://[::1]:2121/f"), S_OK);
    EXPECT_EQ(Text(&CFileTransfer::get_ServerName), "::1");
    EXPECT_EQ(Long(&CFileTransfer::get_ServerPort), 2121);
    // A port outside 1..65535 keeps the default.
    ASSERT_EQ(SetUrl("ftp://h:70000/f"), S_OK);
    EXPECT_EQ(Long(&CFileTransfer::get_ServerPort), 21);
    EXPECT_EQ(SetUrl("ftp://h:2x/f"), CTL_E_INVALIDPROPERTYVALUE);
    EXPECT_EQ(SetUrl("ftp://[::1/f"), CTL_E_INVALIDPROPERTYVALUE);
}

TEST_F(UrlWrite, PathOnlyChangesOnlyTheResource) {
    ASSERT_EQ(SetUrl("ftp://u:p@h:2121/a"), S_OK);
    ASSERT_EQ(SetUrl("/dir/file"), S_OK);
    EXPECT_EQ(Text(&CFileTransfer::get_Resource), "/dir/file");
    EXPECT_EQ(Text(&CFileTransfer::get_ServerName), "h");
    EXPECT_EQ(Long(&CFileTransfer::get_ServerPort), 2121);
    EXPECT_EQ(Text(&CFileTransfer::get_UserName), "u");
}

TEST_F(UrlWrite, UnknownSchemeIsRejectedAndChangesNothing) {
    ASSERT_EQ(control_->put_ServerType(2), S_OK);
    EXPECT_EQ(SetUrl("gopher://h/"), CTL_E_INVALIDPROPERTYVALUE);
    EXPECT_EQ(SetUrl("h/x"), CTL_E_INVALIDPROPERTYVALUE);
    EXPECT_EQ(SetUrl(""), CTL_E_INVALIDPROPERTYVALUE);
    EXPECT_EQ(Long(&CFileTransfer::get_ServerType), 2);
    EXPECT_EQ(Text(&CFileTransfer::get_ServerName), "");
}

TEST_F(UrlWrite, HttpUrlSetsServerSecurityAndResourceWithQuery) {
    ASSERT_EQ(SetUrl("https://u:p@www.example.com:8443/a/../b/c.html?x=1&y=2"), S_OK);
    EXPECT_EQ(Long(&CFileTransfer::get_ServerType), 2);
    EXPECT_TRUE(Bool(&CFileTransfer::get_Secure));
    EXPECT_EQ(Text(&CFileTransfer::get_ServerName), "www.example.com");
    EXPECT_EQ(Long(&CFileTransfer::get_ServerPort), 8443);
    EXPECT_EQ(Text(&CFileTransfer::get_Resource), "/b/c.html?x=1&y=2");
    EXPECT_EQ(Text(&CFileTransfer::get_UserName), "u");
    EXPECT_EQ(Text(&CFileTransfer::get_Password), "p");
}

TEST_F(UrlWrite, HttpUrlWithoutCredentialsKeepsTheOldOnes) {
    ASSERT_EQ(SetText(&CFileTransfer::put_UserName, "keep"), S_OK);
    ASSERT_EQ(control_->put_Secure(VARIANT_TRUE), S_OK);
    ASSERT_EQ(SetUrl("http://h"), S_OK);
    EXPECT_FALSE(Bool(&CFileTransfer::get_Secure));
    EXPECT_EQ(Long(&CFileTransfer::get_ServerPort), 80);
    EXPECT_EQ(Text(&CFileTransfer::get_Resource), "/");
    EXPECT_EQ(Text(&CFileTransfer::get_UserName), "keep");
}

// ---- Reading ----------------------------------------------------------------------

TEST_F(UrlRead, EmptyWithoutServerNameOrServerType) {
    EXPECT_EQ(Url(), "");
    ASSERT_EQ(SetText(&CFileTransfer::put_ServerName, "h"), S_OK);
    EXPECT_EQ(Url(), "") << "server type 0 composes nothing";
}

TEST_F(UrlRead, AnonymousUserAndDefaultPortAreLeftOut) {
    ASSERT_EQ(SetUrl("ftp://h/pub/file.zip"), S_OK);
    EXPECT_EQ(Url(), "ftp://h/pub/file.zip");
    ASSERT_EQ(control_->put_ServerPort(2121), S_OK);
    EXPECT_EQ(Url(), "ftp://h:2121/pub/file.zip");
}

TEST_F(UrlRead, RoundTrips) {
    const char* urls[] = {
        "ftp://u:p@h/d/s/a.txt",
        "ftp://h/a.txt",
        "ftps://u:p@h:990/x",
        "ftps://h/x",
        "sftp://me@h/home/me/f",
        "ftp://[2001:db8::7]:2121/f",
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

TEST_F(UrlRead, SchemeFollowsSecureAndOptions) {
    ASSERT_EQ(control_->put_ServerType(1), S_OK);
    ASSERT_EQ(SetText(&CFileTransfer::put_ServerName, "h"), S_OK);
    ASSERT_EQ(SetText(&CFileTransfer::put_Resource, "f"), S_OK);
    EXPECT_EQ(Url(), "ftp://h/f");
    ASSERT_EQ(control_->put_Secure(VARIANT_TRUE), S_OK);
    EXPECT_EQ(Url(), "ftps://h/f");
    ASSERT_EQ(control_->put_Options(fileOptionSecureShell), S_OK);
    EXPECT_EQ(Url(), "sftp://h/f");
}

TEST_F(UrlRead, DotSegmentsOfTheResourceAreNormalised) {
    ASSERT_EQ(control_->put_ServerType(1), S_OK);
    ASSERT_EQ(SetText(&CFileTransfer::put_ServerName, "h"), S_OK);
    ASSERT_EQ(SetText(&CFileTransfer::put_Resource, "a/./b/../c/f.txt"), S_OK);
    EXPECT_EQ(Url(), "ftp://h/a/c/f.txt");
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
