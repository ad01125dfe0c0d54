// The component's version numbers (the fixed file version of the module).
#pragma once

#include "platform/wintypes.h"

struct FileVersion {
    WORD major, minor, build, revision;
};

constexpr FileVersion kFileVersion{7, 2, 7210, 1848};
constexpr const char* kProductName = "Tollane File Transfer Control 7.2";
constexpr const char* kProgId = "Tollane.FileTransfer.7";
constexpr const char* kVersionIndependentProgId = "Tollane.FileTransfer";
