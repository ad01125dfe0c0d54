#include <time.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

#include "platform/automation.h"
#include "platform/system.h"
#include "platform/text.h"

bool CalendarToUnixTime(const SYSTEMTIME& fields, bool local, std::int64_t* seconds) {
    std::tm parts{};
    parts.tm_year = fields.wYear - 1900;
    parts.tm_mon = fields.wMonth - 1;
    parts.tm_mday = fields.wDay;
    parts.tm_hour = fields.wHour;
    parts.tm_min = fields.wMinute;
    parts.tm_sec = fields.wSecond;
    parts.tm_isdst = -1;
    const time_t time = local ? mktime(&parts) : timegm(&parts);
    if (time == static_cast<time_t>(-1)) return false;
    *seconds = time;
    return true;
}

bool UnixTimeToCalendar(std::int64_t seconds, bool local, SYSTEMTIME* fields) {
    const auto time = static_cast<time_t>(seconds);
    std::tm parts{};
    if ((local ? localtime_r(&time, &parts) : gmtime_r(&time, &parts)) == nullptr) return false;
    *fields = SYSTEMTIME{};
    fields->wYear = static_cast<WORD>(parts.tm_year + 1900);
    fields->wMonth = static_cast<WORD>(parts.tm_mon + 1);
    fields->wDay = static_cast<WORD>(parts.tm_mday);
    fields->wHour = static_cast<WORD>(parts.tm_hour);
    fields->wMinute = static_cast<WORD>(parts.tm_min);
    fields->wSecond = static_cast<WORD>(parts.tm_sec);
    return true;
}

