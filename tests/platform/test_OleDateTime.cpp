#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/OleDateTime.h"

namespace {
constexpr double kSecond = 1.0 / 86400.0;
}

TEST(OleDateTime, KnownDatesAndFieldValidity)
{
    const OleDateTime t(2024, 2, 1, 9, 5, 3);
    ASSERT_TRUE(t.IsValid());
    EXPECT_NEAR(t.m_dt, 45323.0 + 32703.0 / 86400.0, 1e-9);
    EXPECT_EQ(t.Format(), "2024-02-01 09:05:03");
    EXPECT_DOUBLE_EQ(OleDateTime(1899, 12, 30, 0, 0, 0).m_dt, 0.0);
    // Before the epoch the whole part is negative and the fraction still counts forward.
    EXPECT_DOUBLE_EQ(OleDateTime(1899, 12, 29, 6, 0, 0).m_dt, -1.25);
    EXPECT_EQ(OleDateTime(-1.25, OleDateTime::valid).Format(), "1899-12-29 06:00:00");
    EXPECT_DOUBLE_EQ(OleDateTime(100, 1, 1, 0, 0, 0).m_dt, -657434.0);
    EXPECT_TRUE(OleDateTime(9999, 12, 31, 23, 59, 59).IsValid());

    EXPECT_TRUE(OleDateTime(2024, 2, 29, 0, 0, 0).IsValid());
    EXPECT_FALSE(OleDateTime(2023, 2, 29, 0, 0, 0).IsValid());
    EXPECT_FALSE(OleDateTime(2024, 2, 30, 0, 0, 0).IsValid());
    EXPECT_FALSE(OleDateTime(2024, 4, 31, 0, 0, 0).IsValid());
    EXPECT_FALSE(OleDateTime(2024, 1, 1, 24, 0, 0).IsValid());
    EXPECT_FALSE(OleDateTime(2024, 1, 1, 0, 0, 60).IsValid());
    EXPECT_FALSE(OleDateTime(2024, 13, 1, 0, 0, 0).IsValid());
    EXPECT_FALSE(OleDateTime(99, 12, 31, 0, 0, 0).IsValid());
    EXPECT_FALSE(OleDateTime(10000, 1, 1, 0, 0, 0).IsValid());
    EXPECT_FALSE(OleDateTime(-1, -1, -1, -1, -1, -1).IsValid());
    EXPECT_FALSE(OleDateTime(1900, 2, 29, 0, 0, 0).IsValid());  // not a leap year

    // An erased device header decodes to 2165-15-165 165:165:0 and must not be accepted.
    EXPECT_FALSE(OleDateTime(2165, 15, 165, 165, 165, 0).IsValid());
}

TEST(OleDateTime, EqualityAndOrdering)
{
    const OleDateTime a(2024, 3, 7, 14, 5, 9);
    const OleDateTime nearly(a.m_dt + 0.49 * kSecond, OleDateTime::valid);
    const OleDateTime apart(a.m_dt + 0.51 * kSecond, OleDateTime::valid);
    EXPECT_TRUE(a == nearly);
    EXPECT_FALSE(a == apart);

    // Strict ordering without tolerance.
    EXPECT_TRUE(a < nearly);
    EXPECT_TRUE(nearly > a);
    EXPECT_FALSE(a < a);

    // Never equal to or ordered against an invalid value, not even one with the same DATE.
    const OleDateTime bad(a.m_dt, OleDateTime::invalid);
    EXPECT_FALSE(a == bad);
    EXPECT_FALSE(bad == bad);
    EXPECT_FALSE(a < bad);
    EXPECT_FALSE(a > bad);
    EXPECT_TRUE(OleDateTime(0.0, OleDateTime::null) == OleDateTime(5.0, OleDateTime::null));
    EXPECT_FALSE(OleDateTime(0.0, OleDateTime::null) == OleDateTime(0.0, OleDateTime::valid));

    // Before the epoch: -1.25 (29 Dec 06:00) comes before -1.75 (29 Dec 18:00).
    const OleDateTime morning(-1.25, OleDateTime::valid), evening(-1.75, OleDateTime::valid);
    EXPECT_TRUE(morning < evening);
    EXPECT_TRUE(OleDateTime(-1.75, OleDateTime::valid) < OleDateTime(0.25, OleDateTime::valid));
    EXPECT_FALSE(morning == evening);
}

