// Forced into every test program built for Windows: the POSIX calls the tests
// use for setting up, from the library's compatibility header and from here.
#pragma once

#include "../../keltools/src/compat.h"

#include <cstdlib>
#include <ctime>

inline int setenv(const char *name, const char *value, int overwrite)
{
    if (!overwrite && getenv(name))
        return 0;
    return _putenv_s(name, value);
}

inline int unsetenv(const char *name)
{
    return _putenv_s(name, "");
}

inline void tzset()
{
    _tzset();
}

// The UTC calendar fields of tm as a time, for any year.
inline time_t timegm(struct tm *tm)
{
    long long year = 1900LL + tm->tm_year + tm->tm_mon / 12;
    int month = tm->tm_mon % 12;
    if (month < 0)
        month += 12, year--;
    long long y = month < 2 ? year - 1 : year;
    long long era = (y >= 0 ? y : y - 399) / 400;
    long long yoe = y - era * 400;
    long long doy = (153 * (month + (month > 1 ? -2 : 10)) + 2) / 5 + tm->tm_mday - 1;
    long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    long long days = era * 146097 + doe - 719468;
    return (time_t)(days * 86400 + tm->tm_hour * 3600LL + tm->tm_min * 60LL + tm->tm_sec);
}

inline int pipe(int fds[2])
{
    return _pipe(fds, 4096, O_BINARY);
}