namespace {

constexpr LONGLONG kSecondsPerDay = 86400;
constexpr LONGLONG kDaysEpochToUnix = 25569;      // 1899-12-30 to 1970-01-01
constexpr LONGLONG kDaysFileTimeToUnix = 134774;  // 1601-01-01 to 1970-01-01
constexpr LONGLONG kTicksPerSecond = 10000000;
constexpr LONGLONG kMinDateDay = -657434;  // 0100-01-01
constexpr LONGLONG kMaxDateDay = 2958465;  // 9999-12-31

// Days since 1970-01-01 of a proleptic Gregorian date.
LONGLONG DaysFromCivil(LONGLONG y, unsigned m, unsigned d) {
    y -= m <= 2;
    LONGLONG era = (y >= 0 ? y : y - 399) / 400;
    unsigned yoe = static_cast<unsigned>(y - era * 400);
    unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<LONGLONG>(doe) - 719468;
}

void CivilFromDays(LONGLONG z, LONGLONG* y, unsigned* m, unsigned* d) {
    z += 719468;
    LONGLONG era = (z >= 0 ? z : z - 146096) / 146097;
    unsigned doe = static_cast<unsigned>(z - era * 146097);
    unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    unsigned mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = static_cast<LONGLONG>(yoe) + era * 400 + (*m <= 2);
}

bool IsLeap(unsigned y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned DaysInMonth(unsigned y, unsigned m) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

bool ValidFields(const SYSTEMTIME& t, unsigned minYear, unsigned maxYear) {
    return t.wYear >= minYear && t.wYear <= maxYear && t.wMonth >= 1 && t.wMonth <= 12 &&
           t.wDay >= 1 && t.wDay <= DaysInMonth(t.wYear, t.wMonth) && t.wHour < 24 &&
           t.wMinute < 60 && t.wSecond < 60 && t.wMilliseconds < 1000;
}

// Seconds since 1970-01-01 of the fields (milliseconds not included).
LONGLONG UnixSeconds(const SYSTEMTIME& t) {
    return DaysFromCivil(t.wYear, t.wMonth, t.wDay) * kSecondsPerDay + t.wHour * 3600LL +
           t.wMinute * 60LL + t.wSecond;
}

SYSTEMTIME FromUnixSeconds(LONGLONG seconds, WORD milliseconds) {
    LONGLONG days =
        seconds >= 0 ? seconds / kSecondsPerDay : -((-seconds - 1) / kSecondsPerDay) - 1;
    LONGLONG rest = seconds - days * kSecondsPerDay;
    LONGLONG y;
    unsigned m, d;
    CivilFromDays(days, &y, &m, &d);
    SYSTEMTIME t{};
    t.wYear = static_cast<WORD>(y);
    t.wMonth = static_cast<WORD>(m);
    t.wDay = static_cast<WORD>(d);
    t.wDayOfWeek = static_cast<WORD>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
    t.wHour = static_cast<WORD>(rest / 3600);
    t.wMinute = static_cast<WORD>(rest / 60 % 60);
    t.wSecond = static_cast<WORD>(rest % 60);
    t.wMilliseconds = milliseconds;
    return t;
}

SYSTEMTIME FromTm(const tm& fields, WORD milliseconds) {
    SYSTEMTIME t{};
    t.wYear = static_cast<WORD>(fields.tm_year + 1900);
    t.wMonth = static_cast<WORD>(fields.tm_mon + 1);
    t.wDay = static_cast<WORD>(fields.tm_mday);
    t.wDayOfWeek = static_cast<WORD>(fields.tm_wday);
    t.wHour = static_cast<WORD>(fields.tm_hour);
    t.wMinute = static_cast<WORD>(fields.tm_min);
    t.wSecond = static_cast<WORD>(fields.tm_sec);
    t.wMilliseconds = milliseconds;
    return t;
}

ULONGLONG ToValue(const FILETIME& f) {
    return (static_cast<ULONGLONG>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
}
FILETIME FromValue(ULONGLONG v) {
    return FILETIME{static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)};
}

// The zone is read again each time, so a changed TZ takes effect at once.
tm* LocalFields(time_t when, tm* fields) {
    tzset();
    return localtime_r(&when, fields);
}

LONG BiasSecondsAt(time_t when) {
    tm fields{};
    LocalFields(when, &fields);
    return static_cast<LONG>(-fields.tm_gmtoff);
}

// Bounded reader for the date text forms.
class TextCursor {
  public:
    explicit TextCursor(std::string_view text) : text_(text) {}
    bool Number(int minDigits, int maxDigits, unsigned* value) {
        int digits = 0;
        unsigned v = 0;
        while (digits < maxDigits && pos_ < text_.size() && text_[pos_] >= '0' &&
               text_[pos_] <= '9') {
            v = v * 10 + static_cast<unsigned>(text_[pos_++] - '0');
            ++digits;
        }
        *value = v;
        return digits >= minDigits;
    }
    bool Take(char c) {
        if (pos_ >= text_.size() || text_[pos_] != c) return false;
        ++pos_;
        return true;
    }
    bool AtEnd() const { return pos_ >= text_.size(); }
    size_t Position() const { return pos_; }
    void Rewind(size_t pos) { pos_ = pos; }

  private:
    std::string_view text_;
    size_t pos_ = 0;
};

std::string_view TrimBlanks(std::string_view text) {
    return TrimmedOf(text, " \t\r\n");
}

bool ParseTime(TextCursor& in, SYSTEMTIME* t) {
    unsigned h, m, s = 0;
    if (!in.Number(1, 2, &h) || !in.Take(':') || !in.Number(2, 2, &m)) return false;
    if (in.Take(':') && !in.Number(2, 2, &s)) return false;
    t->wHour = static_cast<WORD>(h);
    t->wMinute = static_cast<WORD>(m);
    t->wSecond = static_cast<WORD>(s);
    return true;
}

bool ParseDate(TextCursor& in, SYSTEMTIME* t) {
    unsigned y, m, d;
    if (!in.Number(4, 4, &y) || !in.Take('-') || !in.Number(1, 2, &m) || !in.Take('-') ||
        !in.Number(1, 2, &d))
        return false;
    t->wYear = static_cast<WORD>(y);
    t->wMonth = static_cast<WORD>(m);
    t->wDay = static_cast<WORD>(d);
    return true;
}

}  // namespace

INT SystemTimeToVariantTime(const SYSTEMTIME* time, DATE* date) {
    if (!time || !date) return FALSE;
    SYSTEMTIME t = *time;
    t.wMilliseconds = 0;
    if (!ValidFields(t, 100, 9999)) return FALSE;
    LONGLONG days = DaysFromCivil(t.wYear, t.wMonth, t.wDay) + kDaysEpochToUnix;
    double fraction = (t.wHour * 3600.0 + t.wMinute * 60.0 + t.wSecond) / kSecondsPerDay;
    *date = days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
    return TRUE;
}

INT VariantTimeToSystemTime(DATE date, SYSTEMTIME* time) {
    if (!time || !std::isfinite(date)) return FALSE;
    double whole = std::trunc(date);
    if (whole < kMinDateDay || whole > kMaxDateDay) return FALSE;
    auto seconds = static_cast<LONGLONG>(std::llround(std::fabs(date - whole) * kSecondsPerDay));
    LONGLONG unix = (static_cast<LONGLONG>(whole) - kDaysEpochToUnix) * kSecondsPerDay + seconds;
    SYSTEMTIME t = FromUnixSeconds(unix, 0);
    if (t.wYear > 9999) return FALSE;
    *time = t;
    return TRUE;
}

HRESULT VarBstrFromDate(DATE date, LCID, ULONG, BSTR* text) {
    if (!text) return E_INVALIDARG;
    SYSTEMTIME t;
    if (!VariantTimeToSystemTime(date, &t)) return E_INVALIDARG;
    bool hasTime = t.wHour || t.wMinute || t.wSecond;
    bool dayZero = t.wYear == 1899 && t.wMonth == 12 && t.wDay == 30;
    char buffer[64];
    if (dayZero) {
        std::snprintf(buffer, sizeof buffer, "%02u:%02u:%02u", t.wHour, t.wMinute, t.wSecond);
    } else if (!hasTime) {
        std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u", t.wYear, t.wMonth, t.wDay);
    } else {
        std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth,
                      t.wDay, t.wHour, t.wMinute, t.wSecond);
    }
    *text = BstrFromUtf8(buffer);
    return *text ? S_OK : E_OUTOFMEMORY;
}

