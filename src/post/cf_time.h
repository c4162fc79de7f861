// The time coordinate of an exported file as CF readers want it: "<unit>
// since <date>" with a calendar, so that xarray, cftime and ParaView turn the
// record times into dates without being told how.
//
// A model has no date, only times counted in its time unit. Its time 0 is
// written as 1970-01-01 00:00:00: the epoch every reader decodes to its
// native date type, with room for about 290 years of model time either way
// before xarray falls back to cftime. A decoded time minus that date is the
// model time; the numbers in the file are the record times, unchanged.
#pragma once

#include <string>

struct CCfTime {
    // "days since 1970-01-01 00:00:00"; the model's own label when it has no
    // CF name a reader decodes; empty when the model gives no time unit.
    std::string m_units;
    std::string m_calendar; // empty with no reference date
    std::string m_comment;  // what a reader of the time axis should know
};

// The CF time of a model time unit label ("d", "h", "yr", ...).
CCfTime CfTime(const std::string& timeUnit);
