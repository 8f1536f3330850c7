/* The library header must compile as plain C and link from a C program. */
#include "keltools.h"

#include <string.h>

int main(void)
{
    char buf[32];
    snprintf1(buf, sizeof buf, "%d", 42);
    return strcmp(buf, "42") != 0 || fnmatch1("a*", "abc", 0) != 0;
}