HRESULT VarDateFromStr(LPCOLESTR text, LCID, ULONG, DATE* date) {
    if (!text || !date) return E_INVALIDARG;
    std::string narrow = Utf16ToUtf8(std::u16string_view(text));
    TextCursor in(TrimBlanks(narrow));
    SYSTEMTIME t{1899, 12, 0, 30, 0, 0, 0, 0};
    bool ok = ParseDate(in, &t);
    if (ok && !in.AtEnd()) {
        ok = (in.Take(' ') || in.Take('T')) && ParseTime(in, &t);
    } else if (!ok) {
        in.Rewind(0);
        ok = ParseTime(in, &t);
    }
    if (!ok || !in.AtEnd()) return DISP_E_TYPEMISMATCH;
    return SystemTimeToVariantTime(&t, date) ? S_OK : DISP_E_TYPEMISMATCH;
}

BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* time) {
    if (!fileTime || !time) return FALSE;
    ULONGLONG value = ToValue(*fileTime);
    if (value > 0x7FFFFFFFFFFFFFFFull) return FALSE;
    auto seconds = static_cast<LONGLONG>(value / kTicksPerSecond);
    auto ms = static_cast<WORD>(value % kTicksPerSecond / 10000);
    *time = FromUnixSeconds(seconds - kDaysFileTimeToUnix * kSecondsPerDay, ms);
    return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* time, FILETIME* fileTime) {
    if (!time || !fileTime || !ValidFields(*time, 1601, 30827)) return FALSE;
    LONGLONG seconds = UnixSeconds(*time) + kDaysFileTimeToUnix * kSecondsPerDay;
    ULONGLONG value = static_cast<ULONGLONG>(seconds) * kTicksPerSecond +
                      static_cast<ULONGLONG>(time->wMilliseconds) * 10000;
    *fileTime = FromValue(value);
    return TRUE;
}

void GetSystemTimeAsFileTime(FILETIME* fileTime) {
    if (fileTime) *fileTime = FromValue(GetSystemTimeAsFileTimeValue());
}

void GetSystemTime(SYSTEMTIME* time) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    FileTimeToSystemTime(&now, time);
}

void GetLocalTime(SYSTEMTIME* time) {
    if (!time) return;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm fields{};
    LocalFields(now.tv_sec, &fields);
    *time = FromTm(fields, static_cast<WORD>(now.tv_nsec / 1000000));
}

BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local) {
    if (!utc || !local) return FALSE;
    LONGLONG shift = LONGLONG{GetTimeZoneBiasSeconds()} * kTicksPerSecond;
    *local = FromValue(ToValue(*utc) - static_cast<ULONGLONG>(shift));
    return TRUE;
}

BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc) {
    if (!utc || !local) return FALSE;
    LONGLONG shift = LONGLONG{GetTimeZoneBiasSeconds()} * kTicksPerSecond;
    *utc = FromValue(ToValue(*local) + static_cast<ULONGLONG>(shift));
    return TRUE;
}

