// Error numbers, their constant names and message texts.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "platform/wintypes.h"

enum ErrorConstants : int {
    fileError = -1,
#define FT_ERROR(number, name, text) name = number,
#define FT_ERROR_UNNAMED(number, text)
#include "resources/errors.inc"
#undef FT_ERROR
#undef FT_ERROR_UNNAMED
};

// Error codes are the facility bits or-ed with an error number.
constexpr DWORD kErrorCodeBase = 0x80040000u;
constexpr DWORD MakeErrorCode(int number) { return kErrorCodeBase | static_cast<DWORD>(number); }
constexpr int ErrorNumber(DWORD code) { return static_cast<int>(code & 0xFFFFu); }
// True for a code of this table's facility (bits 16 to 28 equal 4).
constexpr bool IsTableErrorCode(DWORD code) { return ((code >> 16) & 0x1FFFu) == 4u; }

struct ErrorInfo {
    int number;
    const char* name;  // empty for the unnamed "no error" entry
    const char* text;
};

std::span<const ErrorInfo> ErrorTable();
const ErrorInfo* FindErrorByNumber(int number);
const ErrorInfo* FindErrorByName(std::string_view name);

// The message-table text of a full error code (0 gives "No error"), or null.
const char* MessageTableText(DWORD code);

// The text shown for a code: the message-table text with trailing CR, LF and
// blanks cut, or "Undefined control error (0x%08lX)" when there is none.
std::string ErrorDescription(DWORD code);
