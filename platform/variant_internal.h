// Helpers shared by the VARIANT sources of this folder.
#pragma once

#include "platform/automation.h"

namespace variant_internal {

// A by-value view of src: a by-reference variant shows what it refers to (one
// level). The view owns nothing; copy it before keeping it.
HRESULT Dereference(const VARIANT* src, VARIANT* view);

}  // namespace variant_internal
