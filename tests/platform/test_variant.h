// A VARIANT that clears itself, for tests.
#pragma once

#include <string>

#include "platform/automation.h"
#include "platform/text.h"

struct TestVariant {
    VARIANT v;
    TestVariant() { VariantInit(&v); }
    ~TestVariant() { VariantClear(&v); }
    TestVariant(const TestVariant&) = delete;
    TestVariant& operator=(const TestVariant&) = delete;

    VARIANT* get() { return &v; }
    std::string Text() const { return Utf8FromBstr(v.bstrVal); }
};

inline void SetText(VARIANT* v, const char* text) {
    VariantClear(v);
    v->vt = VT_BSTR;
    v->bstrVal = BstrFromUtf8(text);
}