TEST(OleDateTime, AddSecondsAcrossMidnightAndEpoch)
{
    const OleDateTime late(2023, 12, 31, 23, 59, 50);
    EXPECT_EQ(late.AddSeconds(10).Format(), "2024-01-01 00:00:00");
    EXPECT_EQ(late.AddSeconds(10 + 86400LL * 59).Format(), "2024-02-29 00:00:00");
    // Many small steps keep landing on whole seconds (a page of records at 8 s intervals).
    OleDateTime t(2024, 2, 1, 9, 5, 3);
    for (int i = 0; i < 63; ++i) t = t.AddSeconds(8);
    EXPECT_EQ(t.Format(), "2024-02-01 09:13:27");
    EXPECT_EQ(OleDateTime(1899, 12, 30, 0, 0, 5).AddSeconds(-10).Format(), "1899-12-29 23:59:55");
    EXPECT_EQ(OleDateTime(1899, 12, 29, 23, 59, 55).AddSeconds(10).Format(), "1899-12-30 00:00:05");
    const OleDateTime bad = OleDateTime(5.0, OleDateTime::invalid).AddSeconds(1);
    EXPECT_EQ(bad.GetStatus(), OleDateTime::invalid);
}

TEST(OleDateTime, RoundingAndUnusableValues)
{
    const OleDateTime base(2024, 2, 1, 23, 59, 59);
    EXPECT_EQ(OleDateTime(base.m_dt + 0.4 * kSecond, OleDateTime::valid).Format(), "2024-02-01 23:59:59");
    EXPECT_EQ(OleDateTime(base.m_dt + 0.6 * kSecond, OleDateTime::valid).Format(), "2024-02-02 00:00:00");
    EXPECT_EQ(OleDateTime(base.m_dt - 0.6 * kSecond, OleDateTime::valid).Format(), "2024-02-01 23:59:58");

    OleDateTimeFields f;
    EXPECT_FALSE(OleDateTime(3e6, OleDateTime::valid).GetFields(f));
    EXPECT_EQ(f.year, -1);
    EXPECT_FALSE(OleDateTime(std::numeric_limits<double>::quiet_NaN(), OleDateTime::valid).GetFields(f));
    EXPECT_FALSE(OleDateTime(1e300, OleDateTime::valid).GetFields(f));
    EXPECT_EQ(OleDateTime(3e6, OleDateTime::valid).Format(), "-1--1--1 -1:-1:-1");

    // Format ignores the status, FormatChecked does not.
    const OleDateTime invalidButDated(base.m_dt, OleDateTime::invalid);
    EXPECT_EQ(invalidButDated.Format(), "2024-02-01 23:59:59");
    EXPECT_EQ(invalidButDated.FormatChecked(), "-1--1--1 -1:-1:-1");
    EXPECT_EQ(OleDateTime(100, 1, 1, 0, 0, 0).Format(), "100-01-01 00:00:00");
}

