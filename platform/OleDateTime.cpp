#include "platform/OleDateTime.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

constexpr double kSecondsPerDay = 86400.0;
constexpr double kHalfSecond = 0.5 / kSecondsPerDay;
// Day numbers (days since 1899-12-30) of 0100-01-01 and 9999-12-31, the convertible range.
constexpr std::int64_t kMinDay = -657434;
constexpr std::int64_t kMaxDay = 2958465;

// Days since 1970-01-01 of a proleptic Gregorian date (month 1..12).
std::int64_t DaysFromCivil(std::int64_t y, int m, int d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

const std::int64_t kEpochOffset = DaysFromCivil(1899, 12, 30);

double LinearToDate(double linear)
{
    if (linear >= 0.0) return linear;
    const double whole = std::floor(linear);
    const double frac = linear - whole;
    // Back from the continuous count: day -1 at 06:00 (-0.75) is the DATE -1.25.
    return whole - frac;
}

bool FieldsInRange(int year, int month, int day, int hour, int minute, int second)
{
    return year >= 100 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour >= 0 &&
           hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}

std::string FormatFields(const OleDateTimeFields& f)
{
    char text[80];
    std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day, f.hour, f.minute, f.second);
    return text;
}

}  // namespace

double DateToLinear(double date)
{
    if (date >= 0.0) return date;
    const double whole = std::trunc(date);
    return whole + (whole - date);
}

OleDateTime::OleDateTime(double date, DateTimeStatus status) : m_dt(date), m_status(status) {}

OleDateTime::OleDateTime(int year, int month, int day, int hour, int minute, int second)
{
    m_status = invalid;
    m_dt = 0.0;
    if (!FieldsInRange(year, month, day, hour, minute, second)) return;
    const double date = FieldsToDate(year, month, day, hour, minute, second);
    OleDateTimeFields back;
    if (!OleDateTime(date, valid).GetFields(back)) return;
    if (back.year != year || back.month != month || back.day != day || back.hour != hour || back.minute != minute ||
        back.second != second)
        return;
    m_dt = date;
    m_status = valid;
}

double OleDateTime::FieldsToDate(int year, int month, int day, int hour, int minute, int second)
{
    // Months outside 1..12 roll into neighbouring years, as the Win32 conversion would accept.
    std::int64_t y = year;
    std::int64_t m0 = static_cast<std::int64_t>(month) - 1;
    y += m0 >= 0 ? m0 / 12 : -((11 - m0) / 12);
    m0 -= (m0 >= 0 ? m0 / 12 : -((11 - m0) / 12)) * 12;
    const std::int64_t days =
        DaysFromCivil(y, static_cast<int>(m0 + 1), 1) + (static_cast<std::int64_t>(day) - 1) - kEpochOffset;
    const double time = (static_cast<double>(hour) * 3600.0 + minute * 60.0 + second) / kSecondsPerDay;
    return LinearToDate(static_cast<double>(days) + time);
}

OleDateTime OleDateTime::GetCurrentTime()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!localtime_r(&now, &local)) return OleDateTime(0.0, invalid);
    return OleDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                       local.tm_sec > 59 ? 59 : local.tm_sec);
}

bool OleDateTime::operator==(const OleDateTime& other) const
{
    if (m_status == valid && other.m_status == valid)
        return std::fabs(DateToLinear(m_dt) - DateToLinear(other.m_dt)) < kHalfSecond;
    // Two null values are the same "no value".
    return m_status == null && other.m_status == null;
}

bool OleDateTime::operator<(const OleDateTime& other) const
{
    return m_status == valid && other.m_status == valid && DateToLinear(m_dt) < DateToLinear(other.m_dt);
}

bool OleDateTime::operator>(const OleDateTime& other) const
{
    return m_status == valid && other.m_status == valid && DateToLinear(m_dt) > DateToLinear(other.m_dt);
}

OleDateTime OleDateTime::AddSeconds(std::int64_t seconds) const
{
    const double linear = DateToLinear(m_dt) + static_cast<double>(seconds) / kSecondsPerDay;
    return OleDateTime(LinearToDate(linear), m_status);
}

