// Values between automation variants and the script host's JavaScript, both
// ways, in a heap with the host's objects: what a script sees of each variant
// type, and which variant each script value becomes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <string>

#include "platform/automation.h"
#include "platform/com.h"
#include "platform/module.h"
#include "script/bridge.h"
#include "support/test_window.h"

namespace {

class Bridge : public ::testing::Test {
  protected:
    void SetUp() override {
        host_.out = &out_;
        host_.err = &err_;
        ctx_ = script::CreateHostHeap(&host_, "test.js", {});
        ASSERT_NE(ctx_, nullptr) << err_.str();
    }
    void TearDown() override {
        if (ctx_) script::DestroyHostHeap(ctx_);
    }

    // Evaluates source with the variant as the global v; the result as text.
    std::string SeenAs(const VARIANT& value, const char* source) {
        script::PushVariant(ctx_, value);
        duk_put_global_string(ctx_, "v");
        if (duk_peval_string(ctx_, source) != 0)
            return std::string("error: ") + duk_safe_to_string(ctx_, -1);
        std::string text = duk_safe_to_string(ctx_, -1);
        duk_pop(ctx_);
        return text;
    }

    // The variant of the script value of an expression; false when it cannot be passed.
    bool VariantOf(const char* expression, VARIANT* value) {
        EXPECT_EQ(duk_peval_string(ctx_, expression), 0) << duk_safe_to_string(ctx_, -1);
        const bool converted = script::ToVariant(ctx_, duk_get_top_index(ctx_), value);
        duk_pop(ctx_);
        return converted;
    }

