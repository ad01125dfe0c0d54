// Percent-encoding of request paths, queries and form texts, and Base64 for
// Basic authentication.
#pragma once

#include "platform/api.h"

FT_EXTERN_C_BEGIN

enum HttpEncodeMode {
    HTTP_ENCODE_BASE64 = 1,
    HTTP_ENCODE_PATH = 2,
    HTTP_ENCODE_QUERY = 3,
    HTTP_ENCODE_FORM = 4,
};

// 1 when the text has a character that must be percent-encoded; length -1
// means NUL-terminated.
FT_API int HttpNeedsEncoding(const char* text, int length);
// Encodes input into output (NUL-terminated): the output length (0 for empty
// input), or -1 (10014 bad arguments or mode, 10023 output too small).
FT_API int HttpEncode(int mode, const char* input, int inputLength, char* output, int outputSize);

FT_EXTERN_C_END
