#include "ftp/tables.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "resources/errors.h"

namespace ftp {
namespace {

struct ReplyErrorEntry {
    int code;
    int error;
};

// Listed codes fail the command even when the reply is positive (120).
constexpr std::array<ReplyErrorEntry, 19> kReplyErrors{{
    {120, fileErrorServiceNotReady},
    {421, fileErrorServiceUnavailable},
    {425, fileErrorConnectionFailed},
    {426, fileErrorOperationCanceled},
    {450, fileErrorRemoteFileUnavailable},
    {451, fileErrorOperationCanceled},
    {452, fileErrorInsufficientStorage},
    {500, fileErrorInvalidCommand},
    {501, fileErrorInvalidCommandParameter},
    {502, fileErrorCommandNotImplemented},
    {503, fileErrorInvalidCommandSequence},
    {504, fileErrorCommandNotImplemented},
    {521, fileErrorInvalidSecurityLevel},
    {522, fileErrorCachedTlsRequired},
    {530, fileErrorAuthenticationFailed},
    {532, fileErrorAccountRequired},
    {550, fileErrorAccessDenied},
    {552, fileErrorStorageallocation},
    {553, fileErrorInvalidFileName},
}};

constexpr std::array<SystemTypeEntry, 5> kSystemTypes{{
    {"UNIX", kSystemUnix, 0},
    {"MS-DOS", kSystemMsDos, kFeatureSize | kFeatureMdtm | kFeatureIdle | kFeatureChmod},
    {"WINDOWS", kSystemWindows, kFeatureSize | kFeatureMdtm | kFeatureIdle | kFeatureChmod},
    {"VMS", kSystemVms, kFeatureStat | kFeatureChmod},
    {"NETWARE", kSystemNetWare, kFeatureStat | kFeatureIdle | kFeatureChmod},
}};

struct FeatureEntry {
    std::string_view keyword;
    std::uint32_t bit;
};

constexpr std::array<FeatureEntry, 18> kFeatures{{
    {"SIZE", kFeatureSize},
    {"STAT", kFeatureStat},
    {"MDTM", kFeatureMdtm},
    {"REST", kFeatureRest},
    {"AUTH", kFeatureAuth},
    {"PBSZ", kFeaturePbsz},
    {"PROT", kFeatureProt},
    {"CCC", kFeatureCcc},
    {"MLST", kFeatureMlst},
    {"MFMT", kFeatureMfmt},
    {"XCRC", kFeatureXcrc},
    {"XMD5", kFeatureXmd5},
    {"LANG", kFeatureLang},
    {"UTF8", kFeatureUtf8},
    {"XQUOTA", kFeatureXquota},
    {"EPRT", kFeatureEprt},
    {"EPSV", kFeatureEpsv},
    {"TVFS", kFeatureTvfs},
}};

constexpr std::array<ProxyStep, 2> kLoginProxySteps{{
    {"USER", ProxyArgument::ProxyUser, 0},
    {"PASS", ProxyArgument::ProxyPassword, 331},
}};
constexpr std::array<ProxyStep, 1> kOpenProxySteps{{
    {"OPEN", ProxyArgument::ServerHost, 0},
}};
// SITE follows PASS only when PASS was sent; after a USER that logged in at
// once the host still has to be named.
constexpr std::array<ProxyStep, 3> kSiteProxySteps{{
    {"USER", ProxyArgument::ProxyUser, 0},
    {"PASS", ProxyArgument::ProxyPassword, 331},
    {"SITE", ProxyArgument::ServerHost, 0},
}};

bool ContainsIgnoringCase(std::string_view text, std::string_view upperKeyword) {
    auto it = std::search(
        text.begin(), text.end(), upperKeyword.begin(), upperKeyword.end(),
        [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; });
    return it != text.end();
}

}  // namespace

int ReplyCodeError(int code) {
    for (const auto& entry : kReplyErrors) {
        if (entry.code == code) return entry.error;
    }
    return 0;
}

int ReplyOutcome(int code) {
    if (int error = ReplyCodeError(code)) return error;
    if (code >= 100 && code <= 399) return 0;
    return fileErrorInvalidServerResponse;
}

const SystemTypeEntry* FindSystemType(std::string_view systReplyText) {
    for (const auto& entry : kSystemTypes) {
        if (ContainsIgnoringCase(systReplyText, entry.keyword)) return &entry;
    }
    return nullptr;
}

std::uint32_t FeaturesFromFeatReply(std::string_view featReplyText) {
    std::uint32_t bits = 0;
    for (const auto& entry : kFeatures) {
        if (ContainsIgnoringCase(featReplyText, entry.keyword)) bits |= entry.bit;
    }
    return bits;
}

std::uint32_t WithTimeCommandFallback(std::uint32_t features) {
    if ((features & (kFeatureMfmt | kFeatureMdtm)) == 0) features |= kFeatureMdtm | kFeatureUtime;
    return features;
}

std::span<const ProxyStep> ProxyLoginSteps(int proxyType) {
    switch (proxyType) {
        case kProxyLogin:
            return kLoginProxySteps;
        case kProxyOpen:
            return kOpenProxySteps;
        case kProxySite:
            return kSiteProxySteps;
        default:
            return {};
    }
}

bool ProxySendsUserAtHost(int proxyType) {
    return proxyType == kProxyFtpUser || proxyType == kProxyLogin;
}

}  // namespace ftp
