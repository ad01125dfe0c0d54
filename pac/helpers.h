// The script text that defines the standard helper functions of proxy
// auto-configuration scripts on top of four native ones (dnsResolve,
// dnsResolveEx, myIpAddress, myIpAddressEx), run before each script.
#pragma once

#include <string_view>

namespace pac {

std::string_view HelperScript();

}  // namespace pac
