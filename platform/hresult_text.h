// A short English meaning of the common failure codes of automation, OLE and
// the control's property checks, for hosts that show a failure without a
// description of its own.
#pragma once

#include "platform/wintypes.h"

// The meaning, or null for a code the table does not know.
const char* HresultMeaning(HRESULT hr);
