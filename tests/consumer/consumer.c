/* A C program that uses the installed libkeltools through its one header. */
#include <keltools.h>

#include <limits.h>
#include <stdio.h>
#include <string.h>

static int failures;

static void check(int ok, const char *what)
{
    if (!ok) {
        fprintf(stderr, "consumer (C): %s failed\n", what);
        failures++;
    }
}

static int cmp_int(const void *a, const void *b)
{
    int x = *(const int *)a, y = *(const int *)b;
    return (x > y) - (x < y);
}

int main(void)
{
    char small[8], name[260];
    char *end;
    const char *number = " +42abc";
    int runs[] = {1, 1, 2, 3, 3, 3, 4};
    int kept;

    /* Cut to 7 characters, but the full length comes back. */
    check(snprintf1(small, sizeof small, "%s-%d", "trade", 2013) == 10, "snprintf1 length");
    check(strcmp(small, "trade-2") == 0, "snprintf1 text");
    snprintf1(name, sizeof name, "report-%d.html", 2013);
    check(strcmp(name, "report-2013.html") == 0, "snprintf1 name");

    check(fnmatch1("sdelki*.xls", "SDELKI_2013.XLS", FNMATCH1_CASEFOLD) == 0, "fnmatch1 casefold");
    check(fnmatch1("sdelki*.xls", "SDELKI.XLS", 0) == FNMATCH1_NOMATCH, "fnmatch1 exact case");
    check(fnmatch1("sdelki*.xls", "my_sdelki.xls", FNMATCH1_CASEFOLD) == FNMATCH1_NOMATCH,
          "fnmatch1 anchored");

    check(strtoq1(number, &end, 10) == 42 && end == number + 4, "strtoq1 decimal");
    check(strtoq1("9223372036854775808", NULL, 10) == LLONG_MAX, "strtoq1 saturation");

    check(strcmp(insert_commas2(4294967295u), "4,294,967,295") == 0, "insert_commas2 max");
    check(strcmp(insert_commas2(0), "0") == 0, "insert_commas2 zero");

    kept = uniq(runs, 7, sizeof runs[0], cmp_int);
    check(kept == 4 && runs[0] == 1 && runs[1] == 2 && runs[2] == 3 && runs[3] == 4, "uniq");

    if (failures)
        return 1;
    printf("consumer (C): ok\n");
    return 0;
}
