// The control's session lifecycle against the real FTP servers that
// scripts/servers.sh runs on loopback. Without their settings the tests skip,
// unless CI=true.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "control/FileTransfer.h"
#include "platform/text.h"
#include "resources/errors.h"
#include "support/server_settings.h"

namespace {

VARIANT TextArg(const std::string& text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = BstrFromUtf8(text);
    return v;
}

VARIANT LongArg(LONG value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

struct Server {
    const char* name;
    const char* portVariable;
};

class ControlServerTest : public ::testing::TestWithParam<Server> {
  protected:
    void SetUp() override {
        host_ = Setting("FT_TEST_HOST");
        user_ = Setting("FT_TEST_USER");
        password_ = Setting("FT_TEST_PASSWORD");
        root_ = Setting("FT_TEST_ROOT");
        port_ = Setting(GetParam().portVariable);
        if (host_.empty() || user_.empty() || port_.empty()) {
            if (InCi()) FAIL() << "test server settings missing; run scripts/servers.sh start";
            GTEST_SKIP() << "no test servers configured (scripts/servers.sh start)";
        }
        control_ = CFileTransfer::Create();
        ASSERT_NE(control_, nullptr);
    }
    void TearDown() override {
        if (control_) control_->Release();
    }

    // Connect with the given arguments; the Error result. A refused connection
    // outside CI marks the server as not running.
    LONG Connect(const std::string& name, LONG port, const std::string& user,
                 const std::string& password) {
        VARIANT nameArg = TextArg(name);
        VARIANT portArg = LongArg(port);
        VARIANT userArg = TextArg(user);
        VARIANT passwordArg = TextArg(password);
        VARIANT timeout = LongArg(10);
        VARIANT error;
        VariantInit(&error);
        const bool byUrl = port == 0;
        EXPECT_EQ(
            control_->Connect(&nameArg, byUrl ? nullptr : &portArg, byUrl ? nullptr : &userArg,
                              byUrl ? nullptr : &passwordArg, &timeout, nullptr, &error),
            S_OK);
        VariantClear(&nameArg);
        VariantClear(&userArg);
        VariantClear(&passwordArg);
        if (error.lVal == fileErrorConnectionRefused && !InCi()) notRunning_ = true;
        return error.lVal;
    }

    std::string Text(HRESULT (CFileTransfer::*get)(BSTR*)) {
        BSTR value = nullptr;
        EXPECT_EQ((control_->*get)(&value), S_OK);
        std::string text = Utf8FromBstr(value);
        SysFreeString(value);
        return text;
    }
    LONG Long(HRESULT (CFileTransfer::*get)(LONG*)) {
        LONG value = -1;
        EXPECT_EQ((control_->*get)(&value), S_OK);
        return value;
    }

    std::string host_, user_, password_, root_, port_;
    CFileTransfer* control_ = nullptr;
    bool notRunning_ = false;
};

#define SKIP_IF_NOT_RUNNING() \
    if (notRunning_) GTEST_SKIP() << GetParam().name << " is not running"

TEST_P(ControlServerTest, ConnectByPropertiesReadsTheSession) {
    const LONG error = Connect(host_, std::stol(port_), user_, password_);
    SKIP_IF_NOT_RUNNING();
    ASSERT_EQ(error, 0) << Text(&CFileTransfer::get_LastErrorString);
    EXPECT_EQ(Long(&CFileTransfer::get_ServerType), fileServerFTP);
    const std::string directory = Text(&CFileTransfer::get_ServerDirectory);
    if (!root_.empty()) {
        EXPECT_EQ(directory, root_);
    }
    EXPECT_NE(Text(&CFileTransfer::get_System).find("UNIX"), std::string::npos);
    EXPECT_NE(Long(&CFileTransfer::get_Features), 0);
    const LONG code = Long(&CFileTransfer::get_ResultCode);
    EXPECT_GE(code, 200);
    EXPECT_LT(code, 300);
    EXPECT_FALSE(Text(&CFileTransfer::get_ResultString).empty());
    EXPECT_FALSE(Text(&CFileTransfer::get_LocalAddress).empty());

    // Writing the directory changes it on the server.
    BSTR sub = BstrFromUtf8(directory + "/sub");
    EXPECT_EQ(control_->put_ServerDirectory(sub), S_OK);
    SysFreeString(sub);
    EXPECT_EQ(Text(&CFileTransfer::get_ServerDirectory), directory + "/sub");

    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(control_->Disconnect(&result), S_OK);
    EXPECT_EQ(result.lVal, 0);
    EXPECT_EQ(Text(&CFileTransfer::get_System), "");
    EXPECT_EQ(control_->State().clientHandle, kNoClientHandle);
}

TEST_P(ControlServerTest, ConnectByUrl) {
    const std::string url = "ftp://" + user_ + ":" + password_ + "@" + host_ + ":" + port_ + "/";
    const LONG error = Connect(url, 0, "", "");
    SKIP_IF_NOT_RUNNING();
    ASSERT_EQ(error, 0) << Text(&CFileTransfer::get_LastErrorString);
    EXPECT_EQ(Text(&CFileTransfer::get_UserName), user_);
    EXPECT_EQ(Long(&CFileTransfer::get_FileType), fileTypeImage);
    EXPECT_FALSE(Text(&CFileTransfer::get_ServerDirectory).empty());
    control_->Disconnect(nullptr);
}

TEST_P(ControlServerTest, WrongPasswordGivesTheMappedErrorAndText) {
    const LONG error = Connect(host_, std::stol(port_), user_, "not-the-password");
    SKIP_IF_NOT_RUNNING();
    EXPECT_EQ(error, fileErrorAuthenticationFailed);
    EXPECT_EQ(Text(&CFileTransfer::get_LastErrorString),
              "Unable to authenticate the specified user");
    EXPECT_EQ(control_->State().clientHandle, kNoClientHandle);
}

TEST_P(ControlServerTest, Ipv6Loopback) {
    const std::string host6 = Setting("FT_TEST_HOST6");
    if (host6.empty()) GTEST_SKIP() << "no IPv6 address configured";
    const LONG error = Connect(host6, std::stol(port_), user_, password_);
    SKIP_IF_NOT_RUNNING();
    ASSERT_EQ(error, 0) << Text(&CFileTransfer::get_LastErrorString);
    EXPECT_EQ(Text(&CFileTransfer::get_LocalAddress), "::1");
    control_->Disconnect(nullptr);
}

INSTANTIATE_TEST_SUITE_P(Servers, ControlServerTest,
                         ::testing::Values(Server{"vsftpd", "FT_TEST_FTP_PORT"},
                                           Server{"proftpd", "FT_TEST_PROFTPD_PORT"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
