// The time-range pieces shared by the history and graph dialogs.
#include <gtest/gtest.h>

#include <ctime>
#include <limits>

#include "history/TimeRange.h"
#include "platform/MessageBox.h"
#include "ui/ViewTestSupport.h"

TEST(TimeRange, DefaultStartIsOneHourBackSplitIntoDateAndTimeOfDay)
{
    // 00:30 local: the start falls on the previous day.
    std::tm local{};
    local.tm_year = 2024 - 1900;
    local.tm_mon = 2;
    local.tm_mday = 1;
    local.tm_hour = 0;
    local.tm_min = 30;
    local.tm_sec = 15;
    local.tm_isdst = -1;
    const std::time_t now = mktime(&local);
    OleDateTime date, time;
    DefaultStartRange(now, date, time);
    EXPECT_EQ(date.Format(), "2024-02-29 00:00:00");
    EXPECT_EQ(time.Format(), "1899-12-30 23:30:15");
    EXPECT_EQ(CombineDateTime(date, time), OleDateTime(2024, 2, 29, 23, 30, 15));

    // A moment that has no local time: both values are invalid, and the check lets them pass.
    DefaultStartRange(std::numeric_limits<std::time_t>::max(), date, time);
    EXPECT_FALSE(date.IsValid());
    EXPECT_FALSE(time.IsValid());
    EXPECT_FALSE(CombineDateTime(date, time).IsValid());
}

TEST(TimeRange, CheckTextsAndWhereClause)
{
    ASSERT_TRUE(LoadTestLanguage(0));
    ScopedMessageBoxRecorder boxes;
    const OleDateTime day(2021, 3, 1, 0, 0, 0), nine(1899, 12, 30, 9, 0, 0), ten(1899, 12, 30, 10, 0, 0);

    const auto range = SelectTimeRange(day, nine, day, ten);
    ASSERT_TRUE(range);
    EXPECT_EQ(TimeRangeWhere(*range, "0012AB34"),
              "Time>'2021-03-01 09:00:00' and Time<='2021-03-01 10:00:00' and id='0012AB34'");
    EXPECT_EQ(TimeRangeWhere(*range, ""), "Time>'2021-03-01 09:00:00' and Time<='2021-03-01 10:00:00' and id=''");
    EXPECT_EQ(TimeRangeWhere(*range, "0012AB34' or '1'='1"), "");  // refused, never pasted

    EXPECT_TRUE(SelectTimeRange(day, ten, day, ten));  // equal passes
    EXPECT_EQ(boxes->Count(), 0u);
    EXPECT_FALSE(SelectTimeRange(day, OleDateTime(1899, 12, 30, 10, 0, 1), day, ten));
    ASSERT_EQ(boxes->Count(), 1u);
    EXPECT_EQ(boxes->Entries()[0].text, "Time Error");
    EXPECT_EQ(boxes->Entries()[0].icon, MsgIcon::Stop);

    // An invalid value passes the check; its components print as -1 and the clause is refused.
    const OleDateTime bad(0.0, OleDateTime::invalid);
    const auto loose = SelectTimeRange(bad, nine, day, ten);
    ASSERT_TRUE(loose);
    EXPECT_EQ(loose->startText, "-001--1--1 09:00:00");
    EXPECT_EQ(TimeRangeWhere(*loose, "0012AB34"), "");
    EXPECT_EQ(boxes->Count(), 1u);
}
