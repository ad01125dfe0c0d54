// The ambient UserMode of a container: at design time the reads fail (but
// ThrowError and Enabled), the writes still work.
#include "control_test_support.h"

namespace {

class UserMode : public ControlTest {
  protected:
    void AttachHost(VARIANT userMode) {
        host_ = AmbientHost::Create(userMode);
        ASSERT_EQ(control_->SetClientSite(host_), S_OK);
    }
    void TearDown() override {
        if (control_) control_->SetClientSite(nullptr);
        if (host_) host_->Release();
        ControlTest::TearDown();
    }
    AmbientHost* host_ = nullptr;
};

TEST_F(UserMode, OnlyABooleanTrueOrNoHostCountsAsUserMode) {
    VARIANT number;
    VariantInit(&number);
    number.vt = VT_I4;
    number.lVal = 1;
    struct Case {
        const char* label;
        bool attach;
        VARIANT userMode;
        bool detachAgain;
        HRESULT read;
    };
    for (const Case& c :
         {Case{"NoHost", false, BoolVariant(true), false, S_OK},
          Case{"RunTime", true, BoolVariant(true), false, S_OK},
          Case{"DesignTime", true, BoolVariant(false), false, CTL_E_GETNOTSUPPORTED},
          Case{"NumberOne", true, number, false, CTL_E_GETNOTSUPPORTED},
          Case{"Detached", true, BoolVariant(false), true, S_OK}}) {
        SCOPED_TRACE(c.label);
        if (c.attach) AttachHost(c.userMode);
        if (c.detachAgain) {
            ASSERT_EQ(control_->SetClientSite(nullptr), S_OK);
        }
        LONG value = 0;
        EXPECT_EQ(control_->get_Timeout(&value), c.read);
        if (c.read == S_OK) {
            EXPECT_EQ(value, 20);
        }
        control_->SetClientSite(nullptr);
        if (host_) host_->Release();
        host_ = nullptr;
    }
}

TEST_F(UserMode, DesignTimeReadsFailExceptThrowErrorAndEnabled) {
    AttachHost(BoolVariant(false));
    BSTR text = nullptr;
    LONG number = -7;
    VARIANT_BOOL flag = 3;
    EXPECT_EQ(control_->get_ServerName(&text), CTL_E_GETNOTSUPPORTED);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(control_->get_URL(&text), CTL_E_GETNOTSUPPORTED);
    EXPECT_EQ(control_->get_Version(&text), CTL_E_GETNOTSUPPORTED);
    EXPECT_EQ(control_->get_LastErrorString(&text), CTL_E_GETNOTSUPPORTED);
    EXPECT_EQ(control_->get_LocalName(&text), CTL_E_GETNOTSUPPORTED);
    EXPECT_EQ(control_->get_ActivePort(0, &number), CTL_E_GETNOTSUPPORTED);
    EXPECT_EQ(control_->get_ChannelMode(5, &number), CTL_E_GETNOTSUPPORTED);
    EXPECT_EQ(number, -7);
    EXPECT_EQ(control_->get_Secure(&flag), CTL_E_GETNOTSUPPORTED);
    EXPECT_EQ(flag, 3);

    EXPECT_EQ(control_->get_ThrowError(&flag), S_OK);
    EXPECT_EQ(flag, VARIANT_FALSE);
    EXPECT_EQ(control_->get_Enabled(&flag), S_OK);
    EXPECT_EQ(flag, VARIANT_TRUE);
    EXPECT_GT(host_->queries, 0);

    // Writes still work, and read back once the host is gone.
    EXPECT_EQ(control_->put_ServerPort(990), S_OK);
    ASSERT_EQ(control_->SetClientSite(nullptr), S_OK);
    EXPECT_EQ(Long(&CFileTransfer::get_ServerType), 1);
    ASSERT_EQ(control_->SetClientSite(host_), S_OK);
    EXPECT_EQ(SetUrl("ftp://h/x"), S_OK);
    ASSERT_EQ(control_->SetClientSite(nullptr), S_OK);
    EXPECT_EQ(Text(&CFileTransfer::get_UserName), "anonymous");
}

}  // namespace