bool OleDateTime::GetFields(OleDateTimeFields& fields) const
{
    fields = OleDateTimeFields{};
    if (!std::isfinite(m_dt)) return false;
    const double linear = DateToLinear(m_dt);
    // Coarse bound first so that the conversion to an integer cannot overflow.
    if (linear < static_cast<double>(kMinDay) - 1.0 || linear > static_cast<double>(kMaxDay) + 2.0) return false;
    const std::int64_t total = std::llround(linear * kSecondsPerDay);
    std::int64_t days = total / 86400;
    std::int64_t secs = total % 86400;
    if (secs < 0) {
        secs += 86400;
        --days;
    }
    if (days < kMinDay || days > kMaxDay) return false;
    CivilFromDays(days + kEpochOffset, fields.year, fields.month, fields.day);
    fields.hour = static_cast<int>(secs / 3600);
    fields.minute = static_cast<int>(secs / 60 % 60);
    fields.second = static_cast<int>(secs % 60);
    return true;
}

std::string OleDateTime::Format() const
{
    OleDateTimeFields fields;
    GetFields(fields);
    return FormatFields(fields);
}

std::string OleDateTime::FormatChecked() const
{
    if (m_status != valid) return FormatFields(OleDateTimeFields{});
    return Format();
}

OleDateTime OleDateTime::Parse(std::string_view text)
{
    // Grammar: Y{-|/}M{-|/}D [blanks H:M[:S]], surrounded by optional blanks. Anything else is no
    // date at all; a text of that shape whose numbers do not form a date is a failed date.
    const OleDateTime noDate(0.0, invalid);
    const OleDateTime badDate(-1.0, invalid);
    std::size_t pos = 0;
    const std::size_t n = text.size();
    auto skipBlanks = [&] {
        while (pos < n && std::isspace(static_cast<unsigned char>(text[pos]))) ++pos;
    };
    // Reads one or more digits; a very long number saturates and then fails the field check.
    auto number = [&](int& value) {
        const std::size_t start = pos;
        long long v = 0;
        while (pos < n && std::isdigit(static_cast<unsigned char>(text[pos]))) {
            if (v < 100000) v = v * 10 + (text[pos] - '0');
            ++pos;
        }
        value = static_cast<int>(v);
        return pos > start;
    };

    skipBlanks();
    int year, month, day, hour = 0, minute = 0, second = 0;
    if (!number(year)) return noDate;
    if (pos >= n || (text[pos] != '-' && text[pos] != '/')) return noDate;
    ++pos;
    if (!number(month)) return noDate;
    if (pos >= n || (text[pos] != '-' && text[pos] != '/')) return noDate;
    ++pos;
    if (!number(day)) return noDate;
    const std::size_t afterDate = pos;
    skipBlanks();
    if (pos < n) {
        if (pos == afterDate) return noDate;  // the time must be set apart by a blank
        if (!number(hour)) return noDate;
        if (pos >= n || text[pos] != ':') return noDate;
        ++pos;
        if (!number(minute)) return noDate;
        if (pos < n && text[pos] == ':') {
            ++pos;
            if (!number(second)) return noDate;
        }
        skipBlanks();
        if (pos < n) return noDate;
    }
    const OleDateTime result(year, month, day, hour, minute, second);
    return result.IsValid() ? result : badDate;
}

namespace {

bool Digits(std::string_view text, std::size_t at, std::size_t count)
{
    for (std::size_t i = at; i < at + count; ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

int Number(std::string_view text, std::size_t at, std::size_t count)
{
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) value = value * 10 + (text[i] - '0');
    return value;
}

}  // namespace

bool IsDateTimeForm(std::string_view text)
{
    return text.size() == 19 && Digits(text, 0, 4) && text[4] == '-' && Digits(text, 5, 2) && text[7] == '-' &&
           Digits(text, 8, 2) && text[10] == ' ' && Digits(text, 11, 2) && text[13] == ':' && Digits(text, 14, 2) &&
           text[16] == ':' && Digits(text, 17, 2);
}

OleDateTime OleDateTimeParser::operator()(std::string_view text)
{
    const bool usual = IsDateTimeForm(text);
    if (usual && m_bKnown && text.compare(0, sizeof m_day, std::string_view(m_day, sizeof m_day)) == 0) {
        // A valid date with a time of day within its ranges is valid.
        const int hour = Number(text, 11, 2), minute = Number(text, 14, 2), second = Number(text, 17, 2);
        if (hour <= 23 && minute <= 59 && second <= 59)
            return OleDateTime(OleDateTime::FieldsToDate(m_year, m_month, m_dayOfMonth, hour, minute, second),
                               OleDateTime::valid);
    }
    const OleDateTime result = OleDateTime::Parse(text);
    m_bKnown = usual && result.IsValid();
    if (m_bKnown) {
        text.copy(m_day, sizeof m_day);
        m_year = Number(text, 0, 4);
        m_month = Number(text, 5, 2);
        m_dayOfMonth = Number(text, 8, 2);
    }
    return result;
}
