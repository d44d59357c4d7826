#pragma once
// A date-time as the program's data formats know it: a DATE (days since 30 December 1899,
// the fraction being the time of day) with a status. Dates before 1899-12-30 use the DATE
// convention of a negative whole part and a positive fraction.
#include <cstdint>
#include <string>
#include <string_view>

struct OleDateTimeFields {
    int year = -1, month = -1, day = -1, hour = -1, minute = -1, second = -1;
};

// A DATE as a continuous count of days since 1899-12-30: before that day a DATE's whole part
// counts backwards while its fraction still runs forwards (-1.25 is 1899-12-29 06:00, day -0.75).
double DateToLinear(double date);

class OleDateTime {
public:
    enum DateTimeStatus { valid = 0, invalid = 1, null = 2 };

    OleDateTime() = default;  // 0.0, valid
    OleDateTime(double date, DateTimeStatus status);
    // Valid only when the six fields convert to a DATE and back to the same six fields.
    OleDateTime(int year, int month, int day, int hour, int minute, int second);

    static OleDateTime GetCurrentTime();  // local time, to the second

    double m_dt = 0.0;
    DateTimeStatus m_status = valid;

    DateTimeStatus GetStatus() const { return m_status; }
    bool IsValid() const { return m_status == valid; }

    // Equal when both are valid and less than half a second apart, or both null; never equal to
    // an invalid value.
    bool operator==(const OleDateTime& other) const;
    bool operator!=(const OleDateTime& other) const { return !(*this == other); }
    // Strict, without tolerance; false when either is not valid.
    bool operator<(const OleDateTime& other) const;
    bool operator>(const OleDateTime& other) const;

    // Adds a signed count of seconds to the DATE; the status is kept.
    OleDateTime AddSeconds(std::int64_t seconds) const;

    // The six fields rounded to the nearest second. False (all fields -1) when the DATE lies
    // outside the convertible range (years 100..9999) or is not a number. Ignores the status.
    bool GetFields(OleDateTimeFields& fields) const;

    // "%d-%02d-%02d %02d:%02d:%02d" of the rounded fields; "-1--1--1 -1:-1:-1" when unusable.
    // This form ignores the status; FormatChecked prints -1 fields for a value that is not valid.
    std::string Format() const;
    std::string FormatChecked() const;

    // Parses the text forms the program writes ("2024-02-01 09:05:03", also "/" as date separator,
    // the time or the seconds left out). A text that is no date at all gives invalid with DATE 0;
    // a date-like text whose fields do not form a date gives invalid with DATE -1.0.
    static OleDateTime Parse(std::string_view text);

    // Six fields to DATE without any check (the caller validates).
    static double FieldsToDate(int year, int month, int day, int hour, int minute, int second);
};

// "YYYY-MM-DD hh:mm:ss" with digits where the form has them, the form the program stores and
// searches with; whether the fields make a date is not checked.
bool IsDateTimeForm(std::string_view text);

// Parses texts one after another, each exactly as OleDateTime::Parse does. The rows of a search
// come day by day in the form "YYYY-MM-DD hh:mm:ss": the date of such a run is checked once, not
// for every row.
class OleDateTimeParser {
public:
    OleDateTime operator()(std::string_view text);

private:
    char m_day[10] = {};  // "YYYY-MM-DD" of the last valid text of that form
    int m_year = 0, m_month = 0, m_dayOfMonth = 0;
    bool m_bKnown = false;
};
