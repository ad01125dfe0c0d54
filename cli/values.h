// Values on the command line: literals read the way a script host reads them,
// and property values printed for people.
#pragma once

#include <string>
#include <string_view>

#include "platform/automation.h"

// Owns one VARIANT and clears it when it goes.
class ScopedVariant {
  public:
    ScopedVariant() { VariantInit(&value_); }
    ~ScopedVariant() { VariantClear(&value_); }
    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;

    VARIANT* get() { return &value_; }
    const VARIANT& operator*() const { return value_; }

  private:
    VARIANT value_;
};

// Decimal (with an optional sign) or 0x-hexadecimal numbers that fit 32 bits
// become VT_I4, True/False in any case VT_BOOL, anything else VT_BSTR.
void LiteralToVariant(std::string_view literal, VARIANT* value);

// Booleans as True/False, numbers in decimal, texts as they are.
std::string VariantToDisplay(const VARIANT& value);

// The names of the bits set in a feature mask ("SIZE MDTM REST"), from the
// feature constants without their prefix; "none" for an empty mask.
std::string FeatureNames(LONG mask);

// The name of the constant of an enumeration with this value
// ("fileCertificateUntrusted"), or the value in decimal when none has it.
std::string ConstantName(std::string_view enumeration, LONG value);
