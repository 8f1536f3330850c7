// datetime: timestamp text, date-time parsing, conversion and pretty printing.

#include "keltools.h"

#include <ctime>

/* ---- timestamp ---- */

char *datetime(void)
{
    static char buffer[30];
    time_t now = time(NULL);
    struct tm tm_now;
    if (localtime_r(&now, &tm_now) == NULL) {
        buffer[0] = '\0';
        return buffer;
    }
    snprintf1(buffer, sizeof buffer, "%02u/%02u/%04u %02u:%02u:%02u", (unsigned)tm_now.tm_mday,
              (unsigned)(tm_now.tm_mon + 1), (unsigned)(tm_now.tm_year + 1900),
              (unsigned)tm_now.tm_hour, (unsigned)tm_now.tm_min, (unsigned)tm_now.tm_sec);
    return buffer;
}

/* ---- date-time parsing, conversion and pretty printing ---- */


