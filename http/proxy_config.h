// The system's proxy settings (docs/proxies.md): the settings files that stand
// for the Internet settings, their ProxyServer and ProxyOverride rules, the
// automatic configuration script and the names detection tries. The pieces
// here are pure, so the tests can give them text.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "http/http.h"

namespace http {

// A settings file is read only up to this size; a longer one cannot be read.
inline constexpr std::size_t kMaxSettingsFile = 64 * 1024;
// The automatic configuration script is read up to this many bytes.
inline constexpr std::size_t kMaxAutoConfigScript = 32767;

// The "Name=value" lines of one settings file. Names are compared without
// regard to case; a later line of the same name wins; lines without "=" or
// with an empty name, and comment lines ("#" or ";" first), are skipped.
class InternetSettings {
  public:
    static InternetSettings Parse(std::string_view text);
    // The value, or null when the name is absent.
    const std::string* Find(std::string_view name) const;
    // A number value (decimal, or hexadecimal after "0x"); false when absent or
    // no number.
    bool Number(std::string_view name, unsigned long& value) const;

  private:
    std::map<std::string, std::string> values_;  // by lower-cased name
};

// Fills record with a proxy for the target port (tunnel for 443, else
// CERN-style); false for an empty or over-long host, one with blanks or
// control characters, or port 0.
bool FillProxyLookup(HttpProxyLookup& record, int targetPort, std::string_view host, int port);
// The text with ASCII letters upper-cased.
std::string UpperAsciiCopy(std::string_view text);

// Takes the first usable entry of a ProxyServer list for the target port into
// record: 1, or 0 when none is usable.
int ChooseProxyServer(std::string_view list, int targetPort, HttpProxyLookup& record);

// Whether host matches a bypass list; localNames stand for a last "<local>".
bool BypassMatches(std::string_view host, std::string_view list,
                   const std::vector<std::string>& localNames);

// The URLs automatic detection tries, nearest first: "http://wpad.DOMAIN/wpad.dat"
// for the search domain of a resolv.conf text and each parent of it with at
// least two labels.
std::vector<std::string> WpadCandidates(std::string_view resolvConf);

// The first directive of a script's answer: "PROXY host[:port]" fills record
// (1); anything else is no proxy (0).
int ParseAutoConfigAnswer(std::string_view answer, int targetPort, HttpProxyLookup& record);

// The route the system settings give a host (target port 443 for TLS, else
// 80): the automatic configuration and the current user's settings, then the
// machine's. 1 with the record filled, 0 for none, -1 when the machine's
// settings cannot be read.
int SystemProxyFor(const std::string& host, bool secure, HttpProxyLookup& record);

// Test hook: the machine's settings file ("" puts the default back).
void SetMachineSettingsFile(std::string path);

}  // namespace http