LONG CompareFileTime(const FILETIME* a, const FILETIME* b) {
    ULONGLONG x = ToValue(*a), y = ToValue(*b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

BOOL UnixTimeToSystemTime(LONGLONG seconds, SYSTEMTIME* time) {
    constexpr LONGLONG kFirst = -kDaysFileTimeToUnix * kSecondsPerDay;  // 1601-01-01
    constexpr LONGLONG kLast = 910670515199LL;                          // 30827-12-31 23:59:59
    if (!time || seconds < kFirst || seconds > kLast) return FALSE;
    *time = FromUnixSeconds(seconds, 0);
    return TRUE;
}

BOOL SystemTimeToUnixTime(const SYSTEMTIME* time, LONGLONG* seconds) {
    if (!time || !seconds || !ValidFields(*time, 1601, 30827)) return FALSE;
    *seconds = UnixSeconds(*time);
    return TRUE;
}

LONG GetTimeZoneBiasSeconds() {
    return BiasSecondsAt(::time(nullptr));
}
LONG GetTimeZoneBiasMinutes() {
    return GetTimeZoneBiasSeconds() / 60;
}

DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* zone) {
    if (!zone) return TIME_ZONE_ID_INVALID;
    *zone = TIME_ZONE_INFORMATION{};
    time_t now = ::time(nullptr);
    tm current{};
    LocalFields(now, &current);
    // Probe mid-January and mid-July to find the standard and daylight offsets.
    tm probe{};
    probe.tm_year = current.tm_year;
    probe.tm_mday = 15;
    probe.tm_isdst = -1;
    LONG standard = 0, daylight = 0;
    bool hasDaylight = false, haveStandard = false;
    for (int month : {0, 6}) {
        tm p = probe;
        p.tm_mon = month;
        time_t t = mktime(&p);
        tm fields{};
        localtime_r(&t, &fields);
        LONG bias = static_cast<LONG>(-fields.tm_gmtoff / 60);
        if (fields.tm_isdst > 0) {
            daylight = bias, hasDaylight = true;
        } else if (!haveStandard) {
            standard = bias, haveStandard = true;
        }
    }
    if (!haveStandard) standard = static_cast<LONG>(-current.tm_gmtoff / 60);
    zone->Bias = standard;
    zone->DaylightBias = hasDaylight ? daylight - standard : 0;
    auto copyName = [](const char* name, WCHAR* out) {
        std::u16string wide = Utf8ToUtf16(name ? name : "");
        for (size_t i = 0; i < wide.size() && i < 31; ++i)
            out[i] = wide[i];
    };
    copyName(tzname[0], zone->StandardName);
    copyName(tzname[1], zone->DaylightName);
    if (!hasDaylight) return TIME_ZONE_ID_UNKNOWN;
    return current.tm_isdst > 0 ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}

BOOL SystemTimeToTzSpecificLocalTime(const TIME_ZONE_INFORMATION* zone, const SYSTEMTIME* utc,
                                     SYSTEMTIME* local) {
    if (!utc || !local || !ValidFields(*utc, 1601, 30827)) return FALSE;
    LONGLONG seconds = UnixSeconds(*utc);
    if (zone) {
        *local =
            FromUnixSeconds(seconds - (zone->Bias + zone->StandardBias) * 60LL, utc->wMilliseconds);
        return TRUE;
    }
    time_t when = static_cast<time_t>(seconds);
    tm fields{};
    if (!LocalFields(when, &fields)) return FALSE;
    *local = FromTm(fields, utc->wMilliseconds);
    return TRUE;
}

BOOL TzSpecificLocalTimeToSystemTime(const TIME_ZONE_INFORMATION* zone, const SYSTEMTIME* local,
                                     SYSTEMTIME* utc) {
    if (!utc || !local || !ValidFields(*local, 1601, 30827)) return FALSE;
    if (zone) {
        *utc = FromUnixSeconds(UnixSeconds(*local) + (zone->Bias + zone->StandardBias) * 60LL,
                               local->wMilliseconds);
        return TRUE;
    }
    tm fields{};
    fields.tm_year = local->wYear - 1900;
    fields.tm_mon = local->wMonth - 1;
    fields.tm_mday = local->wDay;
    fields.tm_hour = local->wHour;
    fields.tm_min = local->wMinute;
    fields.tm_sec = local->wSecond;
    fields.tm_isdst = -1;
    time_t when = mktime(&fields);
    if (when == static_cast<time_t>(-1) && fields.tm_year != 69) return FALSE;
    *utc = FromUnixSeconds(static_cast<LONGLONG>(when), local->wMilliseconds);
    return TRUE;
}