TEST(OleDateTime, ParseReadsBackFormat)
{
    for (const OleDateTime& t :
         {OleDateTime(2024, 2, 1, 9, 5, 3), OleDateTime(2023, 12, 31, 23, 59, 59), OleDateTime(2024, 1, 1, 0, 0, 0),
          OleDateTime(100, 1, 1, 0, 0, 0), OleDateTime(9999, 12, 31, 23, 59, 59), OleDateTime(1899, 12, 29, 6, 0, 0),
          OleDateTime(2024, 2, 29, 12, 0, 0)}) {
        const OleDateTime back = OleDateTime::Parse(t.Format());
        EXPECT_TRUE(back.IsValid()) << t.Format();
        EXPECT_TRUE(back == t) << t.Format();
        EXPECT_EQ(back.Format(), t.Format());
    }
    // A value between whole seconds reads back to the second it was written as.
    const OleDateTime odd(OleDateTime(2024, 2, 1, 23, 59, 59).m_dt + 0.7 * kSecond, OleDateTime::valid);
    EXPECT_EQ(OleDateTime::Parse(odd.Format()).Format(), "2024-02-02 00:00:00");

    EXPECT_EQ(OleDateTime::Parse("2024/02/01 09:05").Format(), "2024-02-01 09:05:00");
    EXPECT_EQ(OleDateTime::Parse(" 2024-2-1 ").Format(), "2024-02-01 00:00:00");
    EXPECT_EQ(OleDateTime::Parse("2024-02-01  9:05:03\r").Format(), "2024-02-01 09:05:03");

    for (const char* noDate : {"", "   ", "hello", "2024", "2024-02", "2024-02-01x", "2024-02-01 09",
                               "-1--1--1 -1:-1:-1", "2024-02-01 09:05:03 pm"}) {
        const OleDateTime r = OleDateTime::Parse(noDate);
        EXPECT_EQ(r.GetStatus(), OleDateTime::invalid) << noDate;
        EXPECT_EQ(r.m_dt, 0.0) << noDate;
    }
    for (const char* badDate :
         {"2024-02-30 00:00:00", "2024-13-01", "2024-01-01 24:00:00", "99-01-01", "123456789012-01-01"}) {
        const OleDateTime r = OleDateTime::Parse(badDate);
        EXPECT_EQ(r.GetStatus(), OleDateTime::invalid) << badDate;
        EXPECT_EQ(r.m_dt, -1.0) << badDate;
    }
}

TEST(OleDateTime, ParserReadsARunOfTextsAsParseDoes)
{
    // Runs of one day with good and bad times, days before 1900, the ends of the range, the
    // other forms Parse takes and texts that are no date, also right after a text of their day.
    OleDateTimeParser parse;
    for (const char* text : {"2024-02-28 23:59:59",
                             "2024-02-28 00:00:00",
                             "2024-02-28 24:00:00",
                             "2024-02-28 12:60:00",
                             "2024-02-28 12:00:60",
                             "2024-02-28 12:00:59",
                             "2024-02-29 10:00:00",
                             "2023-02-29 10:00:00",
                             "2023-02-29 11:00:00",
                             "2023-02-28 11:00:00",
                             "1899-12-29 06:00:00",
                             "1899-12-29 07:30:00",
                             "1899-12-30 00:00:00",
                             "0100-01-01 00:00:00",
                             "0100-01-01 00:00:01",
                             "0099-12-31 00:00:00",
                             "9999-12-31 23:59:59",
                             "9999-12-31 23:59:58",
                             "2024/02/28 10:00:00",
                             "2024-02-28 10:00:01",
                             "2024-02-28x10:00:03",
                             "2024-02-28 10:00:04",
                             "2024-02-28 10-00:05",
                             "2024-02-28 10:00",
                             "2024-02-28 10:00:02 ",
                             "",
                             "hello"}) {
        const OleDateTime expected = OleDateTime::Parse(text);
        const OleDateTime got = parse(text);
        EXPECT_EQ(got.GetStatus(), expected.GetStatus()) << text;
        EXPECT_EQ(got.m_dt, expected.m_dt) << text;
    }
}

TEST(OleDateTime, CurrentTimeIsWholeSeconds)
{
    const OleDateTime now = OleDateTime::GetCurrentTime();
    ASSERT_TRUE(now.IsValid());
    const double seconds = now.m_dt * 86400.0;
    EXPECT_NEAR(seconds, std::round(seconds), 1e-3);
    EXPECT_GT(now, OleDateTime(2020, 1, 1, 0, 0, 0));
}
