// Modification times: MDTM (else the file's status) to read them; MFMT, MDTM
// with a time, or SITE UTIME to set them.
#include <cstdio>
#include <string>

#include "ftp/engine.h"
#include "ftp/fileops.h"
#include "ftp/fileops_internal.h"
#include "ftp/ftp_ops.h"
#include "resources/errors.h"

namespace ftp {
namespace {

constexpr std::size_t kMdtmTextMax = 63;
constexpr int kStatusListingResult = 213;

// "YYYYMMDDHHMMSS" at the start of the text (after white space); whatever
// follows the 14 digits (fractions of a second) is ignored.
bool ParseMdtmTime(std::string_view text, SYSTEMTIME& time) {
    text = text.substr(0, kMdtmTextMax);
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    static constexpr std::size_t kWidths[] = {4, 2, 2, 2, 2, 2};
    WORD fields[6] = {};
    std::size_t at = 0;
    for (int i = 0; i < 6; ++i) {
        for (std::size_t digit = 0; digit < kWidths[i]; ++digit, ++at) {
            if (at >= text.size() || text[at] < '0' || text[at] > '9') return false;
            fields[i] = static_cast<WORD>(fields[i] * 10 + (text[at] - '0'));
        }
    }
    time = SYSTEMTIME{};
    time.wYear = fields[0];
    time.wMonth = fields[1];
    time.wDay = fields[2];
    time.wHour = fields[3];
    time.wMinute = fields[4];
    time.wSecond = fields[5];
    return true;
}

// Checks the date and fills in its day of the week.
bool Normalised(SYSTEMTIME& time) {
    FILETIME value{};
    return SystemTimeToFileTime(&time, &value) && FileTimeToSystemTime(&value, &time);
}

// Converts between UTC and local time when the caller wants the other one; a
// date that does not convert is left as it was.
void ConvertTime(SYSTEMTIME& time, bool isUtc, bool wantLocal) {
    SYSTEMTIME converted{};
    bool ok = true;
    if (isUtc && wantLocal)
        ok = SystemTimeToTzSpecificLocalTime(nullptr, &time, &converted);
    else if (!isUtc && !wantLocal)
        ok = TzSpecificLocalTimeToSystemTime(nullptr, &time, &converted);
    else
        return;
    if (ok) time = converted;
}

int TimeFromStatus(FtpSession& session, std::string_view name, bool wantLocal, SYSTEMTIME& time) {
    FileInfo info;
    if (QueryFileInfo(session, name, info) < 0) return -1;
    time = info.entry.fields.date;
    ConvertTime(time, info.dateIsUtc, wantLocal);
    return kStatusListingResult;
}

struct SetTimeCommand {
    std::string_view command;
    std::string_view prefix;
    std::uint32_t feature;
};

constexpr SetTimeCommand kSetTimeCommands[] = {
    {"MFMT", "", kFeatureMfmt},
    {"MDTM", "", kFeatureMdtm},
    {"SITE", "UTIME ", kFeatureUtime},
};

std::string TimeStampedName(const SYSTEMTIME& time, std::string_view name) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04hu%02hu%02hu%02hu%02hu%02hu ", time.wYear, time.wMonth,
                  time.wDay, time.wHour, time.wMinute, time.wSecond);
    return stamp + std::string(name);
}

}  // namespace
}  // namespace ftp

using namespace ftp;

int ftp::ftpops::GetFileTime(FtpSession& session, std::string_view name, SYSTEMTIME* time,
                             bool localTime) {
    if (HasFeature(session, kFeatureMdtm)) {
        Exchange reply = RunCommand(session, "MDTM", name);
        if (reply.positive()) {
            SYSTEMTIME parsed{};
            if (!ParseMdtmTime(session.replyText.view(), parsed) || !Normalised(parsed))
                return Fail(fileErrorUnexpectedServerResponse);
            ConvertTime(parsed, true, localTime);
            *time = parsed;
            return reply.code;
        }
        if (reply.code == 550) return Fail(fileErrorFileNotFound);
        // Without a reply there is no server to ask another way.
        if (reply.code == 0) return -1;
        LearnFeature(session, reply, kFeatureMdtm);
    }
    if (!HasFeature(session, kFeatureStat) && !HasFeature(session, kFeatureMlst))
        return Fail(fileErrorFeatureNotSupported);
    return TimeFromStatus(session, name, localTime, *time);
}

int ftp::ftpops::SetFileTime(FtpSession& session, std::string_view name, const SYSTEMTIME* time) {
    std::string argument = TimeStampedName(*time, name);
    for (const SetTimeCommand& candidate : kSetTimeCommands) {
        if (!HasFeature(session, candidate.feature)) continue;
        Exchange reply =
            RunCommand(session, candidate.command, std::string(candidate.prefix) + argument);
        if (reply.positive()) return reply.code;
        if (reply.code == 0) return -1;
        LearnFeature(session, reply, candidate.feature);
    }
    return Fail(fileErrorFeatureNotSupported);
}

extern "C" {

int FtpGetFileTime(FtpClient client, const char* fileName, SYSTEMTIME* time, BOOL localTime) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    std::string_view name = fileName ? fileName : "";
    if (name.empty()) return Fail(fileErrorInvalidFileName);
    if (!time) return Fail(fileErrorInvalidParameter);
    *time = SYSTEMTIME{};
    return session->ops->getFileTime(*session, name, time, localTime != FALSE);
}

int FtpSetFileTime(FtpClient client, const char* fileName, const SYSTEMTIME* time) {
    SessionRef session = LookupSession(client);
    if (!session) return -1;
    std::string_view name = fileName ? fileName : "";
    if (name.empty()) return Fail(fileErrorInvalidFileName);
    if (!time) return Fail(fileErrorInvalidParameter);
    return session->ops->setFileTime(*session, name, time);
}

}  // extern "C"