    std::ostringstream out_, err_;
    script::Host host_;
    duk_context* ctx_ = nullptr;
};

VARIANT Make(VARTYPE type) {
    VARIANT v;
    VariantInit(&v);
    v.vt = type;
    return v;
}

TEST_F(Bridge, VariantsReachScriptsAsJScriptGivesThem) {
    SYSTEMTIME fields{};
    fields.wYear = 2020;
    fields.wMonth = 1;
    fields.wDay = 2;
    fields.wHour = 3;
    fields.wMinute = 4;
    fields.wSecond = 5;
    DATE date = 0;
    ASSERT_TRUE(SystemTimeToVariantTime(&fields, &date));

    struct Row {
        VARIANT value;
        const char* source;
        const char* expected;
    };
    Row rows[] = {
        {Make(VT_EMPTY), "typeof v", "undefined"},
        {Make(VT_NULL), "v === null", "true"},
        {Make(VT_I4), "typeof v + ' ' + v", "number 0"},
        {Make(VT_I8), "v", "5000000000"},
        {Make(VT_CY), "v", "1.2345"},
        {Make(VT_R8), "v", "2.5"},
        {Make(VT_BOOL), "typeof v + ' ' + v", "boolean true"},
        {Make(VT_BSTR),
         "v.length + ' ' + v.charCodeAt(1) + ' ' + v.charCodeAt(2) + ' ' + v.charCodeAt(3)",
         "4 233 55357 56832"},
        {Make(VT_DATE),
         "(v instanceof Date) + ' ' + [v.getFullYear(), v.getMonth(), v.getDate(), v.getHours(),"
         " v.getMinutes(), v.getSeconds()].join(' ')",
         "true 2020 0 2 3 4 5"},
        {Make(VT_ERROR), "typeof v", "undefined"},
        {Make(VT_ARRAY | VT_UI1),
         "var a = new VBArray(v); a.toArray().join(',') + ' ' + a.lbound() + ' ' + a.ubound() + ' "
         "' + a.getItem(2)",
         "1,2,255 0 2 255"},
    };
    rows[3].value.llVal = 5000000000;
    rows[4].value.cyVal = 12345;
    rows[5].value.dblVal = 2.5;
    rows[6].value.boolVal = VARIANT_TRUE;
    rows[7].value.bstrVal = SysAllocString(u"a\u00e9\U0001F600");
    rows[8].value.date = date;
    rows[9].value.scode = DISP_E_PARAMNOTFOUND;
    rows[10].value.parray = SafeArrayCreateVector(VT_UI1, 0, 3);
    const BYTE bytes[] = {1, 2, 255};
    for (LONG i = 0; i < 3; ++i)
        SafeArrayPutElement(rows[10].value.parray, &i, &bytes[i]);
    for (Row& row : rows) {
        EXPECT_EQ(SeenAs(row.value, row.source), row.expected) << row.source;
        VariantClear(&row.value);
    }
    // By reference: the value referred to.
    VARIANT inner = Make(VT_I4);
    inner.lVal = 42;
    VARIANT reference = Make(VT_BYREF | VT_VARIANT);
    reference.pvarVal = &inner;
    EXPECT_EQ(SeenAs(reference, "v"), "42");
}

TEST_F(Bridge, ScriptValuesBecomeTheVariantsJScriptPasses) {
    struct Row {
        const char* expression;
        VARTYPE type;
    };
    const Row rows[] = {
        {"undefined", VT_EMPTY},
        {"null", VT_NULL},
        {"true", VT_BOOL},
        {"-7", VT_I4},
        {"2147483647", VT_I4},
        {"2147483648", VT_R8},
        {"2.5", VT_R8},
        {"'x\\u00e9\\ud83d\\ude00'", VT_BSTR},
        {"new Date(2020, 0, 2, 3, 4, 5)", VT_DATE},
        {"new Uint8Array([7, 8])", VT_ARRAY | VT_UI1},
    };
    for (const Row& row : rows) {
        VARIANT value;
        VariantInit(&value);
        ASSERT_TRUE(VariantOf(row.expression, &value)) << row.expression;
        EXPECT_EQ(value.vt, row.type) << row.expression;
        VariantClear(&value);
    }
    VARIANT value;
    VariantInit(&value);
    ASSERT_TRUE(VariantOf("'x\\u00e9\\ud83d\\ude00'", &value));
    EXPECT_EQ(std::u16string(value.bstrVal, SysStringLen(value.bstrVal)), u"x\u00e9\U0001F600");
    VariantClear(&value);
    ASSERT_TRUE(VariantOf("new Date(2020, 0, 2, 3, 4, 5)", &value));
    SYSTEMTIME fields{};
    ASSERT_TRUE(VariantTimeToSystemTime(value.date, &fields));
    EXPECT_EQ(fields.wYear * 10000 + fields.wMonth * 100 + fields.wDay, 20200102);
    EXPECT_EQ(fields.wHour * 10000 + fields.wMinute * 100 + fields.wSecond, 30405);
    // Plain objects, functions and arrays are no automation values.
    for (const char* refused : {"({})", "(function () {})", "[1, 2]"}) {
        EXPECT_FALSE(VariantOf(refused, &value)) << refused;
        VariantClear(&value);
    }
}

TEST_F(Bridge, ByteArraysComeBackAsTheSameBytes) {
    VARIANT bytes = Make(VT_ARRAY | VT_UI1);
    bytes.parray = SafeArrayCreateVector(VT_UI1, 0, 256);
    BYTE* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(bytes.parray, reinterpret_cast<void**>(&data)), S_OK);
    for (int i = 0; i < 256; ++i)
        data[i] = static_cast<BYTE>(255 - i);
    SafeArrayUnaccessData(bytes.parray);
    script::PushVariant(ctx_, bytes);
    VARIANT back;
    VariantInit(&back);
    ASSERT_TRUE(script::ToVariant(ctx_, duk_get_top_index(ctx_), &back));
    duk_pop(ctx_);
    ASSERT_EQ(back.vt, VT_ARRAY | VT_UI1);
    ASSERT_EQ(back.parray->rgsabound[0].cElements, 256u);
    EXPECT_EQ(std::memcmp(back.parray->pvData, bytes.parray->pvData, 256), 0);
    VariantClear(&back);
    VariantClear(&bytes);
}

TEST_F(Bridge, SleepServesTheThreadsMessagesForItsTime) {
    // With the built module loaded (a queue of its own), Sleep waits on both
    // queues and serves the module's through its DllPumpMessages.
    const std::string program = platform::ProgramPath();
    const std::string library = program.substr(0, program.rfind('/')) + "/../libfiletransfer.so.7";
    void* module = platform::LoadModule(library, nullptr);
    if (module) {
        auto pump = reinterpret_cast<UINT (*)()>(platform::ModuleSymbol(module, "DllPumpMessages"));
        ASSERT_NE(pump, nullptr);
        EXPECT_NE(reinterpret_cast<void*>(pump), reinterpret_cast<void*>(&DllPumpMessages));
    }
    int served = 0;
    testsupport::TestWindow window([&](UINT, WPARAM, LPARAM) {
        ++served;
        return LRESULT{0};
    });
    PostMessageA(window.hwnd(), WM_USER, 0, 0);
    PostMessageA(window.hwnd(), WM_USER + 1, 0, 0);
    const long long start = testsupport::NowMs();
    ASSERT_EQ(duk_peval_string(ctx_, "WScript.Sleep(50)"), 0) << duk_safe_to_string(ctx_, -1);
    duk_pop(ctx_);
    const long long elapsed = testsupport::NowMs() - start;
    EXPECT_EQ(served, 2);
    EXPECT_GE(elapsed, 45);
    EXPECT_LT(elapsed, 2000);
}

}  // namespace
