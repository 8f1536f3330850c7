// The proleptic Gregorian calendar in days counted from 1970-01-01, defined
// in datetime.cpp; included by it and by compat.h, whose Windows gmtime_r
// breaks times down with it.
#pragma once

namespace keltools_internal {

struct civil_date {
    long long year;
    int month;        // 1-12
    int day;          // 1-31
    int day_of_year;  // 0-365
};

// Days from 1970-01-01 to the given day (month 1-12, day 1-31).
long long days_from_civil(long long year, int month, int day);

// The day that lies the given number of days after 1970-01-01.
civil_date civil_from_days(long long days);

}  // namespace keltools_internal
