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

TEST_F(UserMode, WithoutAHostTheControlIsInUserMode) {
    LONG value = 0;
    EXPECT_EQ(control_->get_Timeout(&value), S_OK);
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
    EXPECT_EQ(control_->get_Timeout(&number), CTL_E_GETNOTSUPPORTED);
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
}

TEST_F(UserMode, DesignTimeWritesStillWork) {
    AttachHost(BoolVariant(false));
    EXPECT_EQ(control_->put_ServerPort(990), S_OK);
    EXPECT_EQ(control_->State().serverType, 1);
    EXPECT_EQ(SetUrl("ftp://h/x"), S_OK);
    EXPECT_EQ(control_->State().userName, u"anonymous");
}

TEST_F(UserMode, OnlyABooleanTrueCountsAsUserMode) {
    VARIANT number;
    VariantInit(&number);
    number.vt = VT_I4;
    number.lVal = 1;
    AttachHost(number);
    LONG value = 0;
    EXPECT_EQ(control_->get_Timeout(&value), CTL_E_GETNOTSUPPORTED);
}

TEST_F(UserMode, RunTimeHostAllowsReads) {
    AttachHost(BoolVariant(true));
    LONG value = 0;
    EXPECT_EQ(control_->get_Timeout(&value), S_OK);
    EXPECT_EQ(value, 20);
}

TEST_F(UserMode, DetachingTheHostReturnsToUserMode) {
    AttachHost(BoolVariant(false));
    ASSERT_EQ(control_->SetClientSite(nullptr), S_OK);
    LONG value = 0;
    EXPECT_EQ(control_->get_Timeout(&value), S_OK);
}

}  // namespace
