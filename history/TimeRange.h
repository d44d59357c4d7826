#pragma once
// The time-range selection of the history and graph dialogs: four picker values (start date,
// start time of day, end date, end time of day), the default of the last hour, the start-after-end
// check and the WHERE clause of a search.
#include <ctime>
#include <optional>
#include <string>

#include "platform/OleDateTime.h"

// The default start: T = now - 3600 s as local time; the date at 00:00:00 and 30 December 1899
// at T's hour, minute and second. When T does not convert to local time both come out invalid.
void DefaultStartRange(OleDateTime& startDate, OleDateTime& startTime);
void DefaultStartRange(std::time_t now, OleDateTime& startDate, OleDateTime& startTime);

// Year, month and day of date with hour, minute and second of timeOfDay. The components of an
// invalid value are -1, and a combination that does not convert is invalid.
OleDateTime CombineDateTime(const OleDateTime& date, const OleDateTime& timeOfDay);

// "%04d-%02d-%02d %02d:%02d:%02d" from the date's and the time of day's components.
std::string RangeText(const OleDateTime& date, const OleDateTime& timeOfDay);

// Both valid and start strictly later than end; equal times and invalid values pass.
bool IsStartAfterEnd(const OleDateTime& start, const OleDateTime& end);

// The "Time Error" box (stop icon).
void ShowTimeError();

struct TimeRange {
    OleDateTime start, end;          // combined values
    std::string startText, endText;  // as the WHERE clause compares them
};

// Combines and checks the four values. Start after end: shows "Time Error" and gives nothing.
std::optional<TimeRange> SelectTimeRange(const OleDateTime& startDate, const OleDateTime& startTime,
                                         const OleDateTime& endDate, const OleDateTime& endTime);

// "Time>'start' and Time<='end' and id='device'"; "" when the device ID or a time text is
// malformed (the database layer then refuses the query).
std::string TimeRangeWhere(const TimeRange& range, const std::string& deviceId);
