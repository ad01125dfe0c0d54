// Helpers shared by the control tests: a fresh control, BSTR handling, a host
// that answers ambient properties and an event sink that records what it gets.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "control/FileTransfer.h"
#include "control/engine_hold.h"
#include "platform/automation.h"
#include "platform/dispatch.h"
#include "platform/text.h"

// A BSTR argument made from UTF-8 text, freed at the end of the statement.
class Bstr {
  public:
    explicit Bstr(std::string_view text) : value_(BstrFromUtf8(text)) {}
    ~Bstr() { SysFreeString(value_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    operator BSTR() const { return value_; }

  private:
    BSTR value_;
};

// One write (none when `written` is null) and one read through the dispatch
// interface by name, the values as texts converted to and from the property's
// type.
struct PropertyStep {
    const char* write;
    const char* written;
    HRESULT put;  // the member's own result (the exception's code)
    const char* read;
    std::string expected;
};

class ControlTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetErrorInfo(0, nullptr);
        control_ = CFileTransfer::Create();
        ASSERT_NE(control_, nullptr);
    }
    void TearDown() override {
        // Destroying the control leaves its connection open and the engines
        // started: close it here, and end as a process would.
        if (control_) control_->Disconnect(nullptr);
        if (control_) control_->Release();
        ReleaseKeptEngineStarts();
        SetErrorInfo(0, nullptr);
    }

    using TextGetter = HRESULT (CFileTransfer::*)(BSTR*);
    using TextSetter = HRESULT (CFileTransfer::*)(BSTR);
    using LongGetter = HRESULT (CFileTransfer::*)(LONG*);
    using BoolGetter = HRESULT (CFileTransfer::*)(VARIANT_BOOL*);

    std::string Text(TextGetter get) {
        BSTR value = nullptr;
        const HRESULT hr = (control_->*get)(&value);
        EXPECT_EQ(hr, S_OK);
        std::string text = Utf8FromBstr(value);
        SysFreeString(value);
        return text;
    }
    LONG Long(LongGetter get) {
        LONG value = -12345;
        EXPECT_EQ((control_->*get)(&value), S_OK);
        return value;
    }
    bool Bool(BoolGetter get) {
        VARIANT_BOOL value = 7;
        EXPECT_EQ((control_->*get)(&value), S_OK);
        EXPECT_TRUE(value == VARIANT_TRUE || value == VARIANT_FALSE);
        return value == VARIANT_TRUE;
    }
    HRESULT SetText(TextSetter put, std::string_view text) {
        Bstr value(text);
        return (control_->*put)(value);
    }
    HRESULT SetUrl(std::string_view url) { return SetText(&CFileTransfer::put_URL, url); }
    std::string Url() { return Text(&CFileTransfer::get_URL); }

    // Runs each table of PropertySteps on a fresh control.
    void RunRules(std::span<const std::vector<PropertyStep>> rules) {
        for (const std::vector<PropertyStep>& rule : rules) {
            control_->Release();
            control_ = CFileTransfer::Create();
            RunSteps(rule);
        }
    }
    // Runs PropertySteps in order on this control.
    void RunSteps(std::span<const PropertyStep> steps) {
        for (const PropertyStep& step : steps) {
            SCOPED_TRACE(std::string(step.write) + " = " + (step.written ? step.written : "-"));
            DISPID dispid = 0;
            VARIANT value{}, text{};
            if (step.written) {
                ASSERT_EQ(DispatchGetIdOfName(control_, Utf8ToUtf16(step.write), &dispid), S_OK);
                value.vt = VT_BSTR;
                value.bstrVal = BstrFromUtf8(step.written);
                EXCEPINFO exception{};
                HRESULT hr = DispatchPutProperty(control_, dispid, {}, &value, &exception);
                if (hr == DISP_E_EXCEPTION) hr = exception.scode;
                EXPECT_EQ(hr, step.put);
                ClearExcepInfo(&exception);
                VariantClear(&value);
            }
            ASSERT_EQ(DispatchGetIdOfName(control_, Utf8ToUtf16(step.read), &dispid), S_OK);
            ASSERT_EQ(DispatchGetProperty(control_, dispid, {}, &value), S_OK);
            ASSERT_EQ(VariantChangeType(&text, &value, 0, VT_BSTR), S_OK);
            EXPECT_EQ(Utf8FromBstr(text.bstrVal), step.expected) << step.read;
            VariantClear(&text);
            VariantClear(&value);
        }
    }

    CFileTransfer* control_ = nullptr;
};

// A container whose ambient UserMode is fixed by the test.
class AmbientHost final : public EventSink {
  public:
    static AmbientHost* Create(VARIANT userMode) { return new AmbientHost(userMode); }

    HRESULT Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result,
                   EXCEPINFO*, UINT*) override {
        ++queries;
        if (member != kDispidAmbientUserMode || !(flags & DISPATCH_PROPERTYGET)) {
            return DISP_E_MEMBERNOTFOUND;
        }
        return VariantCopy(result, &userMode_);
    }

    int queries = 0;

  private:
    explicit AmbientHost(VARIANT userMode) : userMode_(userMode) {}
    ~AmbientHost() override { VariantClear(&userMode_); }
    VARIANT userMode_;
};

inline VARIANT BoolVariant(bool value) {
    VARIANT v{};
    v.vt = VT_BOOL;
    v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

// Records every event it receives, with its arguments as text, and then calls
// the test's hook.
class RecordingSink final : public EventSink {
  public:
    struct Event {
        DISPID dispid;
        std::vector<std::string> arguments;  // written order
        std::vector<VARTYPE> types;
    };

    static RecordingSink* Create() { return new RecordingSink(); }

    HRESULT Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                   UINT*) override {
        Event event{member, {}, {}};
        for (UINT i = 0; i < params->cArgs; ++i) {
            VARIANT* argument = DispParamsArgument(params, i);
            event.types.push_back(argument->vt);
            VARIANT text{};
            VariantChangeType(&text, argument, 0, VT_BSTR);
            event.arguments.push_back(Utf8FromBstr(text.bstrVal));
            VariantClear(&text);
        }
        events.push_back(event);
        if (hook) hook(events.back());
        return S_OK;
    }

    int Count(DISPID dispid) const {
        int count = 0;
        for (const auto& event : events)
            count += event.dispid == dispid ? 1 : 0;
        return count;
    }
    // "OnCommand 257", "OnError 10060", "OnCancel" ... joined with '|'.
    std::string Trace() const {
        static const char* const kNames[] = {"",        "OnCancel",   "OnCommand",
                                             "OnError", "OnProgress", "OnTimeout"};
        std::string trace;
        for (const auto& event : events) {
            if (!trace.empty()) trace += '|';
            trace += kNames[event.dispid];
            if (!event.arguments.empty()) trace += " " + event.arguments[0];
        }
        return trace;
    }

    std::vector<Event> events;
    std::function<void(const Event&)> hook;

  private:
    RecordingSink() = default;
};
