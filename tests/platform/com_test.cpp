// Creation by name through the registry files: ProgIDs and their current
// versions, and each way a registered class can fail to be created.
#include <gtest/gtest.h>

#include <string>

#include "platform/com.h"
#include "platform/dispatch.h"
#include "platform/module.h"
#include "platform/registry.h"
#include "support/test_files.h"

namespace {

constexpr const char* kClasses =
    "; tollane registry 1\n"
    "[Software\\Classes\\Test.Gone]\n"
    "[Software\\Classes\\Test.Gone\\CLSID]\n@=\"{00000000-0000-0000-0000-00000000000A}\"\n"
    "[Software\\Classes\\Test.Plain]\n"
    "[Software\\Classes\\Test.Plain\\CurVer]\n@=\"Test.Plain.2\"\n"
    "[Software\\Classes\\Test.Plain.2\\CLSID]\n@=\"{00000000-0000-0000-0000-00000000000B}\"\n"
    "[Software\\Classes\\Test.Loop\\CurVer]\n@=\"Test.Loop.1\"\n"
    "[Software\\Classes\\Test.Loop.1\\CurVer]\n@=\"Test.Loop\"\n"
    "[Software\\Classes\\Test.Bad\\CLSID]\n@=\"not a class\"\n"
    "[Software\\Classes\\CLSID\\{00000000-0000-0000-0000-00000000000A}\\InprocServer32]\n"
    "@=\"/nonexistent/libgone.so\"\n"
    "[Software\\Classes\\CLSID\\{00000000-0000-0000-0000-00000000000B}\\InprocServer32]\n"
    "@=\"libm.so.6\"\n"
    "[Software\\Classes\\CLSID\\{00000000-0000-0000-0000-00000000000B}\\ProgID]\n"
    "@=\"Test.Plain.2\"\n"
    "[Software\\Classes\\CLSID\\{00000000-0000-0000-0000-00000000000C}]\n@=\"no server\"\n";

class ComTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile((folder_ / "user").string(), kClasses);
        platform::UseRegistryFiles((folder_ / "machine").string(), (folder_ / "user").string());
    }
    void TearDown() override { platform::UseRegistryFiles("", ""); }

    static CLSID Class(BYTE last) { return MakeGuid(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, last); }

    ScratchFolder folder_{"com"};
};

TEST_F(ComTest, ProgIdsResolveThroughCurVerAndClassesFailEachTheirWay) {
    const struct {
        const char16_t* progId;
        HRESULT result;
        BYTE last;
    } names[] = {
        {u"Test.Plain", S_OK, 0xB},         {u"test.plain.2", S_OK, 0xB},
        {u"Test.Gone", S_OK, 0xA},          {u"Test.Loop", CO_E_CLASSSTRING, 0},
        {u"Test.Bad", CO_E_CLASSSTRING, 0}, {u"Test.None", CO_E_CLASSSTRING, 0},
        {u"", CO_E_CLASSSTRING, 0},
    };
    for (const auto& n : names) {
        CLSID clsid = Class(0xFF);
        EXPECT_EQ(CLSIDFromProgID(n.progId, &clsid), n.result);
        EXPECT_EQ(clsid, n.result == S_OK ? Class(n.last) : GUID_NULL);
    }

    LPOLESTR progId = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(Class(0xB), &progId), S_OK);
    EXPECT_EQ(std::u16string(progId), u"Test.Plain.2");
    CoTaskMemFree(progId);
    EXPECT_EQ(ProgIDFromCLSID(Class(0xA), &progId), REGDB_E_CLASSNOTREG);

    const struct {
        BYTE last;
        DWORD context;
        HRESULT result;
    } classes[] = {
        {0xA, CLSCTX_INPROC_SERVER, CO_E_DLLNOTFOUND},     // the module is not there
        {0xB, CLSCTX_ALL, CO_E_ERRORINDLL},                // a module without the entry point
        {0xB, CLSCTX_LOCAL_SERVER, REGDB_E_CLASSNOTREG},   // only in-process servers
        {0xC, CLSCTX_INPROC_SERVER, REGDB_E_CLASSNOTREG},  // no InprocServer32
        {0xD, CLSCTX_INPROC_SERVER, REGDB_E_CLASSNOTREG},  // not registered at all
    };
    for (const auto& c : classes) {
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(CoCreateInstance(Class(c.last), nullptr, c.context, IID_IUnknown, &object),
                  c.result)
            << int(c.last);
        EXPECT_EQ(object, nullptr);
    }

    // A damaged registry is not an unregistered class.
    WriteFile((folder_ / "machine").string(), "[garbage\n");
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID(u"Test.Plain", &clsid), REGDB_E_READREGDB);
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(Class(0xB), nullptr, CLSCTX_ALL, IID_IUnknown, &object),
              REGDB_E_READREGDB);
}

// The built library, created through the registry from this program (which
// has its own copy of the platform code): the host's message-box handler
// reaches the library's copy, so the control's about box reaches the host.
TEST_F(ComTest, TheHostsMessageBoxHandlerReachesALoadedModule) {
    const std::string program = platform::ProgramPath();
    const std::string library = program.substr(0, program.rfind('/')) + "/../libfiletransfer.so.7";
    if (!std::filesystem::exists(library)) GTEST_SKIP() << "no " << library;
    const std::string clsid = "{9F6A8780-2267-473A-A510-625CD484364C}";
    WriteFile((folder_ / "user").string(), "; tollane registry 1\n[Software\\Classes\\CLSID\\" +
                                               clsid + "\\InprocServer32]\n@=\"" + library +
                                               "\"\n");

    std::u16string shown;
    SetMessageBoxHandler(
        [](void* context, LPCOLESTR text, LPCOLESTR caption, UINT) {
            *static_cast<std::u16string*>(context) = std::u16string(caption) + u": " + text;
            return IDOK;
        },
        &shown);
    CLSID id;
    ASSERT_TRUE(GuidFromString(clsid, &id));
    IDispatch* control = nullptr;
    ASSERT_EQ(CoCreateInstance(id, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               reinterpret_cast<void**>(&control)),
              S_OK);
    VARIANT result{};
    EXPECT_EQ(DispatchCall(control, -552, {}, &result), S_OK);  // About
    control->Release();
    SetMessageBoxHandler(nullptr, nullptr);
    EXPECT_EQ(shown, u"About Tollane: Tollane File Transfer\nVersion 7.2.7210.1848");
}

}  // namespace
