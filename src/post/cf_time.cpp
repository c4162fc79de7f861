#include "post/cf_time.h"

namespace {

constexpr const char* REFERENCE = "1970-01-01 00:00:00";

struct CCfUnit {
    const char* m_labels[4];
    const char* m_name;
    const char* m_calendar;
};

// Only units that xarray and cftime decode. A year is udunits' common_year,
// 365 days, with the 365_day calendar, in which it is one calendar year
// exactly: xarray cannot decode "years since" (udunits' tropical year) at all.
// Weeks and months have no such unit and stay the model's labels.
constexpr CCfUnit CF_UNITS[] = {
    {{"d", "day", "days"}, "days", "standard"},
    {{"h", "hr", "hour", "hours"}, "hours", "standard"},
    {{"min", "minute", "minutes"}, "minutes", "standard"},
    {{"s", "sec", "second", "seconds"}, "seconds", "standard"},
    {{"ms", "millisecond", "milliseconds"}, "milliseconds", "standard"},
    {{"a", "yr", "year", "years"}, "common_years", "365_day"},
};

const CCfUnit* Find(const std::string& label) {
    for (const CCfUnit& unit : CF_UNITS)
        for (const char* known : unit.m_labels)
            if (known != nullptr && label == known)
                return &unit;
    return nullptr;
}

} // namespace

CCfTime CfTime(const std::string& timeUnit) {
    CCfTime time;
    if (timeUnit.empty()) {
        time.m_comment = "model time; the model gives no time unit (units.time of the "
                         "extension file), so the times carry none";
        return time;
    }
    const CCfUnit* unit = Find(timeUnit);
    if (unit == nullptr) {
        time.m_units = timeUnit;
        time.m_comment = "model time in " + timeUnit +
                         ", a unit with no CF name that "
                         "readers decode, so it has no reference date";
        return time;
    }
    time.m_units = std::string(unit->m_name) + " since " + REFERENCE;
    time.m_calendar = unit->m_calendar;
    time.m_comment = "model time in " + timeUnit + "; the model has no date, so " + REFERENCE +
                     " stands for time 0: a time minus it is the model time";
    if (std::string(unit->m_name) == "common_years")
        time.m_comment += "; a year counts 365 days";
    return time;
}
