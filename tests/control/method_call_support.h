// Calls a control method whose last argument is its Error result.
#pragma once

#include <gtest/gtest.h>

#include <utility>

#include "control/FileTransfer.h"

// The method must return S_OK; the Error result it left, or -1 without one.
template <class... Params, class... Args>
LONG CallWithError(CFileTransfer* control, HRESULT (CFileTransfer::*method)(Params...),
                   Args&&... args) {
    VARIANT error{};
    EXPECT_EQ((control->*method)(std::forward<Args>(args)..., &error), S_OK);
    return error.vt == VT_I4 ? error.lVal : -1;
}

// Output arguments that start empty and are cleared at the end of the scope.
template <int N>
struct VariantOutputs {
    VARIANT v[N];
    VariantOutputs() {
        for (VARIANT& each : v)
            VariantInit(&each);
    }
    ~VariantOutputs() {
        for (VARIANT& each : v)
            VariantClear(&each);
    }
    VariantOutputs(const VariantOutputs&) = delete;
    VariantOutputs& operator=(const VariantOutputs&) = delete;
    VARIANT* operator[](int i) { return &v[i]; }
};
