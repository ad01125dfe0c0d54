#include <gtest/gtest.h>

#include <ctime>

#include <unistd.h>

#include "platform/automation.h"
#include "support/test_files.h"

namespace {

SYSTEMTIME Make(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0, WORD ms = 0) {
    return SYSTEMTIME{y, mo, 0, d, h, mi, s, ms};
}

bool SameTime(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay && a.wHour == b.wHour &&
           a.wMinute == b.wMinute && a.wSecond == b.wSecond;
}

TEST(AutomationDate, KnownDates) {
    struct Case {
        SYSTEMTIME time;
        DATE date;
    } cases[] = {
        {Make(1899, 12, 30), 0.0},
        {Make(2000, 1, 1, 12), 36526.5},
        {Make(9999, 12, 31), 2958465.0},
        {Make(100, 1, 1), -657434.0},
        // Before day zero the day counts back and the time forward.
        {Make(1899, 12, 29, 6), -1.25},
        {Make(1899, 12, 29, 18), -1.75},
    };
    for (const auto& c : cases) {
        DATE date = -1;
        ASSERT_TRUE(SystemTimeToVariantTime(&c.time, &date)) << c.date;
        EXPECT_DOUBLE_EQ(date, c.date);
        SYSTEMTIME back{};
        ASSERT_TRUE(VariantTimeToSystemTime(c.date, &back));
        EXPECT_TRUE(SameTime(back, c.time)) << c.date;
    }
    SYSTEMTIME saturday{};
    ASSERT_TRUE(VariantTimeToSystemTime(0.0, &saturday));
    EXPECT_EQ(saturday.wDayOfWeek, 6);  // 1899-12-30 was a Saturday
    ASSERT_TRUE(VariantTimeToSystemTime(-0.25, &saturday));
    EXPECT_TRUE(SameTime(saturday, Make(1899, 12, 30, 6)));  // same as +0.25
}

TEST(AutomationDate, RoundsToTheSecondAndRejectsInvalidTimes) {
    SYSTEMTIME t{};
    ASSERT_TRUE(VariantTimeToSystemTime(1.0 - 0.4 / 86400, &t));  // 23:59:59.6
    EXPECT_TRUE(SameTime(t, Make(1899, 12, 31)));
    SYSTEMTIME withMs = Make(2020, 5, 5, 1, 2, 3, 999);
    DATE date;
    ASSERT_TRUE(SystemTimeToVariantTime(&withMs, &date));
    ASSERT_TRUE(VariantTimeToSystemTime(date, &t));
    EXPECT_EQ(t.wSecond, 3);  // milliseconds are ignored
    EXPECT_EQ(t.wMilliseconds, 0);

    for (SYSTEMTIME bad : {Make(2023, 2, 29), Make(2024, 4, 31), Make(2024, 0, 1),
                           Make(2024, 1, 1, 24), Make(99, 1, 1), Make(10000, 1, 1)})
        EXPECT_FALSE(SystemTimeToVariantTime(&bad, &date)) << bad.wYear << '-' << bad.wMonth;
    EXPECT_FALSE(VariantTimeToSystemTime(2958466.0, &t));
    EXPECT_FALSE(VariantTimeToSystemTime(-657435.0, &t));
}

TEST(FileTimes, EpochRoundTripAndTheClock) {
    FILETIME zero{0, 0};
    SYSTEMTIME t{};
    ASSERT_TRUE(FileTimeToSystemTime(&zero, &t));
    EXPECT_TRUE(SameTime(t, Make(1601, 1, 1)));
    EXPECT_EQ(t.wDayOfWeek, 1);  // a Monday

    SYSTEMTIME unixEpoch = Make(1970, 1, 1, 0, 0, 0, 250);
    FILETIME f{};
    ASSERT_TRUE(SystemTimeToFileTime(&unixEpoch, &f));
    ULONGLONG value = (ULONGLONG{f.dwHighDateTime} << 32) | f.dwLowDateTime;
    EXPECT_EQ(value, 116444736000000000ull + 2500000ull);
    ASSERT_TRUE(FileTimeToSystemTime(&f, &t));
    EXPECT_EQ(t.wMilliseconds, 250);

    SYSTEMTIME before1601 = Make(1600, 12, 31);
    EXPECT_FALSE(SystemTimeToFileTime(&before1601, &f));
    FILETIME negative{0, 0x80000000u};
    EXPECT_FALSE(FileTimeToSystemTime(&negative, &t));

    // The system time agrees with the clock.
    SYSTEMTIME now{};
    GetSystemTime(&now);
    time_t seconds = time(nullptr);
    tm utc{};
    gmtime_r(&seconds, &utc);
    EXPECT_EQ(now.wYear, utc.tm_year + 1900);
    EXPECT_EQ(now.wDayOfWeek, utc.tm_wday);
}

TEST(LocalTime, NamedZoneWithDaylightSaving) {
    if (access("/usr/share/zoneinfo/America/New_York", R_OK) != 0)
        GTEST_SKIP() << "no time-zone database";
    ScopedEnv zone("TZ", "America/New_York");
    SYSTEMTIME local{};
    SYSTEMTIME winter = Make(2024, 1, 15, 12);
    ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &winter, &local));
    EXPECT_TRUE(SameTime(local, Make(2024, 1, 15, 7)));
    SYSTEMTIME summer = Make(2024, 7, 15, 12, 0, 0, 5);
    ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &summer, &local));
    EXPECT_TRUE(SameTime(local, Make(2024, 7, 15, 8)));
    EXPECT_EQ(local.wMilliseconds, 5);
    SYSTEMTIME utc{};
    ASSERT_TRUE(TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc));
    EXPECT_TRUE(SameTime(utc, summer));

    LONG bias = GetTimeZoneBiasMinutes();
    EXPECT_TRUE(bias == 300 || bias == 240);
    EXPECT_EQ(GetTimeZoneBiasSeconds(), bias * 60);
}

