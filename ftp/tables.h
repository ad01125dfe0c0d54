// The FTP engine's lookup tables: reply codes to errors, SYST keywords to
// system types, FEAT keywords to feature bits, and the command sequences that
// log in through each kind of FTP proxy.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace ftp {

// Feature bits of the session's feature mask.
enum FeatureBits : std::uint32_t {
    kFeatureSize = 0x1,
    kFeatureStat = 0x2,
    kFeatureMdtm = 0x4,
    kFeatureRest = 0x8,
    kFeatureSite = 0x10,
    kFeatureIdle = 0x20,
    kFeatureChmod = 0x40,
    kFeatureAuth = 0x80,
    kFeaturePbsz = 0x100,
    kFeatureProt = 0x200,
    kFeatureCcc = 0x400,
    kFeatureHost = 0x800,
    kFeatureMlst = 0x1000,
    kFeatureMfmt = 0x2000,
    kFeatureXcrc = 0x4000,
    kFeatureXmd5 = 0x8000,
    kFeatureLang = 0x10000,
    kFeatureUtf8 = 0x20000,
    kFeatureXquota = 0x40000,
    kFeatureUtime = 0x80000,
    kFeatureEprt = 0x100000,
    kFeatureEpsv = 0x200000,
    kFeatureTvfs = 0x400000,
};
inline constexpr std::uint32_t kDefaultFeatures = 0x7FB;

enum SystemType : int {
    kSystemNotAsked = -1,
    kSystemUnknown = 0,
    kSystemUnix = 1,
    kSystemMsDos = 2,
    kSystemWindows = 3,
    kSystemVms = 4,
    kSystemNetWare = 5,
};

// The error number a reply code maps to whatever its class, or 0.
int ReplyCodeError(int code);
// The error a completed reply gives: the table's error, 0 for 100..399, and
// the invalid-response error for anything else.
int ReplyOutcome(int code);

struct SystemTypeEntry {
    std::string_view keyword;
    int type;
    std::uint32_t clearedFeatures;
};
// The first entry whose keyword occurs anywhere in the text (compared without
// regard to case), or null.
const SystemTypeEntry* FindSystemType(std::string_view systReplyText);

// The feature bits of every FEAT keyword found anywhere in the text (case ignored).
std::uint32_t FeaturesFromFeatReply(std::string_view featReplyText);
// Without MFMT or MDTM the time commands are still worth a try.
std::uint32_t WithTimeCommandFallback(std::uint32_t features);

enum ProxyType : int {
    kProxyNone = 0,
    kProxyFtpUser = 1,
    kProxyLogin = 2,
    kProxyOpen = 3,
    kProxySite = 4,
    kProxyOther = 255,
};

// One command of a proxy's own login: the argument is the proxy user, the
// proxy password or the server host; a step with onlyAfter runs only when the
// previous reply had that code.
enum class ProxyArgument { ProxyUser, ProxyPassword, ServerHost };
struct ProxyStep {
    std::string_view command;
    ProxyArgument argument;
    int onlyAfter;
};
std::span<const ProxyStep> ProxyLoginSteps(int proxyType);
// Proxy kinds whose later USER carries "user@serverhost".
bool ProxySendsUserAtHost(int proxyType);

}  // namespace ftp
