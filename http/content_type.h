// The content type of a file from its extension.
#pragma once

#include "platform/api.h"

FT_EXTERN_C_BEGIN

// The type of the name's extension ("application/octet-stream" when it has
// none or an unknown one) into output, cut to outputSize - 1 characters: the
// length written, or -1 (10014 for a null or empty name or a null output).
FT_API int HttpGetContentType(const char* fileName, char* output, int outputSize);

FT_EXTERN_C_END
