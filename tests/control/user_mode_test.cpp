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
    VARIANT number{};
    number.vt = VT_I4;
    number.lVal = 1;
    struct Case {
        const char* label;
        bool attach;
        VARIANT userMode;
        bool detachAgain;
        HRESULT read;
    };
    for (const Case& c : {Case{"NoHost", false, BoolVariant(true), false, S_OK},
                          Case{"RunTime", true, BoolVariant(true), false, S_OK},
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

// At design time (a host's FALSE) every property but ThrowError and Enabled
// refuses reads, through the dispatch interface too.
TEST_F(UserMode, DesignTimeReadsFailExceptThrowErrorAndEnabled) {
    AttachHost(BoolVariant(false));
    for (const MemberInfo& member : InterfaceMembers()) {
        if (!member.IsProperty()) continue;
        SCOPED_TRACE(member.name);
        const std::string_view name = member.name;
        const bool readable = name == "ThrowError" || name == "Enabled";
        VARIANT index{};
        index.vt = VT_I4;
        index.lVal = 0;
        VARIANT value{};
        EXCEPINFO exception{};
        const HRESULT hr = DispatchGetProperty(
            control_, member.dispid,
            member.IsIndexed() ? std::span<VARIANT>(&index, 1) : std::span<VARIANT>(), &value,
            &exception);
        EXPECT_EQ(hr, readable ? S_OK : DISP_E_EXCEPTION);
        if (readable) {
            EXPECT_EQ(value.boolVal, name == "Enabled" ? VARIANT_TRUE : VARIANT_FALSE);
        } else {
            EXPECT_EQ(exception.scode, CTL_E_GETNOTSUPPORTED);
            EXPECT_EQ(value.vt, VT_EMPTY);
        }
        ClearExcepInfo(&exception);
    }
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
