#include "history/TimeRange.h"

#include <cstdio>

#include "database/CDB.h"
#include "platform/MessageBox.h"
#include "platform/StringTable.h"
#include "resources/resource.h"

namespace {

OleDateTimeFields FieldsOf(const OleDateTime& value)
{
    OleDateTimeFields fields;  // all -1
    if (value.IsValid() && !value.GetFields(fields)) fields = OleDateTimeFields{};
    return fields;
}

}  // namespace

void DefaultStartRange(OleDateTime& startDate, OleDateTime& startTime)
{
    DefaultStartRange(std::time(nullptr), startDate, startTime);
}

void DefaultStartRange(std::time_t now, OleDateTime& startDate, OleDateTime& startTime)
{
    const std::time_t start = now - 3600;
    std::tm local{};
    int year = 0, month = 0, day = 0, hour = -1, minute = -1, second = -1;
    if (localtime_r(&start, &local)) {
        year = local.tm_year + 1900;
        month = local.tm_mon + 1;
        day = local.tm_mday;
        hour = local.tm_hour;
        minute = local.tm_min;
        second = local.tm_sec > 59 ? 59 : local.tm_sec;  // a leap second
    }
    startDate = OleDateTime(year, month, day, 0, 0, 0);
    startTime = OleDateTime(1899, 12, 30, hour, minute, second);
}

OleDateTime CombineDateTime(const OleDateTime& date, const OleDateTime& timeOfDay)
{
    const OleDateTimeFields d = FieldsOf(date), t = FieldsOf(timeOfDay);
    return OleDateTime(d.year, d.month, d.day, t.hour, t.minute, t.second);
}

std::string RangeText(const OleDateTime& date, const OleDateTime& timeOfDay)
{
    const OleDateTimeFields d = FieldsOf(date), t = FieldsOf(timeOfDay);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day, t.hour, t.minute,
                  t.second);
    return text;
}

bool IsStartAfterEnd(const OleDateTime& start, const OleDateTime& end)
{
    return start.IsValid() && end.IsValid() && start > end;
}

void ShowTimeError() { AfxMessageBox(LoadString(IDS_TIME_ERROR), MsgButtons::Ok, MsgIcon::Stop); }

std::optional<TimeRange> SelectTimeRange(const OleDateTime& startDate, const OleDateTime& startTime,
                                         const OleDateTime& endDate, const OleDateTime& endTime)
{
    TimeRange range;
    range.start = CombineDateTime(startDate, startTime);
    range.end = CombineDateTime(endDate, endTime);
    if (IsStartAfterEnd(range.start, range.end)) {
        ShowTimeError();
        return std::nullopt;
    }
    range.startText = RangeText(startDate, startTime);
    range.endText = RangeText(endDate, endTime);
    return range;
}

std::string TimeRangeWhere(const TimeRange& range, const std::string& deviceId)
{
    return WhereDeviceRange(range.startText, range.endText, deviceId);
}
