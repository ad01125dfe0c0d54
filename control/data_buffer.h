// The Buffer argument of GetData and PutData: texts carry one byte per
// character (U+0000..U+00FF, so that any byte survives a round trip), byte
// arrays carry their elements.
#pragma once

#include <span>
#include <string>

#include "platform/automation.h"

// The bytes a PutData Buffer holds, borrowed from the caller's text (as a
// converted copy) or array (locked while this lives).
class DataSource {
  public:
    // hr() is E_INVALIDARG for a missing buffer, a text array, a byte that is
    // not an array, a VT_VARIANT that is not by reference or any other type;
    // CTL_E_ILLEGALFUNCTIONCALL for an array of more than one dimension;
    // E_OUTOFMEMORY when the text cannot be converted.
    explicit DataSource(const VARIANT* buffer);
    ~DataSource();
    DataSource(const DataSource&) = delete;
    DataSource& operator=(const DataSource&) = delete;

    HRESULT hr() const { return hr_; }
    std::span<const BYTE> bytes() const { return bytes_; }

  private:
    void FromText(BSTR text);
    void FromArray(SAFEARRAY* array);

    HRESULT hr_ = S_OK;
    std::string text_;
    SAFEARRAY* array_ = nullptr;
    std::span<const BYTE> bytes_;
};

// Stores received bytes into a GetData Buffer by its current type: an empty
// or text VARIANT (also by reference) gets a text of one character per byte;
// a one-dimensional byte array gets the first bytes that fit (a VARIANT
// without an array gets a new one of all the bytes). Returns the number of
// bytes stored; other types (and arrays of more dimensions) receive nothing
// and the full count is returned.
ULONG FillDataBuffer(VARIANT* buffer, std::span<const BYTE> bytes);