TEST(LocalTime, FixedOffsetZonesAndExplicitZoneRecords) {
    {
        ScopedEnv zone("TZ", "UTC-05:30");  // POSIX sign: 5:30 east of UTC
        EXPECT_EQ(GetTimeZoneBiasMinutes(), -330);
        SYSTEMTIME utc = Make(2024, 12, 31, 20, 0);
        SYSTEMTIME local{};
        ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local));
        EXPECT_TRUE(SameTime(local, Make(2025, 1, 1, 1, 30)));  // crosses the year
        FILETIME f{}, localFile{}, back{};
        ASSERT_TRUE(SystemTimeToFileTime(&utc, &f));
        ASSERT_TRUE(FileTimeToLocalFileTime(&f, &localFile));
        ASSERT_TRUE(LocalFileTimeToFileTime(&localFile, &back));
        EXPECT_EQ(CompareFileTime(&f, &back), 0);
        EXPECT_EQ(CompareFileTime(&f, &localFile), -1);
    }
    TIME_ZONE_INFORMATION west{};
    west.Bias = 120;  // two hours west
    SYSTEMTIME utc = Make(2024, 3, 1, 1, 0);
    SYSTEMTIME local{};
    ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(&west, &utc, &local));
    EXPECT_TRUE(SameTime(local, Make(2024, 2, 29, 23, 0)));  // leap day
    SYSTEMTIME back{};
    ASSERT_TRUE(TzSpecificLocalTimeToSystemTime(&west, &local, &back));
    EXPECT_TRUE(SameTime(back, utc));
}

TEST(DateText, FormsWrittenAndRead) {
    BSTR text = nullptr;
    ASSERT_EQ(VarBstrFromDate(0.0, LOCALE_USER_DEFAULT, 0, &text), S_OK);
    EXPECT_EQ(std::u16string_view(text), u"00:00:00");
    SysFreeString(text);
    ASSERT_EQ(VarBstrFromDate(-1.5, LOCALE_USER_DEFAULT, 0, &text), S_OK);
    EXPECT_EQ(std::u16string_view(text), u"1899-12-29 12:00:00");
    SysFreeString(text);
    EXPECT_EQ(VarBstrFromDate(1e9, LOCALE_USER_DEFAULT, 0, &text), E_INVALIDARG);

    DATE date;
    ASSERT_EQ(VarDateFromStr(u" 1899-12-29 12:00 ", LOCALE_USER_DEFAULT, 0, &date), S_OK);
    EXPECT_DOUBLE_EQ(date, -1.5);
}

}  // namespace
